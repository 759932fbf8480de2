// The USB-Blaster byte protocol and the fixed JTAG walks of the uploads.
//
// Everything that goes to the cable is a stream of bytes of two kinds, told apart
// by bit 7:
//
//   Bit-bang byte (bit 7 = 0) sets the cable's JTAG outputs directly:
//     bit 0 TCK, bit 1 TMS, bit 2 nCE (always 1), bit 3 nCS (always 1),
//     bit 4 TDI, bit 5 output enable / LED, bit 6 read back TDO.
//   Byte-shift command (bit 7 = 1): bit 6 asks for read-back, bits 5..0 give the
//     number of bytes that follow. The cable clocks each of them out on TDI, least
//     significant bit first, one TCK pulse per bit, TMS held at the level the last
//     bit-bang byte set. The uploads use 0x81: one byte follows, nothing is read
//     back. Packed mode (--packed) sends the data of an upload as commands of up to
//     63 bytes: link/PackedShift.h.
//   TCK before a command: the default stream starts the 0x81 after a walk right
//     after the walk's last byte (0x2D, TCK high), exactly as the board has always
//     been given it. Everything else (packed commands, read-back) never starts a
//     command with TCK high: one 0x2C (TMS 0, TCK falls, no TAP clock) goes first.
//
// One TAP clock is two bit-bang bytes with the same value, TCK low then high; the
// TAP samples TMS and TDI on the rising edge.
//
// Read-back (only the board check before an upload and tunlet-cli scan read):
//   Byte-shift command with bit 6 set (0xC0 | n, n <= 63): the cable answers n
//     bytes, each the 8 TDO bits sampled while its data byte was shifted, the first
//     bit in bit 0.
//   Bit-bang byte with bit 6 set: the cable answers one byte, TDO in bit 0. We set
//     it on the TCK-high byte of a clock, as other JTAG tools do: it reads the bit
//     that clock shifted out.
//   The last bit of a scan goes out bit-bang with TMS 1.
//
// The FPGA has a 10-bit instruction register. Each instruction goes in as one
// shifted byte and two 0 bits. USER1 (0x00E) gets the 9-bit value 0x100, then USER0
// (0x00C) is selected and its data register takes the upload; the last bit of every
// scan is shifted by the clock that leaves the shift state (0 for instruction scans,
// 1 for data scans).
//
// A chain of several devices. TDI enters the device nearest the cable's TDI, each
// device's TDO feeds the next one's TDI, and the one nearest TDO answers first
// (device 1 as tunlet-cli scan numbers them):
//
//   cable TDI --> [device 3] --> [FPGA, device 2] --> [device 1] --> cable TDO
//                 nearer TDI                           nearer TDO
//
// The bits shifted first travel furthest: they end in the devices nearer TDO.
//   Instruction scans: the IRs of the devices nearer TDO (all ones: BYPASS), then the
//     FPGA's 10 bits, then the IRs of the devices nearer TDI (ones); the last bit
//     leaves Shift-IR. Every other device latches BYPASS at Update-IR.
//   Register scans (USER1's 0x100, the hub's registers): one bit for each bypassed
//     device nearer TDO first, then the FPGA's bits, then one bit for each device
//     nearer TDI, so that every register holds its own bits at Update-DR. Reads
//     skip the one bit each device nearer TDO puts ahead of the FPGA's answer.
//   The USER0 upload is a stream, not a register: the design takes each bit as it
//     reaches the FPGA's TDI, so nothing may go ahead of the data. Devices nearer
//     TDO see the stream only after the FPGA and need nothing. Each device nearer
//     TDI delays it by one clock: the data and its closing 1 bit are followed by
//     one more 1 bit per such device (TMS low), the last of them leaving Shift-DR,
//     so that every bit reaches the FPGA. Such a device also hands the FPGA the 0
//     its BYPASS register captured, once, ahead of the stream: no host can avoid
//     that, so tunlet-cli scan and play say so.
//   A chain of one device (the FPGA alone) gets exactly the walks below, write for
//     write.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <vector>

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
constexpr std::uint8_t kShiftRead = kShiftMode | kReadBack;  // | n: shift n bytes, answer n bytes
constexpr std::size_t kMaxShiftBytes = 63;
constexpr std::uint8_t kShiftCountMask = 0x3F;  // bits 5..0: data bytes after a command
static_assert(kMaxShiftBytes == kShiftCountMask);

// The first byte of each clock pair (TCK low); the second is the same with kTck.
constexpr std::uint8_t kStepLow = kOutputEnable | kNcs | kNce;         // 0x2C: TMS 0
constexpr std::uint8_t kStepHigh = kStepLow | kTms;                    // 0x2E: TMS 1
constexpr std::uint8_t kExitOne = kStepHigh | kTdi;                    // 0x3E: TMS 1, last bit 1
constexpr std::uint8_t kRelease = kNcs | kNce;                         // 0x0C: TMS 0, outputs off
}  // namespace blaster

// The upload instructions of the board's 10-bit instruction register, and what
// uploads load into USER1: 0x100 in 9 bits, the first bit shifted least significant.
constexpr unsigned kIrBits = 10;
constexpr std::uint8_t kUser0 = 0x0C;
constexpr std::uint8_t kUser1 = 0x0E;
constexpr std::uint32_t kUser1Value = 0x100;
constexpr unsigned kUser1Bits = 9;

