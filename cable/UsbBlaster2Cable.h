// The USB-Blaster II (on the SoC boards, and as a separate cable): a Cypress FX2
// reached through libusb-1.0. Without firmware it is 09fb:6810; the host loads the
// firmware into the chip's RAM with the FX2's vendor request 0xA0 (CPUCS at 0xE600
// set to 1 to hold the 8051 in reset, each record of the Intel HEX file, CPUCS 0 to
// let it run), and the chip leaves the bus and comes back as 09fb:6010. From then on
// it takes the USB-Blaster's byte stream on bulk OUT endpoint 4 and answers on bulk
// IN endpoint 8, with two differences: a 0x5F byte makes it send what it has
// gathered (Read sends it before it reads, so the link layer writes the same bytes
// as to the USB-Blaster), and answers carry no FTDI status bytes. Vendor request
// 0x94 gives the firmware's version.
#pragma once

#include <string>
#include <vector>

#include "cable/BlasterFirmware.h"
#include "cable/Cable.h"
#include "cable/CableSearch.h"

namespace tunlet {

constexpr int kUsbBlaster2Product = 0x6010;
constexpr int kUsbBlaster2Unloaded = 0x6810;  // the FX2 before its firmware

namespace blaster2 {
constexpr unsigned char kBulkOut = 0x04;
constexpr unsigned char kBulkIn = 0x88;
constexpr int kInterface = 0;
constexpr unsigned char kFlush = 0x5F;            // send the gathered answers now
constexpr unsigned char kFirmwareLoad = 0xA0;     // FX2: write RAM at wValue
constexpr unsigned short kCpucs = 0xE600;         // FX2 CPU control: bit 0 holds the 8051 in reset
constexpr unsigned char kFirmwareVersion = 0x94;  // vendor request: the firmware's version
constexpr unsigned kLoadChunkBytes = 64;          // RAM bytes per 0xA0 request
// High-speed bulk packets: whole transfers of kUsbTransferBytes fill them.
constexpr std::size_t kPacketBytes = 512;
static_assert(kUsbTransferBytes % kPacketBytes == 0);
}  // namespace blaster2

struct UsbBlaster2Options {
    int writeTimeoutMs = 2000;
    int readTimeoutMs = kReadTimeoutMs;
    int comeBackMs = 10000;  // how long the chip may take to come back with its firmware
    int pollMs = 100;        // how often the bus is looked at meanwhile
    // Where the firmware is looked for; the file given through SetCableFirmware
    // comes first.
    FirmwareRoots roots = ProcessFirmwareRoots("");
};

class UsbBlaster2Cable : public CableBackend, public CableCandidate {
public:
    explicit UsbBlaster2Cable(UsbBlaster2Options options = {}) : options_(std::move(options)) {}
    CableOpenResult Open(const char*) override { return OpenSerial(""); }
    std::vector<SeenCable> List() override;
    // A started cable with this serial (any for ""), else one without firmware,
    // started and waited for.
    CableOpenResult OpenSerial(const std::string& serial) override;
    std::string Looks() const override { return "the USB-Blaster II (09fb:6010, 6810)"; }

private:
    UsbBlaster2Options options_;
};

}  // namespace tunlet
