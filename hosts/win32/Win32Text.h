// Texts shown in Windows' controls: the program's 8-bit texts are UTF-8 paths and
// NSF titles that are often Shift-JIS and sometimes Latin-1.
#pragma once

#include <string>

#include "media/WideText.h"

namespace tunlet {

// Bytes as they should look: UTF-8 when they are, else Shift-JIS, else Latin-1, so
// that nothing is dropped.
std::wstring DisplayText(const std::string& bytes);

}  // namespace tunlet
