// tunlet-cli scan: the devices on the JTAG chain.
#include <ostream>

#include "app/BoardScan.h"
#include "app/Boxes.h"
#include "cable/CableChoice.h"
#include "cable/MpsseCable.h"
#include "cli/CliCommands.h"
#include "link/BoardLink.h"

namespace tunlet::cli {

int Scan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
    std::string cable = "usb-blaster";
    std::optional<std::size_t> device;
    unsigned tckKhz = mpsse::kDefaultTckKhz;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if ((args[i] == "--cable" || args[i] == "--device" || args[i] == "--tck") && i + 1 == args.size()) {
            return Usage(err, args[i] + " needs a value");
        } else if (args[i] == "--cable") {
            cable = args[++i];
        } else if (args[i] == "--device") {
            if (!ParseDevice(args[++i], device)) return Usage(err, kDeviceUsage + ("'" + args[i] + "'"));
        } else if (args[i] == "--tck") {
            const std::string& v = args[++i];
            if (!ParseTckMhz(v, tckKhz)) return Usage(err, std::string(kTckProblem) + ", not '" + v + "'");
        } else {
            return Usage(err, "scan takes no '" + args[i] + "'");
        }
    }
    if (cable.rfind("dump:", 0) == 0) return Usage(err, "scan reads the cable: a dump cannot answer");
    const CableChoice choice = ChooseCable(cable, env.usbBlaster, tckKhz);
    if (!choice.backend) {
        return BadValue(err, "unknown cable '" + cable + "': " +
                                 (choice.problem.empty()
                                      ? "use usb-blaster, arrow-usb-blaster[:SERIAL], usb-blaster-iii[:SERIAL], virtual or virtual:LIST"
                                      : choice.problem));
    }

    SetCableBackend(choice.backend);
    const BoardLink link = OpenBoardLink({true, Chosen(device), true});
    std::string text;
    const BoardCheck check = ScanBoard(link.handle, link.selection, text);
    out << text;
    if (link.handle != nullptr) FT_Close(link.handle);
    SetCableBackend(nullptr);
    return CheckFailed(check, err);
}

}  // namespace tunlet::cli
