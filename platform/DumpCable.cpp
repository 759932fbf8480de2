#include "platform/DumpCable.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tunlet {

namespace {

class DumpDevice : public CableDevice {
public:
    explicit DumpDevice(std::FILE* file) : file_(file) {}
    FT_STATUS Write(const void* buffer, DWORD count, DWORD* written) override {
        const std::size_t sent = count == 0 ? 0 : std::fwrite(buffer, 1, count, file_.get());
        *written = static_cast<DWORD>(sent);
        return sent == count ? FT_OK : FT_IO_ERROR;
    }

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
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
