#include "app/BoardScan.h"

#include <iomanip>
#include <sstream>

#include "link/JtagParts.h"

namespace tunlet {

BoardCheck ScanBoard(FT_HANDLE handle, std::string& text) {
    text.clear();
    // What answers, then whether uploads could go, as the check before an upload decides.
    const ChainRead chain = ReadChain(handle);
    BoardCheck check = CheckOfChain(chain);
    if (check.result != BoardCheck::Result::Ready && check.result != BoardCheck::Result::Refused) return check;
    std::ostringstream out;
    for (std::size_t i = 0; i < chain.devices.size(); ++i) {
        const std::optional<std::uint32_t>& id = chain.devices[i];
        out << "device " << i + 1 << ": ";
        if (!id) {
            out << "no IDCODE (BYPASS only)\n";
            continue;
        }
        const char* name = JtagPartName(*id);
        out << "0x" << std::hex << std::uppercase << std::setw(8) << std::setfill('0') << *id << std::dec
            << std::setfill(' ') << ", " << JtagManufacturerName(*id) << ", "
            << (name != nullptr ? name : "unknown part") << "\n";
    }
    if (check.result == BoardCheck::Result::Ready) {
        HubInfo hub;
        const ChainRead::Result read = ReadHubInfo(handle, hub);
        if (read == ChainRead::Result::Devices) out << DescribeHub(hub);
        check = CheckOfHub(read, hub);
    }
    text = out.str();
    return check;
}

}  // namespace tunlet
