// Intel HEX, as the FX2's firmware comes: one record a line, ':' then hex pairs for
// the byte count, the 16-bit address, the record type, the data and a checksum that
// makes the record's bytes add up to 0 (mod 256). Types: 00 data, 01 end of file,
// 02 extended segment address (base = value * 16), 04 extended linear address
// (base = value << 16); 03 and 05 (start addresses) mean nothing to a loader that
// lets the chip start at 0 and are passed over. Every byte must land in one of the
// given memory ranges, so a file meant for another chip is refused whole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tunlet {

// A half-open range [begin, end) of the target's memory that a file may fill.
struct HexMemoryRange {
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
};

// The FX2's RAM the 0xA0 vendor request loads: program and data RAM (16 KiB on the
// FX2LP) and the 512-byte scratch RAM.
inline constexpr HexMemoryRange kFx2Ram[] = {{0x0000, 0x4000}, {0xE000, 0xE200}};

// Consecutive data bytes from one record.
struct HexRecord {
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
    bool operator==(const HexRecord&) const = default;
};

struct HexImage {
    std::vector<HexRecord> records;  // in file order; empty when error is set
    std::string error;               // "" for a good file: else "line N: why"
};

// Reads a whole file held in memory. Lines may end in LF or CR LF; blank lines are
// passed over; the file must end with an end-of-file record.
HexImage ReadIntelHex(std::string_view text, const std::vector<HexMemoryRange>& memory);

}  // namespace tunlet
