#include "cable/DumpCable.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tunlet {

namespace {

class DumpDevice : public CableDevice {
public:
    explicit DumpDevice(std::FILE* file) : file_(file) {}
    // Each write reaches the file before it counts as sent, so a full disk fails the
    // write it happens in, as a pulled cable would.
    FT_STATUS Write(const void* buffer, DWORD count, DWORD* written) override {
        *written = 0;
        if (!file_) return FT_INVALID_HANDLE;
        const std::size_t sent = count == 0 ? 0 : std::fwrite(buffer, 1, count, file_.get());
        if (sent != count || std::fflush(file_.get()) != 0) {
            failed_ = true;
            return FT_IO_ERROR;
        }
        *written = static_cast<DWORD>(sent);
        return FT_OK;
    }
    // A loss is reported once: after a failed write the close says nothing more.
    FT_STATUS Close() override {
        if (!file_) return FT_OK;
        const bool closed = std::fclose(file_.release()) == 0;
        return closed || failed_ ? FT_OK : FT_IO_ERROR;
    }

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
    bool failed_ = false;
};

}  // namespace

CableOpenResult DumpCable::Open(const char*) {
    CableOpenResult result;
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    if (file == nullptr) {
        result.status = FT_DEVICE_NOT_OPENED;
        result.reason = "cannot create the dump file " + path_ + ": " + std::strerror(errno);
        return result;
    }
    result.status = FT_OK;
    result.device = std::make_unique<DumpDevice>(file);
    return result;
}

}  // namespace tunlet
