// Texts between the program (8-bit: UTF-8 paths, NSF titles that are often Shift-JIS
// and sometimes Latin-1) and Windows' wide-character API.
#pragma once

#include <string>

namespace tunlet {

// UTF-8 to UTF-16, for paths and texts we made.
std::wstring Widen(const std::string& utf8);
// UTF-16 to UTF-8.
std::string Narrow(const std::wstring& wide);
// Bytes as they should look: UTF-8 when they are, else Shift-JIS, else Latin-1, so
// that nothing is dropped.
std::wstring DisplayText(const std::string& bytes);

}  // namespace tunlet
