#include "hosts/win32/Win32Text.h"

#include <windows.h>

#include "media/TextCoding.h"

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
    // The one decoding the summaries and tunlet-cli use, always well-formed UTF-8.
    std::wstring text;
    Decode(CP_UTF8, TextToUtf8(bytes), text);
    return text;
}

}  // namespace tunlet