// A data byte on the cable: 0x81 then the byte, kept in memory as the 16-bit
// little-endian word (b << 8) | 0x81, so that an array of words is exactly the cable
// bytes for a run of data bytes.
using ShiftWord = std::uint16_t;
static_assert(std::endian::native == std::endian::little, "shift words are laid out little-endian");
constexpr ShiftWord MakeShiftWord(unsigned b) {
    return static_cast<ShiftWord>(((b & 0xFF) << 8) | blaster::kShiftOne);
}

// Where the FPGA sits in the chain (see above); the default is the FPGA alone.
struct ChainTarget {
    unsigned devicesBefore = 0;  // devices nearer TDO
    unsigned devicesAfter = 0;   // devices nearer TDI
    unsigned irBefore = 0;       // their instruction bits
    unsigned irAfter = 0;
    bool Alone() const { return devicesBefore == 0 && devicesAfter == 0; }
    bool operator==(const ChainTarget&) const = default;
};

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
// The same for an FPGA among other devices: every other device in BYPASS and
// USER1's value padded as a register; one write. For the FPGA alone, BeginUserScan.
FT_STATUS BeginUserScanAt(FT_HANDLE h, const ChainTarget& target);
// Ends the upload's stream: one more 1 bit for each device nearer TDI, then
// EndShiftDr (which alone is what the FPGA alone gets).
FT_STATUS EndShiftDrAt(FT_HANDLE h, const ChainTarget& target);

// Cable bytes gathered before they go out, with the read-back they ask for and
// TCK followed as the cable would: the scans that read (the board check, tunlet-cli
// scan) and the writes of packed mode are built here. The fixed walks write into it
// as into a cable (ResetTap(&batch)).
class CableBatch : public CableDevice {
public:
    CableBatch() = default;
    explicit CableBatch(std::size_t reserve) { bytes_.reserve(reserve); }

    // Appends the bytes, following the commands and bit-bang bytes among them; a
    // shift command that would start with TCK high gets a 0x2C in front.
    FT_STATUS Write(const void* buffer, DWORD count, DWORD* written) override;
    // One TAP clock; read asks for the TDO bit it shifts out.
    void Clock(bool tms, bool tdi = false, bool read = false);
    // One clock with TMS low that releases the outputs (Update-DR -> Run-Test/Idle).
    void ReleaseClock();
    // Shifts count bytes (TMS low, each the value tdi), as 0x81 commands or, with
    // read, as 0xC0 | n commands whose answers come back.
    void ShiftBytes(std::size_t count, std::uint8_t tdi, bool read);
    // Shifts n data bytes as commands of up to 63 bytes (packed mode).
    void ShiftRun(const std::uint8_t* data, std::size_t n);
    // One scan from its shift state: `before` pad bits, the `bits` low bits of value
    // (whole bytes as 0x81 commands, the rest clock by clock), `after` pad bits; the
    // last bit of all leaves the shift state (TMS 1). Pads are ones when padOnes.
    void ShiftScan(unsigned before, std::uint64_t value, unsigned bits, unsigned after, bool padOnes);
    // The instruction of a 10-bit IR from Shift-IR with every other IR of the chain
    // all ones, then Update-IR and on to Shift-DR.
    void InstructionToShiftDr(const ChainTarget& target, std::uint16_t instruction);

    // Writes everything gathered (nothing when empty) in one write and starts afresh:
    // FT_OK only when every byte went out.
    FT_STATUS Send(FT_HANDLE h);
    // Writes the gathered bytes in writes of exactly `unit` bytes while at least a
    // unit is gathered, and keeps the rest for later.
    FT_STATUS SendWhole(FT_HANDLE h, std::size_t unit);

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::size_t answers() const { return answers_; }  // bytes the cable will send back

private:
    void TckLow();  // a shift command must start with TCK low

    std::vector<std::uint8_t> bytes_;
    std::size_t answers_ = 0;
    bool tckHigh_ = false;  // the last bit-bang byte had TCK high
    unsigned owed_ = 0;     // data bytes the last command gathered still takes
};

// After a write cut short in a stream of long shift commands (packed mode, read-back
// scans): a cut command may still owe up to 63 data bytes, so kCutRecoverPad bytes
// 0x2C (TCK low, TMS low) go first, then RecoverTap's bytes, all in one write. Owed
// bytes take the pad as data; the rest are bit-bang bytes that clock nothing.
FT_STATUS RecoverCutStream(FT_HANDLE h);

// Cable bytes of BeginUserScan, EndShiftDr and RecoverTap.
constexpr std::size_t kBeginUserScanBytes = 62;
constexpr std::size_t kEndShiftDrBytes = 6;
constexpr std::size_t kRecoverTapBytes = 15;
// One pad byte for every data byte a cut command can still owe; RecoverTap's own
// first byte (TCK low) is one more.
constexpr std::size_t kCutRecoverPad = blaster::kMaxShiftBytes - 1;
constexpr std::size_t kCutRecoverBytes = kCutRecoverPad + kRecoverTapBytes;

}  // namespace tunlet
