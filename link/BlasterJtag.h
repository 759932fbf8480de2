// The USB-Blaster byte protocol and the fixed JTAG walks of the uploads.
//
// Everything that goes to the cable is a stream of bytes of two kinds, told apart
// by bit 7:
//
//   Bit-bang byte (bit 7 = 0) sets the cable's JTAG outputs directly:
//     bit 0 TCK, bit 1 TMS, bit 2 nCE (always 1), bit 3 nCS (always 1),
//     bit 4 TDI, bit 5 output enable / LED, bit 6 read back TDO (never used).
//   Byte-shift command (bit 7 = 1): bit 6 asks for read-back, bits 5..0 give the
//     number of bytes that follow. The cable clocks each of them out on TDI, least
//     significant bit first, one TCK pulse per bit, TMS held at the level the last
//     bit-bang byte set. We only use 0x81: one byte follows, nothing is read back.
//     Packed mode (--packed) sends the data of an upload as commands of up to 63
//     bytes: link/PackedShift.h.
//
// One TAP clock is two bit-bang bytes with the same value, TCK low then high; the
// TAP samples TMS and TDI on the rising edge.
//
// The board is one device with a 10-bit instruction register. Each instruction goes
// in as one shifted byte and two 0 bits. USER1 (0x00E) gets the 9-bit value 0x100,
// then USER0 (0x00C) is selected and its data register takes the upload; the last
// bit of every scan is shifted by the clock that leaves the shift state (0 for
// instruction scans, 1 for data scans).
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "cable/Cable.h"

namespace tunlet {

namespace blaster {
constexpr std::uint8_t kTck = 0x01;
constexpr std::uint8_t kTms = 0x02;
constexpr std::uint8_t kNce = 0x04;
constexpr std::uint8_t kNcs = 0x08;
constexpr std::uint8_t kTdi = 0x10;
constexpr std::uint8_t kOutputEnable = 0x20;
constexpr std::uint8_t kReadBack = 0x40;
constexpr std::uint8_t kShiftMode = 0x80;

constexpr std::uint8_t kShiftOne = kShiftMode | 1;  // 0x81: shift the one byte that follows

// The first byte of each clock pair (TCK low); the second is the same with kTck.
constexpr std::uint8_t kStepLow = kOutputEnable | kNcs | kNce;         // 0x2C: TMS 0
constexpr std::uint8_t kStepHigh = kStepLow | kTms;                    // 0x2E: TMS 1
constexpr std::uint8_t kExitOne = kStepHigh | kTdi;                    // 0x3E: TMS 1, last bit 1
constexpr std::uint8_t kRelease = kNcs | kNce;                         // 0x0C: TMS 0, outputs off
}  // namespace blaster

// The upload instructions of the board's 10-bit instruction register.
constexpr std::uint8_t kUser0 = 0x0C;
constexpr std::uint8_t kUser1 = 0x0E;

// A data byte on the cable: 0x81 then the byte, kept in memory as the 16-bit
// little-endian word (b << 8) | 0x81, so that an array of words is exactly the cable
// bytes for a run of data bytes.
using ShiftWord = std::uint16_t;
static_assert(std::endian::native == std::endian::little, "shift words are laid out little-endian");
constexpr ShiftWord MakeShiftWord(unsigned b) {
    return static_cast<ShiftWord>(((b & 0xFF) << 8) | blaster::kShiftOne);
}

// The fixed walks, each sent in one write. Each returns FT_OK only when the write
// succeeded and every byte went out; anything else means the stream is broken.
FT_STATUS ResetTap(FT_HANDLE h);      // any state -> Test-Logic-Reset -> Run-Test/Idle
FT_STATUS GoShiftIr(FT_HANDLE h);     // Run-Test/Idle -> Shift-IR
FT_STATUS ShiftIrByte(FT_HANDLE h, unsigned b);  // 8 bits of b, then one 0 bit; stays in Shift-IR
FT_STATUS IrToShiftDr(FT_HANDLE h);   // last IR bit 0 -> Update-IR -> Shift-DR
FT_STATUS ShiftByte(FT_HANDLE h, unsigned b);    // 8 bits of b, stays in Shift-DR (or Shift-IR)
FT_STATUS DrToShiftIr(FT_HANDLE h);   // last DR bit 1 -> Update-DR -> Shift-IR
FT_STATUS EndShiftDr(FT_HANDLE h);    // last DR bit 1 -> Update-DR -> Run-Test/Idle, outputs released
// After a broken stream: whatever the cable and the TAP were doing, ends in
// Run-Test/Idle with the outputs released. Its first byte is taken as the data byte
// of a shift command that lost its own, and as a harmless bit-bang byte otherwise.
FT_STATUS RecoverTap(FT_HANDLE h);

// Selects USER0 for streaming: reset, USER1 <- 0x100, USER0 instruction; ends in
// Shift-DR. Stops at the first walk that fails and returns its status.
FT_STATUS BeginUserScan(FT_HANDLE h);

// Cable bytes of BeginUserScan, EndShiftDr and RecoverTap.
constexpr std::size_t kBeginUserScanBytes = 62;
constexpr std::size_t kEndShiftDrBytes = 6;
constexpr std::size_t kRecoverTapBytes = 15;

}  // namespace tunlet
