#include "cable/UsbBlaster2Cable.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>
#include <thread>

#include "cable/UsbBlasterCable.h"

namespace tunlet {

using namespace blaster2;

namespace {

// bmRequestType of a vendor request to the device: host to device, device to host.
constexpr std::uint8_t kVendorOut = 0x40;
constexpr std::uint8_t kVendorIn = 0xC0;
constexpr unsigned kControlTimeoutMs = 1000;
constexpr int kVersionBytes = 5;  // room for the answer; one byte is enough to count as one

struct ContextExit {
    void operator()(libusb_context* c) const { libusb_exit(c); }
};
using Context = std::unique_ptr<libusb_context, ContextExit>;

struct HandleClose {
    void operator()(libusb_device_handle* h) const { libusb_close(h); }
};
using Handle = std::unique_ptr<libusb_device_handle, HandleClose>;

// A device list of one context, freed with it.
class DeviceList {
public:
    explicit DeviceList(libusb_context* ctx) {
        const ssize_t n = libusb_get_device_list(ctx, &list_);
        count_ = n < 0 ? 0 : static_cast<std::size_t>(n);
    }
    ~DeviceList() {
        if (list_ != nullptr) libusb_free_device_list(list_, 1);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    // The devices with the cable maker's vendor ID and this product ID, in bus order.
    std::vector<libusb_device*> With(int product) const {
        std::vector<libusb_device*> found;
        for (std::size_t i = 0; i < count_; ++i) {
            libusb_device_descriptor d{};
            if (libusb_get_device_descriptor(list_[i], &d) == 0 && d.idVendor == kUsbBlasterVendor &&
                d.idProduct == product) {
                found.push_back(list_[i]);
            }
        }
        return found;
    }

private:
    libusb_device** list_ = nullptr;
    std::size_t count_ = 0;
};

Context NewContext() {
    libusb_context* ctx = nullptr;
    if (libusb_init(&ctx) != 0) return nullptr;
    return Context(ctx);
}

std::string SerialOf(libusb_device_handle* h, libusb_device* dev) {
    libusb_device_descriptor d{};
    unsigned char text[128] = {};
    if (libusb_get_device_descriptor(dev, &d) != 0 || d.iSerialNumber == 0) return "";
    const int n = libusb_get_string_descriptor_ascii(h, d.iSerialNumber, text, sizeof text - 1);
    return n > 0 ? std::string(reinterpret_cast<char*>(text), static_cast<std::size_t>(n)) : "";
}

std::string SerialOf(libusb_device* dev) {
    libusb_device_handle* raw = nullptr;
    if (libusb_open(dev, &raw) != 0) return "";  // no permission: seen, serial unknown
    const Handle h(raw);
    return SerialOf(h.get(), dev);
}

std::string Library(int code) { return std::string(" (libusb: ") + libusb_error_name(code) + ")"; }

CableOpenResult Failed(FT_STATUS status, std::string reason) {
    CableOpenResult result;
    result.status = status;
    result.reason = std::move(reason);
    return result;
}

CableOpenResult OpenFailure(int code) {
    switch (code) {
        case LIBUSB_ERROR_ACCESS:
            return Failed(FT_DEVICE_NOT_OPENED,
                          "the USB-Blaster II cannot be opened: no permission (the udev rule "
                          "/usr/lib/udev/rules.d/60-tunlet-usb-blaster.rules, which the Debian package installs, "
                          "gives it; plug the cable in again after installing)" + Library(code));
        case LIBUSB_ERROR_NO_DEVICE:
            return Failed(FT_DEVICE_NOT_FOUND, "no USB-Blaster II found: the cable is not plugged in" + Library(code));
        case LIBUSB_ERROR_BUSY:
            return Failed(FT_DEVICE_NOT_OPENED,
                          "the USB-Blaster II is busy: another program is using it (Quartus's JTAG server jtagd "
                          "often holds it: quit Quartus and stop jtagd, then try again)" + Library(code));
        default:
            return Failed(FT_DEVICE_NOT_OPENED, "the USB-Blaster II cannot be opened" + Library(code));
    }
}

class UsbBlaster2Device : public CableDevice {
public:
    UsbBlaster2Device(Context ctx, Handle handle, const UsbBlaster2Options& options)
        : ctx_(std::move(ctx)), handle_(std::move(handle)), writeTimeout_(options.writeTimeoutMs),
          readTimeout_(options.readTimeoutMs) {}
    ~UsbBlaster2Device() override { libusb_release_interface(handle_.get(), kInterface); }

