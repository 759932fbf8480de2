#include "hosts/win32/Win32Text.h"

#include <windows.h>

namespace tunlet {

namespace {

// Decodes bytes in a code page; false when they are not valid in it.
bool Decode(unsigned codePage, const std::string& bytes, std::wstring& out) {
    if (bytes.empty()) {
        out.clear();
        return true;
    }
    const int size = static_cast<int>(bytes.size());
    const int n = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (n <= 0) return false;
    out.assign(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, out.data(), n);
    return true;
}

}  // namespace

std::wstring DisplayText(const std::string& bytes) {
    std::wstring text;
    if (Decode(CP_UTF8, bytes, text) || Decode(932, bytes, text)) return text;
    text.clear();
    for (unsigned char c : bytes) text += static_cast<wchar_t>(c);  // Latin-1
    return text;
}

}  // namespace tunlet
