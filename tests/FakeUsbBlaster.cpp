#include "tests/FakeUsbBlaster.h"

#include "cable/TapDecoder.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>

namespace tunlet::test {

namespace {

constexpr std::uint8_t kBulkOut = 0x02;
constexpr std::uint8_t kBulkIn = 0x81;
// The FT245's two status bytes: modem status (CTS, DSR and the fixed bit 0) and line
// status (transmitter empty).
constexpr std::uint8_t kModemStatus = 0x31;
constexpr std::uint8_t kLineStatus = 0x60;
// FTDI vendor requests that read.
constexpr std::uint8_t kSetLatencyTimer = 0x09;
constexpr std::uint8_t kGetLatencyTimer = 0x0A;
constexpr std::uint8_t kGetModemStatus = 0x05;
constexpr std::uint8_t kReset = 0x00;
constexpr std::uint16_t kPurgeToChip = 1;  // the other purge: bytes not yet sent to the cable
constexpr std::uint8_t kSetBitmode = 0x0B;  // value: mask in the low byte, mode in the high
constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::uint8_t kStringDescriptor = 3;
constexpr char kDevNode[] = "/dev/bus/usb/001/002";
constexpr char kSysPath[] = "/sys/devices/usb1/1-1";

// The device: FT245 (bcdDevice 0x0400) with the USB-Blaster's IDs; one configuration
// with one vendor interface and two 64-byte bulk endpoints.
constexpr FakeIdentity kUsbBlaster{
    "1201000200000040FB0901600004010200" "01"  // device
    "090220000101008032"                    // configuration
    "0904000002FFFFFF00"                    // interface
    "07058102400000"                        // bulk IN 0x81
    "07050202400000",                       // bulk OUT 0x02
    "12", {"Altera", "USB-Blaster", nullptr}, 64, 256};

std::string DeviceText(const FakeIdentity& id, bool withNode) {
    std::string text = "P: /devices/usb1/1-1\n";
    if (withNode) text += std::string("N: ") + (kDevNode + 5) + "\n";
    text += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/bus/usb/001/002\nE: BUSNUM=001\nE: DEVNUM=002\n"
            "A: busnum=1\\n\nA: devnum=2\\n\n";
    text += std::string("A: speed=") + id.speed + "\\n\nA: bConfigurationValue=1\\n\n";
    text += std::string("H: descriptors=") + id.descriptors + "\n";
    return text;
}

// The USB-Blaster's CPLD: the byte protocol into a JTAG chain.
class BlasterChip : public FakeChip {
public:
    void Take(const std::uint8_t* data, std::size_t count, std::vector<std::uint8_t>& answers) override {
        tap_.Feed(data, count, &answers);
    }
    void SetBitmode(std::uint8_t, std::uint8_t) override {}
    void SetChain(std::vector<ChainDevice> devices, TdoLine line) override {
        tap_ = TapDecoder(JtagChain(std::move(devices), line));
    }

private:
    TapDecoder tap_;
};

std::vector<std::uint8_t> StringDescriptor(const FakeIdentity& id, unsigned index) {
    if (index == 0) return {4, kStringDescriptor, 0x09, 0x04};  // US English
    const char* text = index >= 1 && index <= 3 && id.strings[index - 1] != nullptr ? id.strings[index - 1] : "";
    std::vector<std::uint8_t> d = {static_cast<std::uint8_t>(2 + 2 * std::strlen(text)), kStringDescriptor};
    for (const char* p = text; *p != '\0'; ++p) d.insert(d.end(), {static_cast<std::uint8_t>(*p), 0});
    return d;
}

struct Unref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
template <typename T>
using GPtr = std::unique_ptr<T, Unref>;

}  // namespace

struct FakeUsbBlaster::State {
    // A submitted URB waiting to be reaped, with what the reap reports.
    struct Urb {
        UMockdevIoctlData* data;  // one reference held
        int status;
        int actual;
    };

    GPtr<UMockdevTestbed> testbed;
    GPtr<UMockdevIoctlBase> handler;
    Plug plug = Plug::Present;
    FakeIdentity identity = kUsbBlaster;

