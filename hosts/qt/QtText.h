// 8-bit texts (paths, summaries) shown in Qt widgets. The program's texts are UTF-8
// by the time they reach a window: tune texts were decoded once, when the file was
// read, and are not guessed at again here.
#pragma once

#include <QString>
#include <string>

namespace tunlet {

// bytes as UTF-8; a malformed sequence shows as U+FFFD, the rest as it is.
QString DisplayText(const std::string& bytes);

}  // namespace tunlet
