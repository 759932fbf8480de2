// MakeCrLf on any text: every LF ends up after a CR, and only CRs were added.
#include <string>

#include "app/MakeCrLf.h"
#include "tests/fuzz/FuzzFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    std::string out = in;
    tunlet::MakeCrLf(out);
    std::size_t added = 0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '\n' && (i == 0 || in[i - 1] != '\r')) ++added;
    }
    if (out.size() != in.size() + added) tunlet::fuzz::Broken();
    // Walking both: each LF without a CR gained one; everything else is as it was.
    std::size_t j = 0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '\n' && (i == 0 || in[i - 1] != '\r')) {
            if (out[j] != '\r') tunlet::fuzz::Broken();
            ++j;
        }
        if (out[j] != in[i]) tunlet::fuzz::Broken();
        ++j;
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '\n' && (i == 0 || out[i - 1] != '\r')) tunlet::fuzz::Broken();
    }
    // Re-running changes nothing.
    std::string again = out;
    tunlet::MakeCrLf(again);
    if (again != out) tunlet::fuzz::Broken();
    return 0;
}
