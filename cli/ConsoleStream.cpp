#include "cli/ConsoleStream.h"

#ifdef _WIN32
#include <windows.h>

#include "media/WideText.h"
#endif

namespace tunlet {

std::size_t CompleteUtf8Prefix(std::string_view bytes) {
    // Look back over at most three continuation bytes for the lead byte of the last sequence.
    std::size_t lead = bytes.size();
    for (std::size_t back = 0; back < 4 && lead > 0; ++back) {
        --lead;
        const auto c = static_cast<unsigned char>(bytes[lead]);
        if ((c & 0xC0) == 0x80) continue;  // a continuation byte
        const std::size_t length = c >= 0xF0 && c < 0xF8 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return lead + length > bytes.size() && c < 0xF8 ? lead : bytes.size();
    }
    return bytes.size();
}

#ifdef _WIN32
ConsoleStreamBuf::ConsoleStreamBuf(void* handle) : handle_(handle) {
    ::DWORD mode = 0;
    console_ = ::GetConsoleMode(handle_, &mode) != 0;
}

ConsoleStreamBuf::~ConsoleStreamBuf() {
    // A sequence still incomplete at the end is written as it is.
    Flush();
    if (!pending_.empty()) {
        ::DWORD written = 0;
        ::WriteFile(handle_, pending_.data(), static_cast<::DWORD>(pending_.size()), &written, nullptr);
    }
}

ConsoleStreamBuf::int_type ConsoleStreamBuf::overflow(int_type ch) {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    pending_.push_back(traits_type::to_char_type(ch));
    if (ch == '\n' && !Flush()) return traits_type::eof();
    return ch;
}

std::streamsize ConsoleStreamBuf::xsputn(const char* s, std::streamsize n) {
    pending_.append(s, static_cast<std::size_t>(n));
    if (pending_.find('\n') != std::string::npos && !Flush()) return 0;
    return n;
}

int ConsoleStreamBuf::sync() { return Flush() ? 0 : -1; }

bool ConsoleStreamBuf::Flush() {
    const std::size_t complete = CompleteUtf8Prefix(pending_);
    if (complete == 0) return true;
    const std::string text = pending_.substr(0, complete);
    pending_.erase(0, complete);
    ::DWORD written = 0;
    if (console_) {
        const std::wstring wide = Widen(text);
        return ::WriteConsoleW(handle_, wide.data(), static_cast<::DWORD>(wide.size()), &written, nullptr) != 0;
    }
    return ::WriteFile(handle_, text.data(), static_cast<::DWORD>(text.size()), &written, nullptr) != 0;
}
#endif

}  // namespace tunlet
