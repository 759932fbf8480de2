#include "app/BoardScan.h"

#include <iomanip>
#include <optional>
#include <sstream>

#include "link/JtagParts.h"

namespace tunlet {

BoardCheck ScanBoard(FT_HANDLE handle, const BoardSelection& sel, std::string& text) {
    text.clear();
    BoardCheck check = sel.check;
    if (sel.devices.empty() || (check.result != BoardCheck::Result::Ready && check.result != BoardCheck::Result::Refused)) {
        return check;
    }
    std::ostringstream out;
    const std::string cable = CableName(handle);
    if (!cable.empty()) out << "cable: " << cable << "\n";
    for (std::size_t i = 0; i < sel.devices.size(); ++i) {
        const ChainMember& m = sel.devices[i];
        out << "device " << i + 1 << ": ";
        if (!m.idcode) {
            out << "no IDCODE (BYPASS only)";
        } else {
            const char* name = JtagPartName(*m.idcode);
            out << "0x" << std::hex << std::uppercase << std::setw(8) << std::setfill('0') << *m.idcode << std::dec
                << std::setfill(' ') << ", " << JtagManufacturerName(*m.idcode) << ", "
                << (name != nullptr ? name : "unknown part");
        }
        if (m.irLength == 0) {
            out << ", IR length unknown";
        } else {
            out << ", IR " << m.irLength << " bits (" << (m.irMeasured ? "measured" : "from the table") << ")";
        }
        if (sel.target == i) out << ", uploads go here";
        out << "\n";
    }
    // The hub of the FPGA uploads go to; when none passed, of the one FPGA there is, so
    // that its nodes show why.
    std::optional<std::size_t> shown = sel.target;
    if (!shown) {
        for (std::size_t i = 0; i < sel.devices.size(); ++i) {
            if (!IsUploadCandidate(sel.devices[i])) continue;
            if (shown) {
                shown.reset();
                break;
            }
            shown = i;
        }
    }
    if (shown) {
        const bool ready = check.result == BoardCheck::Result::Ready;
        const ChainTarget target = TargetAt(sel.devices, *shown);
        const std::string note = ready ? LeadBitsNote(target) : "";
        if (!note.empty()) out << note << "\n";
        HubInfo hub;
        const ChainRead::Result read = ReadHubInfo(handle, hub, target);
        if (read == ChainRead::Result::Devices) out << DescribeHub(hub);
        if (read != ChainRead::Result::Devices) {
            check = CheckOfRead(read);
        } else if (ready && !UploadRefusal(hub).empty()) {
            check = {BoardCheck::Result::Refused, UploadRefusal(hub)};
        }
    }
    text = out.str();
    return check;
}

}  // namespace tunlet
