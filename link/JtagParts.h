// What a JTAG IDCODE says: its manufacturer (bits 11..1, JEDEC) and, for common
// Intel/Altera parts and the debug port of their SoCs, the part's name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tunlet {

constexpr std::uint16_t kAlteraManufacturer = 0x06E;

constexpr std::uint16_t IdcodeManufacturer(std::uint32_t idcode) {
    return static_cast<std::uint16_t>((idcode >> 1) & 0x7FF);
}
// An Altera part: the low 12 bits are 0x0DD (manufacturer 0x06E and the fixed 1).
constexpr bool IsAlteraIdcode(std::uint32_t idcode) { return (idcode & 0xFFF) == 0x0DD; }

// What a part is, as far as the chain logic cares.
enum class PartKind : std::uint8_t { Fpga, Cpld, DebugPort };

// A part the table knows: its name, its instruction register's length and its kind.
struct JtagPart {
    const char* name;
    unsigned irLength;
    PartKind kind;
};

// The part an IDCODE names, or null when the table does not know it (the version in
// bits 31..28 is not looked at, except where a row says so).
const JtagPart* FindJtagPart(std::uint32_t idcode);
// The part's name, or null when the table does not know it.
const char* JtagPartName(std::uint32_t idcode);
// "Altera", "ARM", ... or "manufacturer 0x123".
std::string JtagManufacturerName(std::uint32_t idcode);
// "0x02D020DD (Cyclone V 5CSEA6/5CSEBA6)", "0x12345678", or for a device that has no
// IDCODE, "a device without IDCODE".
std::string DescribeJtagDevice(std::optional<std::uint32_t> idcode);

}  // namespace tunlet
