#include "media/TextFormat.h"

#include <cstdarg>
#include <cstdio>

namespace tunlet {

void AppendFormat(std::string& text, const char* format, ...) {
    char small[256];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(n) < sizeof small) {
        text.append(small, static_cast<std::size_t>(n));
    } else {
        const std::size_t at = text.size();
        text.resize(at + static_cast<std::size_t>(n) + 1);
        std::vsnprintf(text.data() + at, static_cast<std::size_t>(n) + 1, format, again);
        text.resize(at + static_cast<std::size_t>(n));
    }
    va_end(again);
}

}  // namespace tunlet
