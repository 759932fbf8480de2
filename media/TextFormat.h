// printf-style appending to the growable 8-bit summary strings.
#pragma once

#include <string>

namespace tunlet {

__attribute__((format(printf, 2, 3))) void AppendFormat(std::string& text, const char* format, ...);

}  // namespace tunlet
