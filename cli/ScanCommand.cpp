// tunlet-cli scan: the devices on the JTAG chain.
#include <ostream>

#include "app/BoardScan.h"
#include "app/Boxes.h"
#include "cable/CableChoice.h"
#include "cli/CliCommands.h"

namespace tunlet::cli {

int Scan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
    std::string cable = "usb-blaster";
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--cable" && i + 1 < args.size()) {
            cable = args[++i];
        } else if (args[i] == "--cable") {
            return Usage(err, "--cable needs a value");
        } else {
            return Usage(err, "scan takes no '" + args[i] + "'");
        }
    }
    if (cable.rfind("dump:", 0) == 0) return Usage(err, "scan reads the cable: a dump cannot answer");
    const CableChoice choice = ChooseCable(cable, env.usbBlaster);
    if (!choice.backend) return BadValue(err, "unknown cable '" + cable + "': use usb-blaster or virtual");

    SetCableBackend(choice.backend);
    FT_HANDLE handle = nullptr;
    if (FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &handle) != FT_OK) {
        err << NotConnectedBox(CableOpenFailure()).text << "\n";
        SetCableBackend(nullptr);
        return kExitNotConnected;
    }
    std::string text;
    const BoardCheck check = ScanBoard(handle, text);
    out << "cable: " << CableName(handle) << "\n" << text;
    FT_Close(handle);
    SetCableBackend(nullptr);
    return CheckFailed(check, err);
}

}  // namespace tunlet::cli
