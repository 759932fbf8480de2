// The readers take paths: each fuzz input is written to a file of this process first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tunlet::fuzz {

// Writes data to a per-process file whose name ends in suffix; returns its path.
const std::string& WriteInput(const std::uint8_t* data, std::size_t size, const char* suffix);

// Stops the run: a broken invariant is a finding like a crash.
[[noreturn]] inline void Broken() { __builtin_trap(); }

}  // namespace tunlet::fuzz
