#include "cable/CableChoice.h"

#include "cable/DumpCable.h"
#ifdef _WIN32
#include "cable/Ftd2xxCable.h"
#else
#include "cable/UsbBlaster2Cable.h"
#include "cable/UsbBlasterCable.h"
#endif

namespace tunlet {

#ifndef _WIN32
std::vector<std::shared_ptr<CableCandidate>> UsbBlasterCandidates() {
    return {
        std::make_shared<UsbBlasterCable>(),
        std::make_shared<UsbBlaster2Cable>(),
    };
}
#endif

CableChoice ChooseCable(const std::string& spec, std::shared_ptr<CableBackend> usbBlaster) {
    CableChoice choice;
    constexpr char kSerialPrefix[] = "usb-blaster:";
    if (spec == "usb-blaster") {
#ifdef _WIN32
        // Windows: the vendor's driver library, as the cable's own tools use it.
        choice.backend = usbBlaster ? std::move(usbBlaster) : std::make_shared<Ftd2xxCable>();
#else
        choice.backend = usbBlaster ? std::move(usbBlaster) : std::make_shared<CableSearch>(UsbBlasterCandidates());
#endif
    } else if (spec.rfind(kSerialPrefix, 0) == 0 && spec.size() > sizeof kSerialPrefix - 1) {
        const std::string serial = spec.substr(sizeof kSerialPrefix - 1);
#ifndef _WIN32
        if (!usbBlaster) usbBlaster = std::make_shared<CableSearch>(UsbBlasterCandidates());
#endif
        // Only a search can pick a cable by its serial (not the vendor's DLL).
        if (const auto search = std::dynamic_pointer_cast<CableSearch>(usbBlaster)) choice.backend = search->WithSerial(serial);
    } else if (spec == "virtual") {
        choice.board = VirtualBoard::Create();
        choice.backend = choice.board;
    } else if (spec.rfind("dump:", 0) == 0 && spec.size() > 5) {
        choice.backend = std::make_shared<DumpCable>(spec.substr(5));
    }
    return choice;
}

CableChoice ChooseWindowCable(const std::string& spec) {
    CableChoice choice = ChooseCable(spec);
    if (choice.board) {
        choice.board->SetKeepRaw(false);
        choice.board->SetPace(kUsbBlasterBytesPerSecond);
    }
    return choice;
}

}  // namespace tunlet
