// The real cable on Windows: the USB-Blaster through FTDI's D2XX driver library,
// FTD2XX.dll, which comes with the cable's driver. The library is looked up when a
// cable is first opened, so the program starts without it; a missing library, or one
// without one of the calls Tunlet makes, is an open failure with its reason.
#pragma once

#include <string>

#include "cable/Cable.h"

namespace tunlet {

constexpr char kFtd2xxLibrary[] = "FTD2XX.dll";

class Ftd2xxCable : public CableBackend {
public:
    // library: the DLL to load (tests give a stand-in); kept loaded for the program's life.
    explicit Ftd2xxCable(std::string library = kFtd2xxLibrary) : library_(std::move(library)) {}
    CableOpenResult Open(const char* description) override;

private:
    std::string library_;
};

}  // namespace tunlet
