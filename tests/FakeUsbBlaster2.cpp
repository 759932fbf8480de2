#include "tests/FakeUsbBlaster2.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "cable/TapDecoder.h"

namespace tunlet::test {

namespace {

constexpr std::uint8_t kBulkOut = 0x04;
constexpr std::uint8_t kBulkIn = 0x88;
constexpr std::size_t kAnswerRoom = 512;
constexpr std::uint8_t kFlush = 0x5F;
constexpr std::uint8_t kShiftMode = 0x80;
constexpr std::uint8_t kShiftCount = 0x3F;
constexpr std::uint8_t kFirmwareLoad = 0xA0;
constexpr std::uint16_t kCpucs = 0xE600;
constexpr std::uint8_t kVersion = 0x94;
constexpr std::uint8_t kVersionAnswer[] = {0x01, 0x07, 0x00, 0x00, 0x00};
constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::uint8_t kStringDescriptor = 3;
constexpr char kSysPath[] = "/sys/devices/usb1/1-2";
constexpr char kUnloadedNode[] = "/dev/bus/usb/001/003";
constexpr char kStartedNode[] = "/dev/bus/usb/001/004";

// The bare FX2: vendor class, no strings, one interface without endpoints.
constexpr char kUnloaded[] =
    "P: /devices/usb1/1-2\n"
    "N: bus/usb/001/003\n"
    "E: SUBSYSTEM=usb\n"
    "E: DEVTYPE=usb_device\n"
    "E: DEVNAME=/dev/bus/usb/001/003\n"
    "E: BUSNUM=001\n"
    "E: DEVNUM=003\n"
    "A: busnum=1\\n\n"
    "A: devnum=3\\n\n"
    "A: speed=480\\n\n"
    "A: bConfigurationValue=1\\n\n"
    "H: descriptors="
    "12010002FFFFFF40FB091068000000000001"  // device
    "090212000101008032"                    // configuration
    "0904000000FFFFFF00"                    // interface
    "\n";

// Started: strings 1-3, two 512-byte bulk endpoints.
constexpr char kStarted[] =
    "P: /devices/usb1/1-2\n"
    "N: bus/usb/001/004\n"
    "E: SUBSYSTEM=usb\n"
    "E: DEVTYPE=usb_device\n"
    "E: DEVNAME=/dev/bus/usb/001/004\n"
    "E: BUSNUM=001\n"
    "E: DEVNUM=004\n"
    "A: busnum=1\\n\n"
    "A: devnum=4\\n\n"
    "A: speed=480\\n\n"
    "A: bConfigurationValue=1\\n\n"
    "H: descriptors="
    "1201000200000040FB091060000101020301"  // device
    "090220000101008032"                    // configuration
    "0904000002FFFFFF00"                    // interface
    "07050402000200"                        // bulk OUT 0x04
    "07058802000200"                        // bulk IN 0x88
    "\n";

std::vector<std::uint8_t> StringDescriptor(unsigned index) {
    if (index == 0) return {4, kStringDescriptor, 0x09, 0x04};
    const char* text = index == 1 ? "Altera" : index == 2 ? "USB-BlasterII" : index == 3 ? FakeUsbBlaster2::kSerial : "";
    std::vector<std::uint8_t> d = {static_cast<std::uint8_t>(2 + 2 * std::strlen(text)), kStringDescriptor};
    for (const char* p = text; *p != '\0'; ++p) d.insert(d.end(), {static_cast<std::uint8_t>(*p), 0});
    return d;
}

struct Unref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
template <typename T>
using GPtr = std::unique_ptr<T, Unref>;

void AddDevice(UMockdevTestbed* testbed, const char* text) {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, text, &error)) {
        const std::string why = error->message;
        g_error_free(error);
        throw std::runtime_error("umockdev: cannot add the device: " + why);
    }
}

}  // namespace

struct FakeUsbBlaster2::State {
    struct Urb {
        UMockdevIoctlData* data;
        int status;
        int actual;
    };
    // What each device node's handler knows.
    struct Node {
        State* state;
        bool started;
        GPtr<UMockdevIoctlBase> handler;
    };

    GPtr<UMockdevTestbed> testbed;
    Node unloadedNode{this, false, nullptr};
    Node startedNode{this, true, nullptr};

