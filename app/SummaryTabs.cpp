#include "app/SummaryTabs.h"

#include <algorithm>
#include <cstddef>

namespace tunlet {

std::vector<int> SummaryTabStops(const std::string& text) {
    std::vector<int> widths;  // the widest cell of each column that is followed by a tab
    std::size_t column = 0;
    int cell = 0;
    for (const char ch : text) {
        if (ch == '\t') {
            if (widths.size() <= column) widths.resize(column + 1, 0);
            widths[column] = std::max(widths[column], cell);
            ++column;
            cell = 0;
        } else if (ch == '\n' || ch == '\r') {
            column = 0;
            cell = 0;
        } else if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) {  // not a UTF-8 continuation byte
            ++cell;
        }
    }
    std::vector<int> stops;
    int at = 0;
    for (const int width : widths) {
        at += width + kSummaryColumnGap;
        stops.push_back(at);
    }
    return stops;
}

}  // namespace tunlet
