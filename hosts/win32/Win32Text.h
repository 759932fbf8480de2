// Texts shown in Windows' controls: the program's 8-bit texts are UTF-8 paths and
// summaries, decoded as tune texts are when they are not UTF-8.
#pragma once

#include <string>

#include "media/WideText.h"

namespace tunlet {

// Bytes as they should look: UTF-8 when they are, else Shift-JIS, else Windows-1252,
// so that nothing is dropped.
std::wstring DisplayText(const std::string& bytes);

}  // namespace tunlet
