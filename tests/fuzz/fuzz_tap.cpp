// The virtual board's decoder on any cable bytes, fed in pieces as writes would.
#include <cstddef>
#include <cstdint>

#include "cable/TapDecoder.h"
#include "tests/fuzz/FuzzFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tunlet;
    TapDecoder whole, pieces;
    whole.Feed(data, size);
    // The same bytes split at every 7th position decode to the same state.
    for (std::size_t at = 0; at < size; at += 7) pieces.Feed(data + at, size - at < 7 ? size - at : 7);
    if (whole.state() != pieces.state() || whole.user0() != pieces.user0() || whole.scans() != pieces.scans() ||
        whole.clocks() != pieces.clocks() || whole.outputEnable() != pieces.outputEnable())
        fuzz::Broken();
    if (whole.user0LeftoverBits() > 7) fuzz::Broken();
    for (const JtagScan& s : whole.scans()) {
        if (s.bits < 64 && (s.value >> s.bits) != 0) fuzz::Broken();
    }
    return 0;
}
