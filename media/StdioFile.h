// A file opened by 8-bit path for reading raw bytes, closed when it goes out of scope.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>

namespace tunlet {

class StdioFile {
public:
    explicit StdioFile(const char* path) : file_(std::fopen(path, "rb")) {}

    explicit operator bool() const { return file_ != nullptr; }

    // Reads up to count bytes; returns how many arrived.
    std::size_t Read(void* dst, std::size_t count) {
        return count == 0 ? 0 : std::fread(dst, 1, count, file_.get());
    }
    // True when one more byte could be read (the file did not end).
    bool HasMore() { return std::fgetc(file_.get()) != EOF; }
    void Close() { file_.reset(); }

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
};

}  // namespace tunlet
