#include "cable/CableChoice.h"

#include "cable/DumpCable.h"
#include "cable/UsbBlasterCable.h"

namespace tunlet {

CableChoice ChooseCable(const std::string& spec, std::shared_ptr<CableBackend> usbBlaster) {
    CableChoice choice;
    if (spec == "usb-blaster") {
        choice.backend = usbBlaster ? std::move(usbBlaster) : std::make_shared<UsbBlasterCable>();
    } else if (spec == "virtual") {
        choice.board = VirtualBoard::Create();
        choice.backend = choice.board;
    } else if (spec.rfind("dump:", 0) == 0 && spec.size() > 5) {
        choice.backend = std::make_shared<DumpCable>(spec.substr(5));
    }
    return choice;
}

}  // namespace tunlet
