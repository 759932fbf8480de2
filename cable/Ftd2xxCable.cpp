#include "cable/Ftd2xxCable.h"

#include <memory>

#include "cable/Ftd2xxLibrary.h"

namespace tunlet {

namespace {

// How long one write may wait for the cable before it counts as failed.
constexpr ::ULONG kWriteTimeoutMs = 2000;

class Ftd2xxDevice : public CableDevice {
public:
    Ftd2xxDevice(const Ftd2xxLibrary& lib, Ftd2xxHandle handle) : lib_(lib), handle_(handle) {}
    ~Ftd2xxDevice() override { lib_.close(handle_); }

    FT_STATUS Write(const void* buffer, DWORD count, DWORD* written) override {
        ::DWORD sent = 0;
        const Ftd2xxStatus status = lib_.write(handle_, const_cast<void*>(buffer), count, &sent);
        *written = static_cast<DWORD>(sent);
        if (status != 0) return static_cast<FT_STATUS>(status);
        return sent == count ? FT_OK : FT_IO_ERROR;
    }

    bool CanRead() const override { return true; }

    // The read time-out set at open bounds the wait; a short answer comes back as
    // FT_OK with fewer bytes, as the library reports it.
    FT_STATUS Read(void* buffer, DWORD count, DWORD* got) override {
        ::DWORD received = 0;
        const Ftd2xxStatus status = lib_.read(handle_, buffer, count, &received);
        *got = static_cast<DWORD>(received);
        return static_cast<FT_STATUS>(status);
    }

private:
    const Ftd2xxLibrary& lib_;
    Ftd2xxHandle handle_;
};

}  // namespace

CableOpenResult Ftd2xxCable::Open(const char* description) {
    CableOpenResult result;
    std::string problem;
    const Ftd2xxLibrary* lib = LoadFtd2xx(library_, false, problem);
    if (lib == nullptr) {
        result.status = FT_DEVICE_NOT_FOUND;
        result.reason = problem;
        return result;
    }
    Ftd2xxHandle handle = nullptr;
    const Ftd2xxStatus status = lib->openEx(const_cast<char*>(description), FT_OPEN_BY_DESCRIPTION, &handle);
    if (status != 0 || handle == nullptr) {
        result.status = status != 0 ? static_cast<FT_STATUS>(status) : FT_DEVICE_NOT_OPENED;
        result.reason = status == FT_DEVICE_NOT_FOUND
                            ? "no USB-Blaster found: the cable is not plugged in (a USB-Blaster II, as on the "
                              "SoC boards, is not supported on Windows yet)"
                            : "the USB-Blaster cannot be opened (another program may be using it)";
        return result;
    }
    auto device = std::make_unique<Ftd2xxDevice>(*lib, handle);  // closes the handle on every path
    // Reads and writes that never block for ever, and nothing stale left to read.
    if (lib->setTimeouts(handle, kReadTimeoutMs, kWriteTimeoutMs) != 0 || lib->purge(handle, kFtd2xxPurgeRx | kFtd2xxPurgeTx) != 0) {
        result.status = FT_DEVICE_NOT_OPENED;
        result.reason = "the USB-Blaster cannot be set up (FT_SetTimeouts or FT_Purge failed)";
        return result;
    }
    result.status = FT_OK;
    result.name = "USB-Blaster";
    result.device = std::move(device);
    return result;
}

}  // namespace tunlet