    // Everything below is shared with umockdev's thread.
    mutable std::mutex mutex;
    std::vector<std::uint8_t> received;
    std::vector<Request> requests;
    std::size_t transfers = 0;
    std::vector<std::size_t> transferSizes;
    std::size_t readTransfers = 0;
    std::unique_ptr<FakeChip> chip;
    std::deque<std::uint8_t> answers;  // read-back the cable has not sent yet
    Reads reads = Reads::Answered;
    std::uint8_t latency = 16;
    std::optional<std::size_t> failAt, vanishFrom, hangAt;
    std::size_t failArriving = 0;
    bool gone = false;
    std::map<UMockdevIoctlClient*, std::deque<Urb>> done;    // completed, to be reaped
    std::map<UMockdevIoctlClient*, std::vector<Urb>> held;   // never completing

    ~State() {
        for (auto& [client, urbs] : done) {
            for (Urb& u : urbs) g_object_unref(u.data);
        }
        for (auto& [client, urbs] : held) {
            for (Urb& u : urbs) g_object_unref(u.data);
        }
    }

    void Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
        GPtr<UMockdevIoctlData> buffer(umockdev_ioctl_data_resolve(
            urbData, G_STRUCT_OFFSET(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), nullptr));
        std::uint8_t* bytes = buffer->data;
        if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
            const std::uint8_t type = bytes[0];
            const std::uint8_t request = bytes[1];
            const auto value = static_cast<std::uint16_t>(bytes[2] | bytes[3] << 8);
            const auto index = static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8);
            const auto length = static_cast<std::size_t>(bytes[6] | bytes[7] << 8);
            int actual = 0;
            if (type & 0x80) {  // device to host: string descriptors and FTDI status
                std::vector<std::uint8_t> answer(length, 0);
                if ((type & 0x60) == 0 && request == kGetDescriptor && (value >> 8) == kStringDescriptor) {
                    answer = StringDescriptor(identity, value & 0xFF);
                } else if ((type & 0x60) == 0x40 && request == kGetLatencyTimer) {
                    answer = {latency};
                } else if ((type & 0x60) == 0x40 && request == kGetModemStatus) {
                    answer = {kModemStatus, kLineStatus};
                }
                const std::size_t room = static_cast<std::size_t>(urb->buffer_length) - 8;
                const std::size_t n = std::min({answer.size(), length, room});
                std::memcpy(bytes + 8, answer.data(), n);
                actual = static_cast<int>(n);
            } else {
                requests.push_back({request, value, index});
                if (request == kSetLatencyTimer) latency = static_cast<std::uint8_t>(value);
                if (request == kSetBitmode) chip->SetBitmode(static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8));
                // Reset (0) and the purge of what waits for the host (2) drop the answers.
                if (request == kReset && value != kPurgeToChip) answers.clear();
            }
            done[client].push_back({urbData, 0, actual});
        } else if (urb->endpoint == kBulkOut) {
            const std::size_t n = transfers++;
            transferSizes.push_back(static_cast<std::size_t>(urb->buffer_length));
            if (vanishFrom && n >= *vanishFrom) gone = true;
            if (gone) {
                g_object_unref(urbData);
                umockdev_ioctl_client_complete(client, -1, ENODEV);
                return;
            }
            if (failAt == n) {
                const std::size_t arrived = std::min(failArriving, static_cast<std::size_t>(urb->buffer_length));
                received.insert(received.end(), bytes, bytes + arrived);
                std::vector<std::uint8_t> answer;
                chip->Take(bytes, arrived, answer);
                answers.insert(answers.end(), answer.begin(), answer.end());
                done[client].push_back({urbData, -EPIPE, static_cast<int>(arrived)});
            } else if (hangAt == n) {
                held[client].push_back({urbData, 0, 0});
            } else {
                received.insert(received.end(), bytes, bytes + urb->buffer_length);
                std::vector<std::uint8_t> answer;
                chip->Take(bytes, static_cast<std::size_t>(urb->buffer_length), answer);
                answers.insert(answers.end(), answer.begin(), answer.end());
                if (answers.size() > identity.answerRoom) {
                    // The chip's answer buffer is full: the cable takes no more bytes
                    // until the host reads, and the host is still writing.
                    held[client].push_back({urbData, 0, 0});
                } else {
                    done[client].push_back({urbData, 0, urb->buffer_length});
                }
            }
        } else if (urb->endpoint == kBulkIn) {
            ++readTransfers;
            if (gone) {
                g_object_unref(urbData);
                umockdev_ioctl_client_complete(client, -1, ENODEV);
                return;
            }
            if (reads == Reads::Unanswered) {
                held[client].push_back({urbData, 0, 0});  // completes only when cancelled
            } else if (reads == Reads::Fail) {
                done[client].push_back({urbData, -EPIPE, 0});
            } else {
                done[client].push_back({urbData, 0, FillPackets(bytes, static_cast<std::size_t>(urb->buffer_length))});
            }
        } else {
            held[client].push_back({urbData, 0, 0});
        }
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    // What the chip sends on bulk IN: packets of its packet size, each two status
    // bytes and the rest data bytes; a short packet ends the transfer, and with nothing waiting
    // the chip still sends the status bytes alone.
    int FillPackets(std::uint8_t* buffer, std::size_t room) {
        std::size_t filled = 0;
        do {
            if (room - filled < 2) break;
            buffer[filled++] = kModemStatus;
            buffer[filled++] = kLineStatus;
            std::size_t n = 0;
            while (n < identity.packetSize - 2 && filled < room && !answers.empty()) {
                buffer[filled++] = answers.front();
                answers.pop_front();
                ++n;
            }
            if (n < identity.packetSize - 2) break;  // a short packet
        } while (!answers.empty());
        return static_cast<int>(filled);
    }

    void Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        auto it = done.find(client);
        if (it == done.end() || it->second.empty()) {
            umockdev_ioctl_client_complete(client, -1, gone ? ENODEV : EAGAIN);
            return;
        }
        const Urb u = it->second.front();
        it->second.pop_front();
        auto* urb = reinterpret_cast<usbdevfs_urb*>(u.data->data);
        urb->status = u.status;
        urb->actual_length = u.actual;
        GPtr<UMockdevIoctlData> slot(umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr));
        umockdev_ioctl_data_set_ptr(slot.get(), 0, u.data);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(u.data);
    }

    void Discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        const auto address = reinterpret_cast<gulong>(*reinterpret_cast<void**>(arg->data));
        auto& urbs = held[client];
        const auto it = std::find_if(urbs.begin(), urbs.end(), [&](const Urb& u) { return u.data->client_addr == address; });
        if (it == urbs.end()) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return;
        }
        done[client].push_back({it->data, -ENOENT, 0});
        urbs.erase(it);
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    gboolean Handle(UMockdevIoctlClient* client) {
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        std::lock_guard lock(mutex);
        // These take no pointer to resolve.
        if (request == USBDEVFS_RESET) {
            umockdev_ioctl_client_complete(client, gone ? -1 : 0, gone ? ENODEV : 0);
            return TRUE;
        }
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        if (request == USBDEVFS_DISCARDURB) {
            Discard(client, arg);
            return TRUE;
        }
        if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
            Reap(client, arg);
            return TRUE;
        }
        if (gone) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return TRUE;
        }
        switch (request) {
            case USBDEVFS_GET_CAPABILITIES: {
                GPtr<UMockdevIoctlData> caps(umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr));
                *reinterpret_cast<guint32*>(caps->data) = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                                          USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            }
            case USBDEVFS_CLAIMINTERFACE:
                if (plug == Plug::Busy) {
                    umockdev_ioctl_client_complete(client, -1, EBUSY);
                } else {
                    umockdev_ioctl_client_complete(client, 0, 0);
                }
                return TRUE;
            case USBDEVFS_RELEASEINTERFACE:
            case USBDEVFS_CLEAR_HALT:
            case USBDEVFS_SETINTERFACE:
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            case USBDEVFS_GETDRIVER:
            case USBDEVFS_IOCTL:
                umockdev_ioctl_client_complete(client, -1, ENODATA);  // no kernel driver bound
                return TRUE;
            case USBDEVFS_SUBMITURB:
                Submit(client, arg);
                return TRUE;
            default:
                std::fprintf(stderr, "FakeUsbBlaster: unexpected ioctl 0x%lx\n", request);
                umockdev_ioctl_client_complete(client, -1, ENOTTY);
                return TRUE;
        }
    }

    void Vanished(UMockdevIoctlClient* client) {
        std::lock_guard lock(mutex);
        if (const auto it = done.find(client); it != done.end()) {
            for (Urb& u : it->second) g_object_unref(u.data);
            done.erase(it);
        }
        if (const auto it = held.find(client); it != held.end()) {
            for (Urb& u : it->second) g_object_unref(u.data);
            held.erase(it);
        }
    }
};

