// Packed mode (--packed): the data bytes of the USER0 scan as byte-shift commands of
// up to 63 bytes each, instead of one 0x81 command per byte. The cable's byte
// protocol itself is described in BlasterJtag.h; this is how packed mode uses it.
//
//   Shift command: kShiftMode | n, with n (1..63) in bits 5..0 and read-back (bit 6)
//     clear, followed by the n data bytes. The cable clocks them out on TDI, least
//     significant bit first, with TMS held low by the last bit-bang byte, so the TAP
//     stays in Shift-DR.
//   Runs: each piece of the upload's data is one run of its own: the two lead bytes,
//     the header, each 4096-byte block, the trailer. A run of m bytes goes out as
//     m / 63 full commands (0xBF) and, when m is no multiple of 63, one last command
//     with the rest. A block of 4096 bytes is 65 commands of 63 bytes and one of 1
//     byte (0x81): 4162 cable bytes for 4096 data bytes.
//   TCK low: no shift command starts with TCK high. A walk ends with TCK high
//     (0x2D), so every command after a walk, the preamble's three 0x81 included,
//     follows one bit-bang byte kStepLow (0x2C: TMS 0, TCK falls, no TAP clock): the
//     packed preamble is 65 bytes. Commands that follow commands need nothing in
//     between: a shift leaves TCK low.
//   The TAP sees exactly the bits and TMS levels of the default stream: the fixed
//     walks are the same bytes, and the last data bit still leaves Shift-DR in the
//     closing walk's first clock. Only the gaps between data bytes get shorter.
//   Writes: the stream is gathered (link/BlasterJtag.h, CableBatch) and goes out in
//     writes of exactly kPackedWriteBytes, the USB transfer size the cable is set
//     to, so that no write is cut into a full transfer and a small one; what is
//     left at the end (with the trailer and the closing walk) is one last write. A
//     header-only send is one write.
//   Recovery: a write cut short may leave the cable owing a command up to 63 data
//     bytes: RecoverCutStream pads before the recovery walk.
//
// The wire model the bench and the README quote: each USB transfer costs
// kModelTransferSeconds plus the longer of its bytes at kModelUsbBytesPerSecond and
// its shifted bits at kModelTckHz (a full-speed USB-Blaster's 6 MHz TCK).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "link/BlasterJtag.h"

namespace tunlet {

// BeginUserScan gathered for packed mode: a 0x2C before each of its three commands.
constexpr std::size_t kPackedBeginUserScanBytes = kBeginUserScanBytes + 3;

// Packed writes fill whole USB transfers of the cable.
constexpr std::size_t kPackedWriteBytes = kUsbTransferBytes;

constexpr double kModelTransferSeconds = 1e-3;
constexpr double kModelUsbBytesPerSecond = 1e6;
constexpr double kModelTckHz = 6e6;
// The modelled time of one USB transfer of `bytes` cable bytes that shift `bits` bits.
constexpr double ModelTransferSeconds(double bytes, double bits) {
    const double wire = bytes / kModelUsbBytesPerSecond, tck = bits / kModelTckHz;
    return kModelTransferSeconds + (wire > tck ? wire : tck);
}

// Cable bytes of a run of n data bytes: the bytes and one command byte per 63.
constexpr std::size_t PackedRunBytes(std::size_t n) {
    return n + (n + blaster::kMaxShiftBytes - 1) / blaster::kMaxShiftBytes;
}

}  // namespace tunlet
