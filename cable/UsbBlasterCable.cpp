#include "cable/UsbBlasterCable.h"

#include <ftdi.h>
#include <libusb.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

namespace tunlet {

namespace {

// A short latency timer, so that small writes (the JTAG walks) leave the chip at once
// and read-back comes home within 2 ms.
constexpr unsigned char kLatencyMs = 2;
// libusb's code for a transfer that ran out of time: for a read, nothing came.
constexpr int kLibusbTimeout = -7;

struct ContextDeleter {
    const FtdiApi* api;
    void operator()(ftdi_context* ctx) const { api->freeContext(ctx); }
};
using ContextPtr = std::unique_ptr<ftdi_context, ContextDeleter>;

class UsbBlasterDevice : public CableDevice {
public:
    UsbBlasterDevice(const FtdiApi& api, ContextPtr ctx, int readTimeoutMs)
        : api_(api), ctx_(std::move(ctx)), readTimeout_(readTimeoutMs) {}
    ~UsbBlasterDevice() override { api_.close(ctx_.get()); }

    FT_STATUS Write(const void* buffer, DWORD count, DWORD* written) override {
        *written = 0;
        if (count > static_cast<DWORD>(INT_MAX)) return FT_INVALID_PARAMETER;
        const int n = api_.writeData(ctx_.get(), static_cast<const unsigned char*>(buffer), static_cast<int>(count));
        if (n < 0) return FT_IO_ERROR;  // unplugged, or the write timed out
        *written = static_cast<DWORD>(n);
        return *written == count ? FT_OK : FT_IO_ERROR;
    }

    bool CanRead() const override { return true; }

