// Texts shown in Windows' controls. The program's 8-bit texts are UTF-8 by the time
// they reach a window: tune texts were decoded once, when the file was read, and are
// not guessed at again here.
#pragma once

#include <string>

#include "media/WideText.h"

namespace tunlet {

// bytes as UTF-16; a malformed UTF-8 sequence shows as U+FFFD, the rest as it is.
std::wstring DisplayText(const std::string& bytes);

}  // namespace tunlet
