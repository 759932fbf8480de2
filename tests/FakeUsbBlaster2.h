// A USB-Blaster II that exists only under umockdev, built as FakeUsbBlaster is: a
// Cypress FX2 that starts as 09fb:6810 (no firmware, no strings). The 0xA0 requests
// that fill its RAM are recorded; when CPUCS (0xE600) goes from 1 to 0 it leaves the
// bus and comes back as 09fb:6010 ("Altera" "USB-BlasterII", serial 91d28408, bulk
// OUT 0x04 and IN 0x88 of 512 bytes), unless told to stay away. The started cable
// takes the USB-Blaster byte stream; its answers, from a modelled JTAG chain, wait
// until a 0x5F at a command's place, then go to bulk IN as they are (no status
// bytes). It holds at most 512 answer bytes: a write that asks for more before the
// host reads stalls. Vendor request 0x94 answers its version unless told not to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "cable/JtagChain.h"

namespace tunlet::test {

class FakeUsbBlaster2 {
public:
    enum class Start {
        Unloaded,  // 6810: the firmware must be loaded first
        Started,   // 6010 already (loaded by an earlier run)
    };
    struct Load {  // one 0xA0 request: RAM bytes at an address
        std::uint16_t address = 0;
        std::vector<std::uint8_t> bytes;
        bool operator==(const Load&) const = default;
    };
    static constexpr char kSerial[] = "91d28408";

    explicit FakeUsbBlaster2(Start start = Start::Unloaded);
    ~FakeUsbBlaster2();
    FakeUsbBlaster2(const FakeUsbBlaster2&) = delete;
    FakeUsbBlaster2& operator=(const FakeUsbBlaster2&) = delete;

    // Knobs, before the host opens the cable.
    void StayAway();                      // after the firmware load the chip never comes back
    void Busy();                          // another program holds the started cable's interface
    void SilentVersion();                 // the firmware does not answer 0x94
    void VanishFrom(std::size_t index);   // bulk OUT transfer index and all after: unplugged
    void SetChain(std::vector<ChainDevice> devices, TdoLine line = TdoLine::Chain);

    std::vector<Load> Loads() const;              // the 0xA0 requests, in order
    std::vector<std::uint8_t> Received() const;   // every byte that reached bulk OUT (with the 0x5F)
    std::vector<std::size_t> TransferSizes() const;
    std::size_t Flushes() const;                  // 0x5F bytes seen at a command's place

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace tunlet::test
