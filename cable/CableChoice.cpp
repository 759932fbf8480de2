#include "cable/CableChoice.h"

#include "cable/DumpCable.h"
#ifdef _WIN32
#include "cable/Ftd2xxCable.h"
#else
#include "cable/UsbBlasterCable.h"
#endif

namespace tunlet {

CableChoice ChooseCable(const std::string& spec, std::shared_ptr<CableBackend> usbBlaster) {
    CableChoice choice;
    if (spec == "usb-blaster") {
#ifdef _WIN32
        // Windows: the vendor's driver library, as the cable's own tools use it.
        choice.backend = usbBlaster ? std::move(usbBlaster) : std::make_shared<Ftd2xxCable>();
#else
        choice.backend = usbBlaster ? std::move(usbBlaster) : std::make_shared<UsbBlasterCable>();
#endif
    } else if (spec == "virtual") {
        choice.board = VirtualBoard::Create();
        choice.backend = choice.board;
    } else if (spec.rfind("virtual:", 0) == 0) {
        std::vector<ChainDevice> chain;
        choice.problem = VirtualBoard::ParseChain(spec.substr(8), chain);
        if (choice.problem.empty()) {
            choice.board = VirtualBoard::Create();
            choice.board->SetChain(std::move(chain));
            choice.backend = choice.board;
        }
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