namespace {

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer state) {
    return static_cast<FakeUsbBlaster::State*>(state)->Handle(client);
}

void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer state) {
    static_cast<FakeUsbBlaster::State*>(state)->Vanished(client);
}

}  // namespace

bool FakeUsbBlaster::Available() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "umockdev-preload") != nullptr;
}

FakeUsbBlaster::FakeUsbBlaster(Plug plug) : FakeUsbBlaster(plug, kUsbBlaster, std::make_unique<BlasterChip>()) {}

FakeUsbBlaster::FakeUsbBlaster(Plug plug, const FakeIdentity& identity, std::unique_ptr<FakeChip> chip)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.plug = plug;
    s.identity = identity;
    s.chip = std::move(chip);
    s.testbed.reset(umockdev_testbed_new());
    GError* error = nullptr;
    if (plug == Plug::Absent) return;  // an empty bus
    if (plug != Plug::CannotOpen) {
        s.handler.reset(umockdev_ioctl_base_new());
        g_signal_connect(s.handler.get(), "handle-ioctl", G_CALLBACK(OnIoctl), &s);
        g_signal_connect(s.handler.get(), "client-vanished", G_CALLBACK(OnVanished), &s);
        if (!umockdev_testbed_attach_ioctl(s.testbed.get(), kDevNode, s.handler.get(), &error)) {
            const std::string why = error->message;
            g_error_free(error);
            throw std::runtime_error("umockdev: cannot attach the device: " + why);
        }
    }
    const std::string text = DeviceText(identity, plug != Plug::CannotOpen);
    if (!umockdev_testbed_add_from_string(s.testbed.get(), text.c_str(), &error)) {
        const std::string why = error->message;
        g_error_free(error);
        throw std::runtime_error("umockdev: cannot add the device: " + why);
    }
    if (plug == Plug::CannotOpen) {
        // A directory where the device node should be: open() fails, whoever we are.
        gchar* root = umockdev_testbed_get_root_dir(s.testbed.get());
        const std::string node = std::string(root) + kDevNode;
        g_free(root);
        g_mkdir_with_parents(node.c_str(), 0755);
    }
}

