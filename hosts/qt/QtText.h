// 8-bit texts (paths, summaries) shown in Qt widgets: bytes that are not UTF-8 are
// read as Shift-JIS or Windows-1252, as tune texts are, so they stay readable.
#pragma once

#include <QString>
#include <string>

namespace tunlet {

QString DisplayText(const std::string& bytes);

}  // namespace tunlet
