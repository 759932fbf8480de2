#include "cable/DumpCable.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#ifdef _WIN32
#include <io.h>

#include "media/WideText.h"
#else
#include <unistd.h>
#endif

namespace tunlet {

namespace {

std::FILE* OpenForWriting(const std::string& path) {
#ifdef _WIN32
    return ::_wfopen(Widen(path).c_str(), L"wb");
#else
    return std::fopen(path.c_str(), "wb");
#endif
}

// access() by a UTF-8 path: mode 0 asks whether it exists, 2 whether it can be written.
bool Access(const std::string& path, int mode) {
#ifdef _WIN32
    return ::_waccess(Widen(path).c_str(), mode) == 0;
#else
    return ::access(path.c_str(), mode == 2 ? W_OK : F_OK) == 0;
#endif
}

bool IsDirectory(const std::string& path) {
#ifdef _WIN32
    struct _stat64 st;
    return ::_wstat64(Widen(path).c_str(), &st) == 0 && (st.st_mode & _S_IFDIR) != 0;
#else
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
#endif
}

// Why path could not be written, without creating or emptying it: an existing file
// must be writable, a new one needs a writable folder. Empty when it looks fine.
std::string WhyNotWritable(const std::string& path) {
    if (path.empty()) return "no file name";
    std::string target = path;
    if (IsDirectory(path)) return std::strerror(EISDIR);
    if (!Access(path, 0)) {
        const std::size_t slash = path.find_last_of("/\\");
        target = slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
    }
    return Access(target, 2) ? std::string() : std::strerror(errno);
}

class DumpDevice : public CableDevice {
public:
    explicit DumpDevice(std::string path) : path_(std::move(path)) {}
    // Each write reaches the file before it counts as sent, so a full disk fails the
    // write it happens in, as a pulled cable would. The file is created (or emptied)
    // by the first write, so a cable opened only to see that it is there (the
    // window's start-up probe) leaves an earlier dump as it was.
    FT_STATUS Write(const void* buffer, DWORD count, DWORD* written) override {
        *written = 0;
        if (failed_) return FT_IO_ERROR;
        if (!file_) file_.reset(OpenForWriting(path_));
        errno = 0;
        const std::size_t sent = !file_ || count == 0 ? 0 : std::fwrite(buffer, 1, count, file_.get());
        if (!file_ || sent != count || std::fflush(file_.get()) != 0) {
            failed_ = true;
            NoteFailure(file_ ? "cannot write the dump file " : "cannot create the dump file ");
            return FT_IO_ERROR;
        }
        *written = static_cast<DWORD>(sent);
        return FT_OK;
    }
    // A loss is reported once: after a failed write the close says nothing more.
    FT_STATUS Close() override {
        if (!file_) return FT_OK;
        errno = 0;
        const bool closed = std::fclose(file_.release()) == 0;
        if (closed || failed_) return FT_OK;
        NoteFailure("cannot write the dump file ");
        return FT_IO_ERROR;
    }
    std::string FailureReason() const override { return reason_; }

private:
    // The reason is the system's (errno), as the failed call left it.
    void NoteFailure(const char* what) {
        const int error = errno;
        reason_ = what + path_ + ": " + (error != 0 ? std::strerror(error) : "the file system refused the data");
    }
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::string path_;
    std::string reason_;
    std::unique_ptr<std::FILE, Closer> file_;
    bool failed_ = false;
};

}  // namespace

CableOpenResult DumpCable::Open(const char*) {
    CableOpenResult result;
    const std::string problem = WhyNotWritable(path_);
    if (!problem.empty()) {
        result.status = FT_DEVICE_NOT_OPENED;
        result.reason = "cannot create the dump file " + path_ + ": " + problem;
        return result;
    }
    result.status = FT_OK;
    result.name = "dump to " + path_;
    result.device = std::make_unique<DumpDevice>(path_);
    return result;
}

}  // namespace tunlet
