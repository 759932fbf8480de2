// 8-bit texts (paths, NSF titles) shown in Qt widgets. Titles are often Shift-JIS and
// sometimes Latin-1, so bytes that are not UTF-8 are decoded so they stay readable.
#pragma once

#include <QString>
#include <string>

namespace tunlet {

QString DisplayText(const std::string& bytes);

}  // namespace tunlet
