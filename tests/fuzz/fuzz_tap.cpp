// The virtual board's decoder on any cable bytes, fed in pieces as writes would, with
// read-back answered by its modelled chain.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cable/TapDecoder.h"
#include "tests/fuzz/FuzzFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tunlet;
    TapDecoder whole, pieces;
    std::vector<std::uint8_t> wholeAnswers, pieceAnswers;
    whole.Feed(data, size, &wholeAnswers);
    // The same bytes split at every 7th position decode to the same state and answers.
    for (std::size_t at = 0; at < size; at += 7) pieces.Feed(data + at, size - at < 7 ? size - at : 7, &pieceAnswers);
    if (whole.state() != pieces.state() || whole.user0() != pieces.user0() || whole.scans() != pieces.scans() ||
        whole.clocks() != pieces.clocks() || whole.outputEnable() != pieces.outputEnable() ||
        wholeAnswers != pieceAnswers)
        fuzz::Broken();
    if (wholeAnswers.size() > size) fuzz::Broken();  // at most one answer per cable byte
    if (whole.user0LeftoverBits() > 7) fuzz::Broken();
    for (const JtagScan& s : whole.scans()) {
        if (s.bits < 64 && (s.value >> s.bits) != 0) fuzz::Broken();
    }
    return 0;
}
