#include "hosts/win32/Win32Text.h"

namespace tunlet {

std::wstring DisplayText(const std::string& bytes) { return Widen(bytes); }

}  // namespace tunlet