    mutable std::mutex mutex;
    bool unloadedGone = false, startedHere = false, startedGone = false;
    bool stayAway = false, busy = false, silentVersion = false;
    bool swap = false;  // the chip has been let run: leave the bus and come back
    std::optional<std::size_t> vanishFrom;
    std::vector<Load> loads;
    std::uint8_t cpucs = 0;
    std::vector<std::uint8_t> received;
    std::vector<std::size_t> transferSizes;
    std::size_t transfers = 0, flushes = 0;
    std::size_t payloadLeft = 0;  // data bytes of a shift command still to come
    TapDecoder tap;
    std::deque<std::uint8_t> gathered, ready;  // answers before and after a 0x5F
    std::map<UMockdevIoctlClient*, std::deque<Urb>> done;
    std::map<UMockdevIoctlClient*, std::vector<Urb>> held;
    std::vector<std::pair<UMockdevIoctlClient*, Urb>> heldReads;

    ~State() {
        for (auto& [c, urbs] : done) {
            for (Urb& u : urbs) g_object_unref(u.data);
        }
        for (auto& [c, urbs] : held) {
            for (Urb& u : urbs) g_object_unref(u.data);
        }
        for (auto& [c, u] : heldReads) g_object_unref(u.data);
    }

    bool Gone(bool started) const { return started ? startedGone || !startedHere : unloadedGone; }

