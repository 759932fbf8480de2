// tunlet-cli's output streams. On Windows, text for a console goes out as UTF-16
// through WriteConsoleW, so Japanese file names read right in cmd and PowerShell
// whatever the console's code page; to a file or a pipe the UTF-8 bytes go unchanged,
// with LF line ends on both streams.
#pragma once

#include <cstddef>
#include <streambuf>
#include <string>
#include <string_view>

namespace tunlet {

// The length of the longest start of bytes that does not end inside a UTF-8 sequence
// (the rest waits for the bytes that complete it). Malformed bytes count as complete.
std::size_t CompleteUtf8Prefix(std::string_view bytes);

#ifdef _WIN32
class ConsoleStreamBuf : public std::streambuf {
public:
    // handle: the standard handle to write to (STD_OUTPUT_HANDLE's or STD_ERROR_HANDLE's).
    explicit ConsoleStreamBuf(void* handle);
    ~ConsoleStreamBuf() override;
    ConsoleStreamBuf(const ConsoleStreamBuf&) = delete;
    ConsoleStreamBuf& operator=(const ConsoleStreamBuf&) = delete;

protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

private:
    bool Flush();

    void* handle_;
    bool console_;
    std::string pending_;
};
#endif

}  // namespace tunlet
