#include "app/MakeCrLf.h"

namespace tunlet {

void MakeCrLf(std::string& text) {
    std::size_t from = 0;
    for (;;) {
        const std::size_t lf = text.find('\n', from);
        if (lf == std::string::npos) return;
        if (lf > 0 && text[lf - 1] == '\r') {
            from = lf + 1;
        } else {
            text.insert(lf, 1, '\r');
            from = lf + 2;
        }
    }
}

}  // namespace tunlet