    // In transfers of kUsbTransferBytes: whole high-speed packets but the last.
    FT_STATUS Write(const void* buffer, DWORD count, DWORD* written) override {
        *written = 0;
        auto* bytes = static_cast<unsigned char*>(const_cast<void*>(buffer));
        while (*written < count) {
            const int size = static_cast<int>(std::min<std::size_t>(count - *written, kUsbTransferBytes));
            int sent = 0;
            const int code =
                libusb_bulk_transfer(handle_.get(), kBulkOut, bytes + *written, size, &sent, static_cast<unsigned>(writeTimeout_));
            *written += static_cast<DWORD>(std::max(sent, 0));
            if (code != 0) return code == LIBUSB_ERROR_NO_DEVICE ? FT_DEVICE_NOT_FOUND : FT_IO_ERROR;
        }
        return FT_OK;
    }

    bool CanRead() const override { return true; }

    // 0x5F, then the answers as they come, until they are whole or the wait is over.
    FT_STATUS Read(void* buffer, DWORD count, DWORD* got) override {
        *got = 0;
        if (count == 0) return FT_OK;
        if (count > static_cast<DWORD>(INT_MAX)) return FT_INVALID_PARAMETER;
        unsigned char flush = kFlush;
        int sent = 0;
        const int code = libusb_bulk_transfer(handle_.get(), kBulkOut, &flush, 1, &sent, static_cast<unsigned>(writeTimeout_));
        if (code != 0 || sent != 1) return FT_IO_ERROR;
        auto* bytes = static_cast<unsigned char*>(buffer);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(readTimeout_);
        while (*got < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            int n = 0;
            const int r = libusb_bulk_transfer(handle_.get(), kBulkIn, bytes + *got, static_cast<int>(count - *got), &n,
                                               static_cast<unsigned>(left));
            if (n > 0) *got += static_cast<DWORD>(n);
            if (r == LIBUSB_ERROR_TIMEOUT) break;
            if (r != 0) return FT_IO_ERROR;  // unplugged, or the chip refused
        }
        return FT_OK;
    }

private:
    Context ctx_;  // outlives the handle: declared first
    Handle handle_;
    int writeTimeout_;
    int readTimeout_;
};

// Opens a started cable: claims its interface and asks its firmware's version. The
// device takes the context when it opens.
CableOpenResult OpenStarted(Context& ctx, libusb_device* dev, const UsbBlaster2Options& options) {
    libusb_device_handle* raw = nullptr;
    int code = libusb_open(dev, &raw);
    if (code != 0) return OpenFailure(code);
    Handle handle(raw);
    code = libusb_claim_interface(handle.get(), kInterface);
    if (code != 0) return OpenFailure(code);
    unsigned char version[kVersionBytes] = {};
    code = libusb_control_transfer(handle.get(), kVendorIn, kFirmwareVersion, 0, 0, version, sizeof version,
                                   kControlTimeoutMs);
    if (code <= 0) {
        libusb_release_interface(handle.get(), kInterface);
        return Failed(FT_DEVICE_NOT_OPENED,
                      "the USB-Blaster II's firmware does not answer (its version request failed): unplug the cable, "
                      "plug it in again and try again" + Library(code < 0 ? code : LIBUSB_ERROR_IO));
    }
    CableOpenResult result;
    result.status = FT_OK;
    result.name = CableLabel({"USB-Blaster II", SerialOf(handle.get(), dev)});
    result.device = std::make_unique<UsbBlaster2Device>(std::move(ctx), std::move(handle), options);
    return result;
}

// The FX2's RAM filled with the records: 8051 held in reset, records, let run. The
// last request may fail as the chip leaves the bus.
CableOpenResult LoadFirmware(libusb_device* dev, const FirmwareImage& image) {
    libusb_device_handle* raw = nullptr;
    int code = libusb_open(dev, &raw);
    if (code != 0) return OpenFailure(code);
    const Handle handle(raw);
    auto load = [&](unsigned address, const unsigned char* data, unsigned size) {
        return libusb_control_transfer(handle.get(), kVendorOut, kFirmwareLoad, static_cast<std::uint16_t>(address), 0,
                                       const_cast<unsigned char*>(data), static_cast<std::uint16_t>(size),
                                       kControlTimeoutMs);
    };
    const unsigned char hold = 1, run = 0;
    code = load(kCpucs, &hold, 1);
    for (const HexRecord& record : image.records) {
        for (std::size_t at = 0; code >= 0 && at < record.bytes.size(); at += kLoadChunkBytes) {
            const auto size = static_cast<unsigned>(std::min<std::size_t>(kLoadChunkBytes, record.bytes.size() - at));
            code = load(record.address + static_cast<unsigned>(at), record.bytes.data() + at, size);
        }
    }
    if (code < 0) {
        return Failed(FT_DEVICE_NOT_OPENED, "the USB-Blaster II's firmware could not be loaded" + Library(code));
    }
    load(kCpucs, &run, 1);
    return Failed(FT_OK, "");
}

}  // namespace

std::vector<SeenCable> UsbBlaster2Cable::List() {
    std::vector<SeenCable> seen;
    const Context ctx = NewContext();
    if (!ctx) return seen;
    const DeviceList list(ctx.get());
    for (libusb_device* dev : list.With(kUsbBlaster2Product)) seen.push_back({"USB-Blaster II", SerialOf(dev)});
    for (std::size_t i = 0; i < list.With(kUsbBlaster2Unloaded).size(); ++i) {
        seen.push_back({"USB-Blaster II (no firmware yet)", ""});
    }
    return seen;
}

CableOpenResult UsbBlaster2Cable::OpenSerial(const std::string& serial) {
    // A started cable, with the serial asked for when one is.
    auto started = [&](const DeviceList& list) -> libusb_device* {
        for (libusb_device* dev : list.With(kUsbBlaster2Product)) {
            if (serial.empty() || SerialOf(dev) == serial) return dev;
        }
        return nullptr;
    };
    {
        Context ctx = NewContext();
        if (!ctx) return Failed(FT_OTHER_ERROR, "libusb could not be initialised");
        const DeviceList list(ctx.get());
        if (libusb_device* dev = started(list)) return OpenStarted(ctx, dev, options_);
        const std::vector<libusb_device*> unloaded = list.With(kUsbBlaster2Unloaded);
        if (unloaded.empty()) {
            return Failed(FT_DEVICE_NOT_FOUND, serial.empty()
                                                   ? "no USB-Blaster II found: the cable is not plugged in"
                                                   : "no USB-Blaster II with serial number " + serial + " is plugged in");
        }
        // The firmware is read whole and checked before anything reaches the chip.
        FirmwareRoots roots = options_.roots;
        roots.given = CableFirmware();
        const FirmwareImage image = FindBlasterFirmware(roots);
        if (!image.error.empty()) return Failed(FT_DEVICE_NOT_OPENED, image.error);
        ReportCableProgress("Loading the USB-Blaster II's firmware from " + image.path + "...");
        CableOpenResult loaded = LoadFirmware(unloaded.front(), image);
        if (loaded.status != FT_OK) return loaded;
    }
    ReportCableProgress("Waiting for the USB-Blaster II to start with its firmware...");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.comeBackMs);
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(options_.pollMs));
        // A fresh look at the bus each time: the chip comes back as a new device.
        Context ctx = NewContext();
        if (ctx) {
            const DeviceList list(ctx.get());
            if (libusb_device* dev = started(list)) return OpenStarted(ctx, dev, options_);
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
    }
    return Failed(FT_DEVICE_NOT_FOUND,
                  "the USB-Blaster II did not come back after its firmware was loaded (Tunlet waited " +
                      std::to_string(options_.comeBackMs / 1000) +
                      " s): unplug the cable, plug it in again and try again");
}

}  // namespace tunlet
