#include "media/StdioFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tunlet {

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
    // Opened without waiting (a named pipe would wait for a writer), then checked by
    // what was opened, so that a path swapped for a pipe meanwhile is refused too.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        struct stat st {};
        kind_ = ::stat(path, &st) == 0 && !S_ISREG(st.st_mode) ? KindOf(st) : FileKind::Missing;
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        kind_ = ::fstat(fd, &st) == 0 ? KindOf(st) : FileKind::Missing;
        ::close(fd);
        return;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    file_.reset(::fdopen(fd, "rb"));
    if (!file_) {
        ::close(fd);
        return;
    }
    kind_ = FileKind::Regular;
}

bool StdioFile::Seek(std::int64_t offset) {
    return file_ && ::fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) == 0;
}

}  // namespace tunlet