    // The stream as the firmware takes it: a 0x5F in a command's place sends what was
    // gathered; everything else drives the TAP.
    void Take(const std::uint8_t* bytes, std::size_t n) {
        std::vector<std::uint8_t> answer;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t b = bytes[i];
            if (payloadLeft > 0) {
                --payloadLeft;
            } else if (b == kFlush) {
                ++flushes;
                ready.insert(ready.end(), gathered.begin(), gathered.end());
                gathered.clear();
                continue;
            } else if (b & kShiftMode) {
                payloadLeft = b & kShiftCount;
            }
            tap.Feed(&b, 1, &answer);
            gathered.insert(gathered.end(), answer.begin(), answer.end());
            answer.clear();
        }
    }

    int FillRead(std::uint8_t* buffer, std::size_t room) {
        std::size_t n = 0;
        while (n < room && !ready.empty()) {
            buffer[n++] = ready.front();
            ready.pop_front();
        }
        return static_cast<int>(n);
    }

    void AnswerHeldReads() {
        for (auto it = heldReads.begin(); it != heldReads.end() && !ready.empty();) {
            auto* urb = reinterpret_cast<usbdevfs_urb*>(it->second.data->data);
            GPtr<UMockdevIoctlData> buffer(umockdev_ioctl_data_resolve(
                it->second.data, G_STRUCT_OFFSET(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), nullptr));
            it->second.actual = FillRead(buffer->data, static_cast<std::size_t>(urb->buffer_length));
            done[it->first].push_back(it->second);
            it = heldReads.erase(it);
        }
    }

    void Control(UMockdevIoctlClient* client, UMockdevIoctlData* urbData, usbdevfs_urb* urb, std::uint8_t* bytes,
                 bool started) {
        const std::uint8_t type = bytes[0];
        const std::uint8_t request = bytes[1];
        const auto value = static_cast<std::uint16_t>(bytes[2] | bytes[3] << 8);
        const auto length = static_cast<std::size_t>(bytes[6] | bytes[7] << 8);
        int status = 0, actual = 0;
        if (type & 0x80) {
            std::vector<std::uint8_t> answer;
            if ((type & 0x60) == 0 && request == kGetDescriptor && (value >> 8) == kStringDescriptor && started) {
                answer = StringDescriptor(value & 0xFF);
            } else if ((type & 0x60) == 0x40 && request == kVersion && started && !silentVersion) {
                answer.assign(std::begin(kVersionAnswer), std::end(kVersionAnswer));
            } else {
                status = -EPIPE;  // a stall: no such request
            }
            const std::size_t room = static_cast<std::size_t>(urb->buffer_length) - 8;
            const std::size_t n = std::min({answer.size(), length, room});
            if (n > 0) std::memcpy(bytes + 8, answer.data(), n);
            actual = static_cast<int>(n);
        } else if ((type & 0x60) == 0x40 && request == kFirmwareLoad && !started) {
            loads.push_back({value, std::vector<std::uint8_t>(bytes + 8, bytes + 8 + length)});
            if (value == kCpucs && length == 1) {
                const std::uint8_t was = cpucs;
                cpucs = bytes[8];
                swap = was == 1 && cpucs == 0;
            }
            actual = static_cast<int>(length);
        } else {
            status = -EPIPE;
        }
        done[client].push_back({urbData, status, actual});
    }

    void Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool started) {
        UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
        GPtr<UMockdevIoctlData> buffer(umockdev_ioctl_data_resolve(
            urbData, G_STRUCT_OFFSET(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), nullptr));
        std::uint8_t* bytes = buffer->data;
        if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
            Control(client, urbData, urb, bytes, started);
        } else if (started && urb->endpoint == kBulkOut) {
            const std::size_t n = transfers++;
            transferSizes.push_back(static_cast<std::size_t>(urb->buffer_length));
            if (vanishFrom && n >= *vanishFrom) {
                startedGone = true;
                g_object_unref(urbData);
                umockdev_ioctl_client_complete(client, -1, ENODEV);
                return;
            }
            received.insert(received.end(), bytes, bytes + urb->buffer_length);
            Take(bytes, static_cast<std::size_t>(urb->buffer_length));
            if (gathered.size() + ready.size() > kAnswerRoom) {
                held[client].push_back({urbData, 0, 0});  // full: no more bytes until the host reads
            } else {
                done[client].push_back({urbData, 0, urb->buffer_length});
            }
            AnswerHeldReads();
        } else if (started && urb->endpoint == kBulkIn) {
            if (ready.empty()) {
                heldReads.push_back({client, {urbData, 0, 0}});  // the chip NAKs until it has answers
            } else {
                done[client].push_back({urbData, 0, FillRead(bytes, static_cast<std::size_t>(urb->buffer_length))});
            }
        } else {
            held[client].push_back({urbData, 0, 0});
        }
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    void Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool started) {
        auto it = done.find(client);
        if (it == done.end() || it->second.empty()) {
            umockdev_ioctl_client_complete(client, -1, Gone(started) ? ENODEV : EAGAIN);
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
        if (it != urbs.end()) {
            done[client].push_back({it->data, -ENOENT, 0});
            urbs.erase(it);
            umockdev_ioctl_client_complete(client, 0, 0);
            return;
        }
        const auto r = std::find_if(heldReads.begin(), heldReads.end(), [&](const auto& h) {
            return h.first == client && h.second.data->client_addr == address;
        });
        if (r == heldReads.end()) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return;
        }
        done[client].push_back({r->second.data, -ENOENT, 0});
        heldReads.erase(r);
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    void Handle(UMockdevIoctlClient* client, bool started) {
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        if (request == USBDEVFS_RESET) {
            umockdev_ioctl_client_complete(client, Gone(started) ? -1 : 0, Gone(started) ? ENODEV : 0);
            return;
        }
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        if (request == USBDEVFS_DISCARDURB) return Discard(client, arg);
        if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) return Reap(client, arg, started);
        if (Gone(started)) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return;
        }
        switch (request) {
            case USBDEVFS_GET_CAPABILITIES: {
                GPtr<UMockdevIoctlData> caps(umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr));
                *reinterpret_cast<guint32*>(caps->data) = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                                          USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
                umockdev_ioctl_client_complete(client, 0, 0);
                return;
            }
            case USBDEVFS_CLAIMINTERFACE:
                umockdev_ioctl_client_complete(client, busy ? -1 : 0, busy ? EBUSY : 0);
                return;
            case USBDEVFS_RELEASEINTERFACE:
            case USBDEVFS_CLEAR_HALT:
            case USBDEVFS_SETINTERFACE:
                umockdev_ioctl_client_complete(client, 0, 0);
                return;
            case USBDEVFS_GETDRIVER:
            case USBDEVFS_IOCTL:
                umockdev_ioctl_client_complete(client, -1, ENODATA);
                return;
            case USBDEVFS_SUBMITURB:
                Submit(client, arg, started);
                return;
            default:
                std::fprintf(stderr, "FakeUsbBlaster2: unexpected ioctl 0x%lx\n", request);
                umockdev_ioctl_client_complete(client, -1, ENOTTY);
                return;
        }
    }

    // After the firmware load: the bare chip leaves the bus; the started one comes.
    void Swap() {
        umockdev_testbed_remove_device(testbed.get(), kSysPath);
        bool comes = false;
        {
            std::lock_guard lock(mutex);
            unloadedGone = true;
            comes = !stayAway;
            startedHere = comes;
        }
        if (comes) AddDevice(testbed.get(), kStarted);
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
        for (auto it = heldReads.begin(); it != heldReads.end();) {
            if (it->first == client) {
                g_object_unref(it->second.data);
                it = heldReads.erase(it);
            } else {
                ++it;
            }
        }
    }
};

