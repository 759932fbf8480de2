// The real cable: an Altera USB-Blaster (an FTDI FT245 behind a CPLD) reached
// through libftdi1. The libftdi calls go through a table so tests can stand in for
// the library.
#pragma once

#include <string>
#include <vector>

#include "cable/Cable.h"
#include "cable/CableSearch.h"

struct ftdi_context;

namespace tunlet {

constexpr int kUsbBlasterVendor = 0x09FB;
constexpr int kUsbBlasterProduct = 0x6001;
// The same cable and byte protocol under the maker's other product IDs, tried in
// this order.
constexpr int kUsbBlasterProducts[] = {0x6001, 0x6002, 0x6003};

// The libftdi1 calls the back end makes.
struct FtdiApi {
    ftdi_context* (*newContext)();
    void (*freeContext)(ftdi_context*);
    int (*openDesc)(ftdi_context*, int vendor, int product, const char* description, const char* serial);
    int (*close)(ftdi_context*);
    int (*setBitmode)(ftdi_context*, unsigned char mask, unsigned char mode);
    int (*setLatencyTimer)(ftdi_context*, unsigned char latency);
    int (*writeData)(ftdi_context*, const unsigned char* buffer, int size);
    // Returns the data bytes that came (the two status bytes of each USB packet taken
    // off), 0 when only status bytes came, negative on failure.
    int (*readData)(ftdi_context*, unsigned char* buffer, int size);
    int (*purge)(ftdi_context*);  // drops what the chip holds in both directions
    const char* (*errorString)(ftdi_context*);
    // The size of the USB transfers a write is cut into (libftdi's default is 4096).
    int (*setWriteChunksize)(ftdi_context*, unsigned int chunksize);
    // Which channel of a chip with several the next open takes (1: channel A).
    int (*setInterface)(ftdi_context*, int channel);
    // The open device's serial number string ("" when it has none); negative on failure.
    int (*serialNumber)(ftdi_context*, char* serial, int size);
    // The serial numbers of the devices with these IDs ("" for one that cannot be
    // read) and, unless description is null, that USB product string; the count, or
    // negative when the bus cannot be listed.
    int (*listSerials)(ftdi_context*, int vendor, int product, const char* description,
                       std::vector<std::string>* serials);
};

// The table of the real library.
const FtdiApi& RealFtdiApi();

// How long one write may wait for the cable before it counts as failed.
constexpr int kDefaultWriteTimeoutMs = 2000;

class UsbBlasterCable : public CableBackend, public CableCandidate {
public:
    explicit UsbBlasterCable(const FtdiApi& api = RealFtdiApi(), int writeTimeoutMs = kDefaultWriteTimeoutMs,
                             int readTimeoutMs = kReadTimeoutMs)
        : api_(api), writeTimeoutMs_(writeTimeoutMs), readTimeoutMs_(readTimeoutMs) {}
    // Opens the first device with one of the USB-Blaster's IDs whose product
    // description is the given one.
    CableOpenResult Open(const char* description) override;

    std::vector<SeenCable> List() override;
    // Any description, this serial number ("" for the first).
    CableOpenResult OpenSerial(const std::string& serial) override;
    std::string Looks() const override { return "the USB-Blaster (09fb:6001, 6002, 6003)"; }

private:
    CableOpenResult OpenDevice(const char* description, const char* serial);

    const FtdiApi& api_;
    int writeTimeoutMs_;
    int readTimeoutMs_;
};

}  // namespace tunlet
