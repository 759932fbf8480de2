// A file opened by 8-bit path for reading raw bytes, closed when it goes out of scope.
// Only regular files are opened: a directory, a named pipe, a socket or a device is
// refused by its type before it is opened, so nothing waits on it and no device sees
// an open (a serial port's open would reset the board behind it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace tunlet {

// What a path names, as far as opening it for reading goes.
enum class FileKind {
    Regular,
    Missing,     // does not exist or cannot be opened
    Directory,
    NotRegular,  // a named pipe, a socket or a device
};

// Why a directory, or what is not a regular file, cannot be read as one, for people.
inline constexpr char kIsDirectoryText[] = "it is a directory";
inline constexpr char kNotRegularText[] = "it is not a regular file (a named pipe, a socket or a device)";

// The size and modification time of a regular file, to tell whether it changed. The
// time is in the system's own units: nanoseconds since 1970 on Linux, 100-ns ticks
// since 1601 (a FILETIME) on Windows; stamps are only ever compared.
struct FileStamp {
    std::int64_t size = -1;
    std::int64_t mtime = 0;
    bool operator==(const FileStamp&) const = default;
};

// What path names now, and its stamp when it is a regular file.
FileKind StatFile(const char* path, FileStamp* stamp = nullptr);

class StdioFile {
public:
    explicit StdioFile(const char* path);

    explicit operator bool() const { return file_ != nullptr; }
    // Why the open failed (Regular when it did not).
    FileKind kind() const { return kind_; }
    // The stamp of the file that is open, whatever its path names by now.
    FileStamp Stamp() const;

    // Reads up to count bytes; returns how many arrived.
    std::size_t Read(void* dst, std::size_t count) {
        return count == 0 ? 0 : std::fread(dst, 1, count, file_.get());
    }
    // Moves to offset bytes from the start; false when that is not possible.
    bool Seek(std::int64_t offset);
    // True when one more byte could be read (the file did not end).
    bool HasMore() { return std::fgetc(file_.get()) != EOF; }
    void Close() { file_.reset(); }

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
    FileKind kind_ = FileKind::Missing;
};

}  // namespace tunlet
