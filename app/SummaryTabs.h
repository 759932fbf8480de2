// The summary box's tab stops: a ROM's summary is tab-separated columns (field name,
// value, meaning), and the box puts each column's start past the widest cell before it.
#pragma once

#include <string>
#include <vector>

namespace tunlet {

// Characters between a column's widest cell and the next column.
constexpr int kSummaryColumnGap = 2;

// The tab stops for text, in characters from the left edge (average character widths;
// four dialog units each): one per column that has a column after it. Empty when no
// line has a tab. Cells are counted in characters, so UTF-8 text counts as it shows.
std::vector<int> SummaryTabStops(const std::string& text);

}  // namespace tunlet
