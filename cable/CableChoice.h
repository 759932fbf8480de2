// The --cable option of both programs: which back end FT_OpenEx reaches.
#pragma once

#include <memory>
#include <string>

#include "cable/Cable.h"
#include "cable/MpsseTranslator.h"
#include "cable/CableSearch.h"
#include "cable/VirtualBoard.h"

namespace tunlet {

// The values --cable takes, as the error for any other value lists them.
inline constexpr char kCableChoices[] =
    "usb-blaster, usb-blaster:SERIAL, arrow-usb-blaster[:SERIAL], usb-blaster-iii[:SERIAL], virtual, virtual:LIST or "
    "dump:PATH";

#ifdef _WIN32
// What --cable usb-blaster opens on Windows: through FTD2XX.dll (library), the
// USB-Blaster, else the Arrow USB Blaster, else the USB-Blaster III (at tckKhz).
std::shared_ptr<CableBackend> Ftd2xxCables(const std::string& library, unsigned tckKhz = mpsse::kDefaultTckKhz);
#else
// The cables --cable usb-blaster looks for, in the order it takes them: the
// USB-Blaster (libftdi), the USB-Blaster II (libusb), the Arrow USB Blaster and the
// USB-Blaster III (libftdi, at tckKhz). Another kind of cable is one more line here.
std::vector<std::shared_ptr<CableCandidate>> UsbBlasterCandidates(unsigned tckKhz = mpsse::kDefaultTckKhz);
#endif

struct CableChoice {
    std::shared_ptr<CableBackend> backend;  // null when the --cable value is not understood
    std::shared_ptr<VirtualBoard> board;    // set for "virtual"
    std::string problem;                    // why the value is not understood, when it names a kind
};

// "usb-blaster" (whichever real cable is plugged in), "usb-blaster:SERIAL" (the one
// with that serial number), "arrow-usb-blaster" or "usb-blaster-iii" (the FT2232H
// cables, the first found or, after a colon, the one with that serial number; tckKhz
// is their TCK), "virtual" (a board in memory: one EP4CE22 with the player's design),
// "virtual:LIST" (a board whose chain is written out, see VirtualBoard::ParseChain)
// or "dump:PATH" (the raw cable bytes to a file). usbBlaster stands in for the real
// cables when given (a CableSearch there is asked for the serial).
CableChoice ChooseCable(const std::string& spec, std::shared_ptr<CableBackend> usbBlaster = nullptr,
                        unsigned tckKhz = mpsse::kDefaultTckKhz);

// The real cable's pace, for a virtual board that should feel like one.
constexpr double kUsbBlasterBytesPerSecond = 1'000'000;

// The window's choice: a virtual board there takes bytes at the real cable's pace, so
// the progress bar moves as it would with a board, and keeps no raw bytes.
CableChoice ChooseWindowCable(const std::string& spec, unsigned tckKhz = mpsse::kDefaultTckKhz);

}  // namespace tunlet
