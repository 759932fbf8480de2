// FT2232H cables in MPSSE mode (the Arrow USB Blaster, the USB-Blaster III) reached
// through libftdi1: channel A opened, reset, MPSSE mode, a short latency timer, then
// the set-up commands and the bad-command check of cable/MpsseCable.h.
#pragma once

#include <string>

#include "cable/Cable.h"
#include "cable/CableSearch.h"
#include "cable/MpsseCable.h"
#include "cable/UsbBlasterCable.h"

namespace tunlet {

class MpsseFtdiCable : public CableBackend, public CableCandidate {
public:
    // serial: the cable to open ("" the first one found); tckKhz: the TCK asked for.
    explicit MpsseFtdiCable(const MpsseCableModel& model, std::string serial = "",
                            unsigned tckKhz = mpsse::kDefaultTckKhz, const FtdiApi& api = RealFtdiApi(),
                            int writeTimeoutMs = kDefaultWriteTimeoutMs, int readTimeoutMs = kReadTimeoutMs)
        : model_(model),
          serial_(std::move(serial)),
          tckKhz_(tckKhz),
          api_(api),
          writeTimeoutMs_(writeTimeoutMs),
          readTimeoutMs_(readTimeoutMs) {}
    // The description the link layer gives is the USB-Blaster's: the model decides.
    CableOpenResult Open(const char* description) override;

    // As one of the cables --cable usb-blaster looks for.
    std::vector<SeenCable> List() override;
    CableOpenResult OpenSerial(const std::string& serial) override;
    std::string Looks() const override;

private:
    CableOpenResult OpenWith(const std::string& serial);

    const MpsseCableModel& model_;
    std::string serial_;
    unsigned tckKhz_;
    const FtdiApi& api_;
    int writeTimeoutMs_;
    int readTimeoutMs_;
};

}  // namespace tunlet