FakeUsbBlaster::~FakeUsbBlaster() {
    if (state_->handler) umockdev_testbed_detach_ioctl(state_->testbed.get(), kDevNode, nullptr);
}

void FakeUsbBlaster::FailTransfer(std::size_t index, std::size_t arriving) {
    std::lock_guard lock(state_->mutex);
    state_->failAt = index;
    state_->failArriving = arriving;
}

void FakeUsbBlaster::VanishFrom(std::size_t index) {
    std::lock_guard lock(state_->mutex);
    state_->vanishFrom = index;
}

void FakeUsbBlaster::HangTransfer(std::size_t index) {
    std::lock_guard lock(state_->mutex);
    state_->hangAt = index;
}

void FakeUsbBlaster::Remove() {
    {
        std::lock_guard lock(state_->mutex);
        state_->gone = true;
    }
    umockdev_testbed_remove_device(state_->testbed.get(), kSysPath);
}

void FakeUsbBlaster::SetChain(std::vector<ChainDevice> devices, TdoLine line) {
    std::lock_guard lock(state_->mutex);
    state_->chip->SetChain(std::move(devices), line);
    state_->answers.clear();
}

void FakeUsbBlaster::SetReads(Reads reads) {
    std::lock_guard lock(state_->mutex);
    state_->reads = reads;
}

std::mutex& FakeUsbBlaster::Mutex() const { return state_->mutex; }
FakeChip& FakeUsbBlaster::Chip_() const { return *state_->chip; }

std::size_t FakeUsbBlaster::ReadTransfers() const {
    std::lock_guard lock(state_->mutex);
    return state_->readTransfers;
}

std::vector<std::uint8_t> FakeUsbBlaster::Received() const {
    std::lock_guard lock(state_->mutex);
    return state_->received;
}

std::vector<FakeUsbBlaster::Request> FakeUsbBlaster::Requests() const {
    std::lock_guard lock(state_->mutex);
    return state_->requests;
}

std::size_t FakeUsbBlaster::Transfers() const {
    std::lock_guard lock(state_->mutex);
    return state_->transfers;
}

std::vector<std::size_t> FakeUsbBlaster::TransferSizes() const {
    std::lock_guard lock(state_->mutex);
    return state_->transferSizes;
}

}  // namespace tunlet::test
