#include "cable/IntelHex.h"

#include <algorithm>
#include <cstddef>

namespace tunlet {

namespace {

constexpr std::uint8_t kData = 0x00;
constexpr std::uint8_t kEndOfFile = 0x01;
constexpr std::uint8_t kSegmentBase = 0x02;
constexpr std::uint8_t kStartSegment = 0x03;
constexpr std::uint8_t kLinearBase = 0x04;
constexpr std::uint8_t kStartLinear = 0x05;
// Byte count, address (2), type, checksum: a record's bytes besides its data.
constexpr std::size_t kRecordOverhead = 5;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool Fits(std::uint32_t address, std::size_t count, const std::vector<HexMemoryRange>& memory) {
    for (const HexMemoryRange& r : memory) {
        if (address >= r.begin && address <= r.end && count <= r.end - address) return true;
    }
    return false;
}

HexImage Refuse(std::size_t line, const std::string& why) {
    HexImage image;
    image.error = "line " + std::to_string(line) + ": " + why;
    return image;
}

}  // namespace

HexImage ReadIntelHex(std::string_view text, const std::vector<HexMemoryRange>& memory) {
    HexImage image;
    std::uint32_t base = 0;
    std::size_t lineNumber = 0;
    bool ended = false;
    while (!text.empty() && !ended) {
        ++lineNumber;
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        if (line.front() != ':') return Refuse(lineNumber, "a record must start with ':'");
        line.remove_prefix(1);
        if (line.size() % 2 != 0 || line.size() < 2 * kRecordOverhead) {
            return Refuse(lineNumber, "the record is cut short");
        }
        std::vector<std::uint8_t> bytes;
        std::uint8_t sum = 0;
        for (std::size_t i = 0; i < line.size(); i += 2) {
            const int hi = HexDigit(line[i]), lo = HexDigit(line[i + 1]);
            if (hi < 0 || lo < 0) return Refuse(lineNumber, "not a hex digit");
            bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
            sum = static_cast<std::uint8_t>(sum + bytes.back());
        }
        const std::size_t count = bytes[0];
        if (bytes.size() != count + kRecordOverhead) {
            return Refuse(lineNumber, "the byte count does not match the record's length");
        }
        if (sum != 0) return Refuse(lineNumber, "the checksum does not match");
        const std::uint32_t offset = static_cast<std::uint32_t>(bytes[1] << 8 | bytes[2]);
        const std::uint8_t type = bytes[3];
        const std::uint8_t* data = bytes.data() + 4;
        switch (type) {
            case kData: {
                const std::uint32_t address = base + offset;
                if (!Fits(address, count, memory)) return Refuse(lineNumber, "the data lies outside the chip's RAM");
                image.records.push_back({address, std::vector<std::uint8_t>(data, data + count)});
                break;
            }
            case kEndOfFile:
                if (count != 0) return Refuse(lineNumber, "an end-of-file record carries no data");
                ended = true;
                break;
            case kSegmentBase:
            case kLinearBase: {
                if (count != 2) return Refuse(lineNumber, "an address record carries two bytes");
                const std::uint32_t value = static_cast<std::uint32_t>(data[0] << 8 | data[1]);
                base = type == kSegmentBase ? value << 4 : value << 16;
                break;
            }
            case kStartSegment:
            case kStartLinear:
                if (count != 4) return Refuse(lineNumber, "a start address record carries four bytes");
                break;
            default:
                return Refuse(lineNumber, "unknown record type " + std::to_string(type));
        }
    }
    // An empty file is missing its end on its first line.
    if (!ended) return Refuse(std::max<std::size_t>(lineNumber, 1), "the file ends without an end-of-file record");
    return image;
}

}  // namespace tunlet