namespace {

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    auto* node = static_cast<FakeUsbBlaster2::State::Node*>(data);
    FakeUsbBlaster2::State& s = *node->state;
    bool swap = false;
    {
        std::lock_guard lock(s.mutex);
        s.Handle(client, node->started);
        swap = std::exchange(s.swap, false);
    }
    if (swap) s.Swap();
    return TRUE;
}

void OnVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
    static_cast<FakeUsbBlaster2::State::Node*>(data)->state->Vanished(client);
}

void Attach(UMockdevTestbed* testbed, const char* node, FakeUsbBlaster2::State::Node& n) {
    n.handler.reset(umockdev_ioctl_base_new());
    g_signal_connect(n.handler.get(), "handle-ioctl", G_CALLBACK(OnIoctl), &n);
    g_signal_connect(n.handler.get(), "client-vanished", G_CALLBACK(OnVanished), &n);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed, node, n.handler.get(), &error)) {
        const std::string why = error->message;
        g_error_free(error);
        throw std::runtime_error("umockdev: cannot attach the device: " + why);
    }
}

}  // namespace

FakeUsbBlaster2::FakeUsbBlaster2(Start start) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.testbed.reset(umockdev_testbed_new());
    Attach(s.testbed.get(), kUnloadedNode, s.unloadedNode);
    Attach(s.testbed.get(), kStartedNode, s.startedNode);
    if (start == Start::Unloaded) {
        AddDevice(s.testbed.get(), kUnloaded);
    } else {
        s.unloadedGone = true;
        s.startedHere = true;
        AddDevice(s.testbed.get(), kStarted);
    }
}

FakeUsbBlaster2::~FakeUsbBlaster2() {
    umockdev_testbed_detach_ioctl(state_->testbed.get(), kUnloadedNode, nullptr);
    umockdev_testbed_detach_ioctl(state_->testbed.get(), kStartedNode, nullptr);
}

void FakeUsbBlaster2::StayAway() {
    std::lock_guard lock(state_->mutex);
    state_->stayAway = true;
}

void FakeUsbBlaster2::Busy() {
    std::lock_guard lock(state_->mutex);
    state_->busy = true;
}

void FakeUsbBlaster2::SilentVersion() {
    std::lock_guard lock(state_->mutex);
    state_->silentVersion = true;
}

void FakeUsbBlaster2::VanishFrom(std::size_t index) {
    std::lock_guard lock(state_->mutex);
    state_->vanishFrom = index;
}

void FakeUsbBlaster2::SetChain(std::vector<ChainDevice> devices, TdoLine line) {
    std::lock_guard lock(state_->mutex);
    state_->tap = TapDecoder(JtagChain(std::move(devices), line));
}

std::vector<FakeUsbBlaster2::Load> FakeUsbBlaster2::Loads() const {
    std::lock_guard lock(state_->mutex);
    return state_->loads;
}

std::vector<std::uint8_t> FakeUsbBlaster2::Received() const {
    std::lock_guard lock(state_->mutex);
    return state_->received;
}

std::vector<std::size_t> FakeUsbBlaster2::TransferSizes() const {
    std::lock_guard lock(state_->mutex);
    return state_->transferSizes;
}

std::size_t FakeUsbBlaster2::Flushes() const {
    std::lock_guard lock(state_->mutex);
    return state_->flushes;
}

}  // namespace tunlet::test
