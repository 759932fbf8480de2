// FT2232H cables in MPSSE mode (the Arrow USB Blaster, the USB-Blaster III) on
// Windows, through FTD2XX.dll as FTDI's stock driver installs it: channel A opened
// by its D2XX name ("Arrow USB Blaster A", or the serial number with " A"), MPSSE
// mode, a short latency timer, then the set-up commands and the bad-command check of
// cable/MpsseCable.h.
#pragma once

#include <string>

#include "cable/Cable.h"
#include "cable/Ftd2xxCable.h"
#include "cable/MpsseCable.h"

namespace tunlet {

class Ftd2xxMpsseCable : public CableBackend {
public:
    explicit Ftd2xxMpsseCable(const MpsseCableModel& model, std::string serial = "",
                              unsigned tckKhz = mpsse::kDefaultTckKhz, std::string library = kFtd2xxLibrary)
        : model_(model), serial_(std::move(serial)), tckKhz_(tckKhz), library_(std::move(library)) {}
    // The description the link layer gives is the USB-Blaster's: the model decides.
    CableOpenResult Open(const char* description) override;

private:
    const MpsseCableModel& model_;
    std::string serial_;
    unsigned tckKhz_;
    std::string library_;
};

}  // namespace tunlet
