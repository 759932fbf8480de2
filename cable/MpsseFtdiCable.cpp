#include "cable/MpsseFtdiCable.h"

#include <ftdi.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <memory>

namespace tunlet {

namespace {

constexpr unsigned char kLatencyMs = 2;
constexpr int kLibusbTimeout = -7;
// USB transfers of whole high-speed packets.
constexpr unsigned kChunkBytes = 32 * mpsse::kPacketBytes;
static_assert(kChunkBytes % mpsse::kPacketBytes == 0);

struct ContextDeleter {
    const FtdiApi* api;
    void operator()(ftdi_context* ctx) const { api->freeContext(ctx); }
};
using ContextPtr = std::unique_ptr<ftdi_context, ContextDeleter>;

class FtdiPort : public MpssePort {
public:
    FtdiPort(const FtdiApi& api, ContextPtr ctx, std::uint8_t mask, int readTimeoutMs)
        : api_(api), ctx_(std::move(ctx)), mask_(mask), readTimeout_(readTimeoutMs) {}
    ~FtdiPort() override { api_.close(ctx_.get()); }

    FT_STATUS Write(const std::uint8_t* data, std::size_t count) override {
        for (std::size_t at = 0; at < count;) {
            const int n = static_cast<int>(std::min<std::size_t>(count - at, INT_MAX / 2));
            if (api_.writeData(ctx_.get(), data + at, n) != n) return FT_IO_ERROR;
            at += static_cast<std::size_t>(n);
        }
        return FT_OK;
    }

    // libftdi takes the two status bytes off each packet and returns 0 while only
    // those came: ask again until the answer is whole or the wait is over.
    FT_STATUS Read(std::uint8_t* data, std::size_t count, std::size_t* got) override {
        *got = 0;
        const auto deadline = std::chrono::steady_clock::now() + readTimeout_;
        while (*got < count) {
            const int want = static_cast<int>(std::min<std::size_t>(count - *got, INT_MAX / 2));
            const int n = api_.readData(ctx_.get(), data + *got, want);
            if (n < 0 && n != kLibusbTimeout) return FT_IO_ERROR;
            if (n > 0) *got += static_cast<std::size_t>(n);
            if (*got < count && std::chrono::steady_clock::now() >= deadline) break;
        }
        return FT_OK;
    }

    FT_STATUS Restart() override {
        if (api_.setBitmode(ctx_.get(), 0x00, BITMODE_RESET) < 0 || api_.purge(ctx_.get()) < 0 ||
            api_.setBitmode(ctx_.get(), mask_, BITMODE_MPSSE) < 0) {
            return FT_IO_ERROR;
        }
        return FT_OK;
    }

    ftdi_context* context() const { return ctx_.get(); }

private:
    const FtdiApi& api_;
    ContextPtr ctx_;
    std::uint8_t mask_;
    std::chrono::milliseconds readTimeout_;
};

std::string OpenFailure(const MpsseCableModel& model, int code, const char* libraryText) {
    const std::string name = model.name;
    std::string reason;
    switch (code) {
        case -3:
            reason = "no " + name + " found: the cable is not plugged in";
            break;
        case -4:
            reason = "the " + name +
                     " cannot be opened: no permission (the udev rule "
                     "/usr/lib/udev/rules.d/60-tunlet-usb-blaster.rules, which the Debian package installs, "
                     "gives it; plug the cable in again after installing)";
            break;
        case -5:
            reason = "the " + name + " is busy: another program (or the ftdi_sio kernel driver) is using it";
            break;
        default:
            reason = "the " + name + " cannot be opened";
            break;
    }
    if (libraryText != nullptr && *libraryText != '\0') reason += std::string(" (libftdi: ") + libraryText + ")";
    return reason;
}

}  // namespace

CableOpenResult MpsseFtdiCable::Open(const char*) { return OpenWith(serial_); }

std::vector<SeenCable> MpsseFtdiCable::List() {
    std::vector<SeenCable> seen;
    ContextPtr ctx(api_.newContext(), ContextDeleter{&api_});
    std::vector<std::string> serials;
    if (!ctx || api_.listSerials(ctx.get(), model_.vendor, model_.product, model_.usbProduct, &serials) <= 0) return seen;
    for (std::string& serial : serials) seen.push_back({model_.name, std::move(serial)});
    return seen;
}

CableOpenResult MpsseFtdiCable::OpenSerial(const std::string& serial) { return OpenWith(serial); }

std::string MpsseFtdiCable::Looks() const {
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", static_cast<unsigned>(model_.vendor), static_cast<unsigned>(model_.product));
    return "the " + std::string(model_.name) + " (" + ids + ")";
}

CableOpenResult MpsseFtdiCable::OpenWith(const std::string& wanted) {
    CableOpenResult result;
    ContextPtr ctx(api_.newContext(), ContextDeleter{&api_});
    if (!ctx) {
        result.status = FT_OTHER_ERROR;
        result.reason = "libftdi could not be initialised";
        return result;
    }
    ctx->usb_write_timeout = writeTimeoutMs_;
    ctx->usb_read_timeout = readTimeoutMs_;
    if (api_.setInterface(ctx.get(), INTERFACE_A) < 0) {
        result.status = FT_OTHER_ERROR;
        result.reason = std::string("libftdi cannot choose channel A (") + api_.errorString(ctx.get()) + ")";
        return result;
    }
    const int code = api_.openDesc(ctx.get(), model_.vendor, model_.product, model_.usbProduct,
                                   wanted.empty() ? nullptr : wanted.c_str());
    if (code < 0) {
        result.status = code == -3 ? FT_DEVICE_NOT_FOUND : FT_DEVICE_NOT_OPENED;
        result.reason = OpenFailure(model_, code, api_.errorString(ctx.get()));
        if (code == -3 && !wanted.empty()) result.reason += " (none with serial " + wanted + ")";
        return result;
    }
    char serial[64] = {};
    if (api_.serialNumber(ctx.get(), serial, sizeof serial) < 0) serial[0] = '\0';
    ftdi_context* raw = ctx.get();
    auto port = std::make_unique<FtdiPort>(api_, std::move(ctx), model_.pins.lowDirection, readTimeoutMs_);
    // Reset, MPSSE mode with nothing stale left in the chip, a short latency timer so
    // that answers come home within 2 ms, and writes cut into whole packets.
    if (port->Restart() != FT_OK || api_.setLatencyTimer(raw, kLatencyMs) < 0 ||
        api_.setWriteChunksize(raw, kChunkBytes) < 0) {
        result.status = FT_DEVICE_NOT_OPENED;
        result.reason = "the " + std::string(model_.name) + " cannot be set up (libftdi: " + api_.errorString(raw) + ")";
        return result;  // the port closes the device
    }
    if (const std::string problem = StartMpsse(*port, model_.pins, OpenTckKhz(tckKhz_)); !problem.empty()) {
        result.status = FT_DEVICE_NOT_OPENED;
        result.reason = "the " + std::string(model_.name) + " cannot be set up: " + problem;
        return result;
    }
    result.status = FT_OK;
    result.name = MpsseCableName(model_, serial);
    result.device = std::make_unique<MpsseDevice>(std::move(port), model_.pins, OpenTckKhz(tckKhz_));
    return result;
}

}  // namespace tunlet
