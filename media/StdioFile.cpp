#include "media/StdioFile.h"

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include <sys/stat.h>

#include "media/WideText.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tunlet {

#ifdef _WIN32

namespace {

FileKind KindOf(const struct _stat64& st) {
    if ((st.st_mode & _S_IFMT) == _S_IFREG) return FileKind::Regular;
    if ((st.st_mode & _S_IFMT) == _S_IFDIR) return FileKind::Directory;
    return FileKind::NotRegular;
}

// FILETIME ticks (100 ns) from a time in seconds since 1970, for a file whose write
// time cannot be asked for.
std::int64_t TicksFromUnix(std::int64_t seconds) { return (seconds + 11'644'473'600) * 10'000'000; }

std::int64_t Ticks(const FILETIME& time) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime);
}

}  // namespace

FileKind StatFile(const char* path, FileStamp* stamp) {
    struct _stat64 st {};
    const std::wstring wide = Widen(path);
    if (wide.empty() || ::_wstat64(wide.c_str(), &st) != 0) return FileKind::Missing;
    if (stamp != nullptr) {
        // The write time to 100 ns, so a tune exported again within a second still counts as changed.
        WIN32_FILE_ATTRIBUTE_DATA data{};
        const bool precise = ::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data) != 0;
        *stamp = {static_cast<std::int64_t>(st.st_size), precise ? Ticks(data.ftLastWriteTime) : TicksFromUnix(st.st_mtime)};
    }
    return KindOf(st);
}

StdioFile::StdioFile(const char* path) {
    // A device name (NUL, COM1) or a pipe is refused before it is opened.
    kind_ = StatFile(path);
    if (kind_ != FileKind::Regular) return;
    file_.reset(::_wfopen(Widen(path).c_str(), L"rb"));
    if (!file_) {
        kind_ = FileKind::Missing;
        return;
    }
    // The path may have been swapped for something else between the look and the open.
    struct _stat64 st {};
    const bool known = ::_fstat64(::_fileno(file_.get()), &st) == 0;
    if (!known || KindOf(st) != FileKind::Regular) {
        kind_ = known ? KindOf(st) : FileKind::Missing;
        file_.reset();
    }
}

FileStamp StdioFile::Stamp() const {
    struct _stat64 st {};
    if (!file_ || ::_fstat64(::_fileno(file_.get()), &st) != 0) return {};
    FILETIME written{};
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file_.get())));
    const bool precise = ::GetFileTime(handle, nullptr, nullptr, &written) != 0;
    return {static_cast<std::int64_t>(st.st_size), precise ? Ticks(written) : TicksFromUnix(st.st_mtime)};
}

bool StdioFile::Seek(std::int64_t offset) { return file_ && ::_fseeki64(file_.get(), offset, SEEK_SET) == 0; }

#else
namespace {

FileKind KindOf(const struct stat& st) {
    if (S_ISREG(st.st_mode)) return FileKind::Regular;
    if (S_ISDIR(st.st_mode)) return FileKind::Directory;
    return FileKind::NotRegular;
}

FileStamp StampOf(const struct stat& st) {
    return {static_cast<std::int64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

}  // namespace

FileKind StatFile(const char* path, FileStamp* stamp) {
    struct stat st {};
    if (::stat(path, &st) != 0) return FileKind::Missing;
    if (stamp != nullptr) *stamp = StampOf(st);
    return KindOf(st);
}

StdioFile::StdioFile(const char* path) {
    // Only what is a regular file now is opened at all: opening a device has effects
    // of its own (a serial port raises DTR), and a named pipe would wait for a writer.
    kind_ = StatFile(path);
    if (kind_ != FileKind::Regular) return;
    // Opened without waiting and without taking a terminal, then checked by what was
    // opened, so that a path swapped for a pipe or a device meanwhile is refused too.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        kind_ = FileKind::Missing;
        return;
    }
    struct stat st {};
    const bool known = ::fstat(fd, &st) == 0;
    if (!known || !S_ISREG(st.st_mode)) {
        kind_ = known ? KindOf(st) : FileKind::Missing;
        ::close(fd);
        return;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    file_.reset(::fdopen(fd, "rb"));
    if (!file_) {
        ::close(fd);
        kind_ = FileKind::Missing;
    }
}

FileStamp StdioFile::Stamp() const {
    struct stat st {};
    if (!file_ || ::fstat(::fileno(file_.get()), &st) != 0) return {};
    return StampOf(st);
}

bool StdioFile::Seek(std::int64_t offset) {
    return file_ && ::fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) == 0;
}

#endif

}  // namespace tunlet