    // libftdi hands back only what has come and strips the chip's two status bytes
    // per USB packet, returning 0 while only those came: ask again until the answer
    // is whole or the wait is over.
    FT_STATUS Read(void* buffer, DWORD count, DWORD* got) override {
        *got = 0;
        if (count > static_cast<DWORD>(INT_MAX)) return FT_INVALID_PARAMETER;
        auto* bytes = static_cast<unsigned char*>(buffer);
        const auto deadline = std::chrono::steady_clock::now() + readTimeout_;
        while (*got < count) {
            const int n = api_.readData(ctx_.get(), bytes + *got, static_cast<int>(count - *got));
            if (n < 0 && n != kLibusbTimeout) return FT_IO_ERROR;  // unplugged
            if (n > 0) *got += static_cast<DWORD>(n);
            if (*got < count && std::chrono::steady_clock::now() >= deadline) break;
        }
        return FT_OK;
    }

private:
    const FtdiApi& api_;
    ContextPtr ctx_;
    std::chrono::milliseconds readTimeout_;
};

std::string OpenFailure(int code, const char* libraryText) {
    std::string reason;
    switch (code) {
        case -3:
            reason = "no USB-Blaster found: the cable is not plugged in";
            break;
        case -4:
            reason =
                "the USB-Blaster cannot be opened: no permission (the udev rule "
                "/usr/lib/udev/rules.d/60-tunlet-usb-blaster.rules, which the Debian package installs, "
                "gives it; plug the cable in again after installing)";
            break;
        case -5:
            reason = "the USB-Blaster is busy: another program (or a kernel driver) is using it";
            break;
        default:
            reason = "the USB-Blaster cannot be opened";
            break;
    }
    if (libraryText != nullptr && *libraryText != '\0') reason += std::string(" (libftdi: ") + libraryText + ")";
    return reason;
}

}  // namespace

const FtdiApi& RealFtdiApi() {
    static const FtdiApi api{
        [] { return ftdi_new(); },
        [](ftdi_context* c) { ftdi_free(c); },
        [](ftdi_context* c, int v, int p, const char* d, const char* s) { return ftdi_usb_open_desc(c, v, p, d, s); },
        [](ftdi_context* c) { return ftdi_usb_close(c); },
        [](ftdi_context* c, unsigned char m, unsigned char mode) { return ftdi_set_bitmode(c, m, mode); },
        [](ftdi_context* c, unsigned char l) { return ftdi_set_latency_timer(c, l); },
        [](ftdi_context* c, const unsigned char* b, int n) { return ftdi_write_data(c, b, n); },
        [](ftdi_context* c, unsigned char* b, int n) { return ftdi_read_data(c, b, n); },
        [](ftdi_context* c) { return ftdi_tcioflush(c); },
        [](ftdi_context* c) { return ftdi_get_error_string(c); },
        [](ftdi_context* c, unsigned int n) { return ftdi_write_data_set_chunksize(c, n); },
        [](ftdi_context* c, int channel) { return ftdi_set_interface(c, static_cast<ftdi_interface>(channel)); },
        [](ftdi_context* c, char* serial, int size) {
            if (size > 0) *serial = '\0';
            return ftdi_usb_get_strings2(c, libusb_get_device(c->usb_dev), nullptr, 0, nullptr, 0, serial, size);
        },
        [](ftdi_context* c, int v, int p, const char* description, std::vector<std::string>* serials) {
            ftdi_device_list* list = nullptr;
            const int n = ftdi_usb_find_all(c, &list, v, p);
            int found = 0;
            for (ftdi_device_list* d = list; n > 0 && d != nullptr; d = d->next) {
                char product[128] = {}, serial[128] = {};
                if (ftdi_usb_get_strings(c, d->dev, nullptr, 0, product, sizeof product, serial, sizeof serial) < 0) {
                    product[0] = serial[0] = '\0';
                }
                if (description != nullptr && std::strcmp(product, description) != 0) continue;
                serials->emplace_back(serial);
                ++found;
            }
            ftdi_list_free(&list);
            return n < 0 ? n : found;
        },
    };
    return api;
}

CableOpenResult UsbBlasterCable::Open(const char* description) { return OpenDevice(description, nullptr); }

std::vector<SeenCable> UsbBlasterCable::List() {
    std::vector<SeenCable> seen;
    ContextPtr ctx(api_.newContext(), ContextDeleter{&api_});
    if (!ctx) return seen;
    for (const int product : kUsbBlasterProducts) {
        std::vector<std::string> serials;
        if (api_.listSerials(ctx.get(), kUsbBlasterVendor, product, nullptr, &serials) <= 0) continue;
        for (std::string& serial : serials) seen.push_back({"USB-Blaster", std::move(serial)});
    }
    return seen;
}

CableOpenResult UsbBlasterCable::OpenSerial(const std::string& serial) {
    CableOpenResult result = OpenDevice(nullptr, serial.empty() ? nullptr : serial.c_str());
    if (result.status == FT_OK && !serial.empty()) result.name = CableLabel({result.name, serial});
    return result;
}

CableOpenResult UsbBlasterCable::OpenDevice(const char* description, const char* serial) {
    CableOpenResult result;
    ContextPtr ctx(api_.newContext(), ContextDeleter{&api_});
    if (!ctx) {
        result.status = FT_OTHER_ERROR;
        result.reason = "libftdi could not be initialised";
        return result;
    }
    // A cable that stops answering fails the write after this long instead of holding
    // the transfer; an unplugged one fails at once.
    ctx->usb_write_timeout = writeTimeoutMs_;
    // One USB read never waits longer than a whole answer may take.
    ctx->usb_read_timeout = readTimeoutMs_;
    // The first of the cable's IDs that is on the bus; "not found" only when none is.
    int code = -3;
    for (const int product : kUsbBlasterProducts) {
        code = api_.openDesc(ctx.get(), kUsbBlasterVendor, product, description, serial);
        if (code != -3) break;
    }
    if (code < 0) {
        result.status = code == -3 ? FT_DEVICE_NOT_FOUND : FT_DEVICE_NOT_OPENED;
        result.reason = OpenFailure(code, api_.errorString(ctx.get()));
        return result;  // ctx freed here
    }
    // Plain FIFO mode (bit-bang off), a short latency timer, nothing stale left to
    // read from an earlier user, and writes cut into USB transfers of
    // kUsbTransferBytes (packed uploads write whole ones); no byte is written.
    if (api_.setBitmode(ctx.get(), 0x00, BITMODE_RESET) < 0 || api_.setLatencyTimer(ctx.get(), kLatencyMs) < 0 ||
        api_.purge(ctx.get()) < 0 ||
        api_.setWriteChunksize(ctx.get(), static_cast<unsigned>(kUsbTransferBytes)) < 0) {
        result.status = FT_DEVICE_NOT_OPENED;
        result.reason = std::string("the USB-Blaster cannot be set up (libftdi: ") + api_.errorString(ctx.get()) + ")";
        api_.close(ctx.get());
        return result;
    }
    result.status = FT_OK;
    result.name = "USB-Blaster";
    result.device = std::make_unique<UsbBlasterDevice>(api_, std::move(ctx), readTimeoutMs_);
    return result;
}

}  // namespace tunlet
