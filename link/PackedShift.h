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
//   TCK low: the cable starts a byte shift from TCK low, and leaves TCK low when it
//     is done. A walk ends with TCK high (0x2D), so the first command after a walk
//     follows one bit-bang byte kStepLow (0x2C: TMS 0, TCK falls, no TAP clock);
//     commands that follow commands need nothing in between.
//   The TAP sees exactly the bits and TMS levels of the default stream: the fixed
//     walks are the same bytes, and the last data bit still leaves Shift-DR in the
//     closing walk's first clock. Only the gaps between data bytes get shorter.
//   Writes: one write per block. The walks and short runs gather into the write of
//     the data beside them: the preamble, the lead bytes and the header in one write
//     (the whole stream of a header-only send, trailer and closing walk included),
//     the trailer and the closing walk in another.
//   Recovery: a write cut short may leave the cable owing a command up to 63 data
//     bytes, so the recovery walk sends kPackedRecoverPad bytes 0x2C first: bytes
//     the cable still owes take them as data, the rest are bit-bang bytes with TCK
//     low that clock nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "link/BlasterJtag.h"

namespace tunlet {

namespace blaster {
constexpr std::uint8_t kShiftCountMask = 0x3F;         // bits 5..0: data bytes after a command
static_assert(kMaxShiftBytes == kShiftCountMask);      // 63 data bytes per command (0xBF)
constexpr std::uint8_t kTckLowBeforeShift = kStepLow;  // 0x2C after a walk, before a command
}  // namespace blaster

// Cable bytes of a run of n data bytes: the bytes and one command byte per 63.
constexpr std::size_t PackedRunBytes(std::size_t n) {
    return n + (n + blaster::kMaxShiftBytes - 1) / blaster::kMaxShiftBytes;
}

// Pad bytes in front of the recovery walk after a cut packed write: one for every data
// byte a cut command can still owe (the walk's own first byte is one more).
constexpr std::size_t kPackedRecoverPad = blaster::kMaxShiftBytes - 1;
constexpr std::size_t kPackedRecoverTapBytes = kPackedRecoverPad + kRecoverTapBytes;

// Writes the shift commands of n data bytes to out (PackedRunBytes(n) bytes); returns
// the number written.
std::size_t PackShiftRun(const std::uint8_t* data, std::size_t n, std::uint8_t* out);

// One write of a packed upload, gathered in a fixed buffer. The fixed walks of
// BlasterJtag write into it as into a cable; Run appends the shift commands of a run
// of data bytes (after kTckLowBeforeShift when the bytes before left TCK high); Send
// writes everything gathered to the cable in one checked write.
class PackedWriter : public CableDevice {
public:
    // Room for the largest write: a 4096-byte block, or a header-only tune stream.
    static constexpr std::size_t kCapacity = 4352;

    FT_STATUS Write(const void* buffer, DWORD count, DWORD* written) override;
    // False when the run does not fit; nothing is appended then.
    bool Run(const std::uint8_t* data, std::size_t n);
    // Writes what was gathered (nothing when empty); true when every byte went out.
    bool Send(FT_HANDLE h);
    // After a broken stream: drops what was gathered and sends the recovery walk of
    // packed mode in one write (kPackedRecoverTapBytes: the pad, then RecoverTap's bytes).
    FT_STATUS Recover(FT_HANDLE h);
    std::size_t size() const { return size_; }

private:
    std::array<std::uint8_t, kCapacity> bytes_{};
    std::size_t size_ = 0;
    bool tckHigh_ = false;  // the last bit-bang byte gathered had TCK high
    unsigned owed_ = 0;     // data bytes still owed to the last command gathered by Write
};

}  // namespace tunlet
