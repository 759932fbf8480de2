#include "link/PackedShift.h"

#include <algorithm>
#include <cstring>

namespace tunlet {

using namespace blaster;

std::size_t PackShiftRun(const std::uint8_t* data, std::size_t n, std::uint8_t* out) {
    std::size_t o = 0;
    for (std::size_t i = 0; i < n; i += kMaxShiftBytes) {
        const std::size_t run = std::min(kMaxShiftBytes, n - i);
        out[o++] = static_cast<std::uint8_t>(kShiftMode | run);
        std::memcpy(out + o, data + i, run);
        o += run;
    }
    return o;
}

}  // namespace tunlet
