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

}  // namespace tunlet
