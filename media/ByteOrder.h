// Little-endian helpers for the binary headers of tune and ROM files.
// Multi-byte fields are always assembled byte by byte, never by casting a struct,
// so the readers behave the same on any host.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tunlet {

constexpr std::uint8_t ReadU8(const std::uint8_t* p, std::size_t offset) { return p[offset]; }

constexpr std::uint16_t ReadLe16(const std::uint8_t* p, std::size_t offset) {
    return static_cast<std::uint16_t>(p[offset] | (p[offset + 1] << 8));
}

constexpr std::uint32_t ReadLe24(const std::uint8_t* p, std::size_t offset) {
    return static_cast<std::uint32_t>(p[offset]) | static_cast<std::uint32_t>(p[offset + 1]) << 8 |
           static_cast<std::uint32_t>(p[offset + 2]) << 16;
}

constexpr std::uint32_t ReadLe32(const std::uint8_t* p, std::size_t offset) {
    return ReadLe24(p, offset) | static_cast<std::uint32_t>(p[offset + 3]) << 24;
}

constexpr void WriteLe16(std::uint8_t* p, std::size_t offset, std::uint16_t value) {
    p[offset] = static_cast<std::uint8_t>(value & 0xFF);
    p[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace tunlet
