// A USB-Blaster that exists only under umockdev: a USB device (09fb:6001, "Altera"
// "USB-Blaster", an FT245 with bulk OUT 0x02 and IN 0x81) in a umockdev testbed whose
// usbdevfs ioctls are answered here, so the real libftdi and libusb code runs against
// it. It records the bytes that reach its bulk OUT endpoint and the FTDI set-up
// requests, and can fail, lose or never finish a transfer, be busy or not open.
// Read-back is answered from a modelled JTAG chain (by default one EP4CE22 with a
// virtual JTAG hub) on bulk IN as the FTDI chip sends it: two status bytes at the
// head of every 64-byte packet, a packet of status bytes alone when nothing waits.
// As an FT245R clone, it holds at most 256 answer bytes: a write that asks for more
// before the host reads stalls until it times out.
// Another FTDI chip takes the same place with its own identity (IDs, strings,
// descriptors, packet size) and its own FakeChip behind the endpoints
// (tests/FakeFt2232h.h).
// The process must run under umockdev's preload library (umockdev-wrapper).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "cable/JtagChain.h"

namespace tunlet::test {

// What sits behind the bulk endpoints, called with the device's lock held.
class FakeChip {
public:
    virtual ~FakeChip() = default;
    // The bytes of one bulk OUT transfer that arrived; answers appended.
    virtual void Take(const std::uint8_t* data, std::size_t count, std::vector<std::uint8_t>& answers) = 0;
    // The FTDI set-bitmode request.
    virtual void SetBitmode(std::uint8_t mask, std::uint8_t mode) = 0;
    virtual void SetChain(std::vector<ChainDevice> devices, TdoLine line) = 0;
};

// How a device describes itself on the bus.
struct FakeIdentity {
    const char* descriptors;  // device, configuration, interfaces and endpoints, in hex
    const char* speed;        // Mbit/s, as sysfs gives it
    const char* strings[3];   // manufacturer, product, serial (string descriptors 1 to 3)
    std::size_t packetSize;   // of the bulk endpoints
    std::size_t answerRoom;   // answer bytes the chip holds before it stalls the host's writes
};

class FakeUsbBlaster {
public:
    enum class Plug {
        Absent,      // nothing on the bus
        Present,     // answers as a cable does
        Busy,        // another program holds its interface
        CannotOpen,  // its device node cannot be opened
    };
    // A vendor request on the control endpoint (the FTDI set-up commands).
    struct Request {
        std::uint8_t request = 0;
        std::uint16_t value = 0;
        std::uint16_t index = 0;
        bool operator==(const Request&) const = default;
    };

    explicit FakeUsbBlaster(Plug plug = Plug::Present);
    FakeUsbBlaster(Plug plug, const FakeIdentity& identity, std::unique_ptr<FakeChip> chip);
    virtual ~FakeUsbBlaster();
    FakeUsbBlaster(const FakeUsbBlaster&) = delete;
    FakeUsbBlaster& operator=(const FakeUsbBlaster&) = delete;

    // True when this process runs under umockdev's preload library.
    static bool Available();

    // Bulk OUT transfers are counted from 0 since the device was made.
    // That transfer ends with an error after its first `arriving` bytes reached the chip.
    void FailTransfer(std::size_t index, std::size_t arriving = 0);
    void VanishFrom(std::size_t index);      // unplugged: that transfer and everything after fail
    void HangTransfer(std::size_t index);    // that transfer never completes (until cancelled)
    // Takes the device off the bus, as after pulling the cable.
    void Remove();
    // The devices behind the cable (before the first byte arrives).
    void SetChain(std::vector<ChainDevice> devices, TdoLine line = TdoLine::Chain);
    // Bulk IN: answered, never completed (a cable that ignores reads), or failed.
    enum class Reads { Answered, Unanswered, Fail };
    void SetReads(Reads reads);
    std::size_t ReadTransfers() const;  // bulk IN transfers submitted

    std::vector<std::uint8_t> Received() const;  // every byte that reached bulk OUT
    std::vector<Request> Requests() const;
    std::size_t Transfers() const;                // bulk OUT transfers submitted
    std::vector<std::size_t> TransferSizes() const;  // the size of each, in order

    struct State;  // shared with umockdev's thread

protected:
    // Runs fn on the chip with the device's lock held.
    template <typename Chip, typename Fn>
    auto WithChip(Fn fn) const {
        std::lock_guard lock(Mutex());
        return fn(static_cast<Chip&>(Chip_()));
    }

private:
    std::mutex& Mutex() const;
    FakeChip& Chip_() const;
    std::unique_ptr<State> state_;
};

}  // namespace tunlet::test
