#include "cable/Ftd2xxMpsseCable.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "cable/Ftd2xxLibrary.h"

namespace tunlet {

namespace {

constexpr ::ULONG kWriteTimeoutMs = 2000;
constexpr ::UCHAR kLatencyMs = 2;
constexpr ::UCHAR kModeReset = 0x00;
constexpr ::UCHAR kModeMpsse = 0x02;

class D2xxPort : public MpssePort {
public:
    D2xxPort(const Ftd2xxLibrary& lib, Ftd2xxHandle handle, ::UCHAR mask) : lib_(lib), handle_(handle), mask_(mask) {}
    ~D2xxPort() override { lib_.close(handle_); }

    FT_STATUS Write(const std::uint8_t* data, std::size_t count) override {
        for (std::size_t at = 0; at < count;) {
            const auto n = static_cast<::DWORD>(std::min<std::size_t>(count - at, INT_MAX / 2));
            ::DWORD sent = 0;
            const Ftd2xxStatus status = lib_.write(handle_, const_cast<std::uint8_t*>(data + at), n, &sent);
            if (status != 0) return static_cast<FT_STATUS>(status);
            if (sent != n) return FT_IO_ERROR;
            at += n;
        }
        return FT_OK;
    }

    // The library hides the status bytes; the read time-out set at open bounds the wait.
    FT_STATUS Read(std::uint8_t* data, std::size_t count, std::size_t* got) override {
        ::DWORD received = 0;
        const Ftd2xxStatus status = lib_.read(handle_, data, static_cast<::DWORD>(count), &received);
        *got = received;
        return static_cast<FT_STATUS>(status);
    }

    FT_STATUS Restart() override {
        if (lib_.setBitMode(handle_, 0, kModeReset) != 0 || lib_.purge(handle_, kFtd2xxPurgeRx | kFtd2xxPurgeTx) != 0 ||
            lib_.setBitMode(handle_, mask_, kModeMpsse) != 0) {
            return FT_IO_ERROR;
        }
        return FT_OK;
    }

private:
    const Ftd2xxLibrary& lib_;
    Ftd2xxHandle handle_;
    ::UCHAR mask_;
};

// The serial number the library gives the open channel, without its channel letter.
std::string ChannelSerial(const Ftd2xxLibrary& lib, Ftd2xxHandle handle) {
    if (lib.getDeviceInfo == nullptr) return "";
    ::ULONG type = 0;
    ::DWORD id = 0;
    char serial[16] = {}, description[64] = {};
    if (lib.getDeviceInfo(handle, &type, &id, serial, description, nullptr) != 0) return "";
    std::string s(serial, strnlen(serial, sizeof serial));
    if (s.size() > 1 && s.back() == 'A') s.pop_back();
    if (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

}  // namespace

CableOpenResult Ftd2xxMpsseCable::Open(const char*) {
    CableOpenResult result;
    const std::string name = model_.name;
    std::string problem;
    const Ftd2xxLibrary* lib = LoadFtd2xx(library_, true, problem);
    if (lib == nullptr) {
        result.status = FT_DEVICE_NOT_FOUND;
        result.reason = problem;
        return result;
    }
    // Each channel of an FT2232H is a device of its own to the library, its name
    // and serial number marked with the channel's letter (the serial with or without
    // a space before it, as driver versions have it).
    Ftd2xxHandle handle = nullptr;
    Ftd2xxStatus status = kFtd2xxDeviceNotFound;
    if (serial_.empty()) {
        std::string arg = model_.d2xxChannelA;
        status = lib->openEx(arg.data(), kFtd2xxOpenByDescription, &handle);
    }
    for (const char* suffix : {"A", " A"}) {
        if (serial_.empty() || status != kFtd2xxDeviceNotFound) break;
        std::string arg = serial_ + suffix;
        status = lib->openEx(arg.data(), kFtd2xxOpenBySerial, &handle);
    }
    if (status != 0 || handle == nullptr) {
        result.status = status != 0 ? static_cast<FT_STATUS>(status) : FT_DEVICE_NOT_OPENED;
        result.reason = status == kFtd2xxDeviceNotFound
                            ? "no " + name + " found: the cable is not plugged in" +
                                  (serial_.empty() ? "" : " (none with serial " + serial_ + ")")
                            : "the " + name + " cannot be opened (another program may be using it)";
        return result;
    }
    auto port = std::make_unique<D2xxPort>(*lib, handle, model_.pins.lowDirection);  // closes the handle on every path
    if (lib->setTimeouts(handle, kReadTimeoutMs, kWriteTimeoutMs) != 0 || port->Restart() != FT_OK ||
        lib->setLatencyTimer(handle, kLatencyMs) != 0) {
        result.status = FT_DEVICE_NOT_OPENED;
        result.reason = "the " + name + " cannot be set up (FT_SetTimeouts, FT_SetBitMode or FT_SetLatencyTimer failed)";
        return result;
    }
    if (const std::string why = StartMpsse(*port, model_.pins, OpenTckKhz(tckKhz_)); !why.empty()) {
        result.status = FT_DEVICE_NOT_OPENED;
        result.reason = "the " + name + " cannot be set up: " + why;
        return result;
    }
    result.status = FT_OK;
    result.name = MpsseCableName(model_, serial_.empty() ? ChannelSerial(*lib, handle) : serial_);
    result.device = std::make_unique<MpsseDevice>(std::move(port), model_.pins, OpenTckKhz(tckKhz_));
    return result;
}

}  // namespace tunlet
