#include "app/BoardScan.h"

#include <iomanip>
#include <sstream>

#include "link/JtagParts.h"

namespace tunlet {

BoardCheck ScanBoard(FT_HANDLE handle, std::string& text) {
    text.clear();
    // What answers, then whether uploads could go, as the check before an upload decides.
    const ChainRead chain = ReadChain(handle);
    if (const BoardCheck failed = CheckOfRead(chain.result);
        chain.result != ChainRead::Result::TooLong && failed.result != BoardCheck::Result::Ready) {
        return failed;
    }
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
    BoardCheck check{BoardCheck::Result::Refused, RefusedChainText(chain)};
    if (chain.result == ChainRead::Result::Devices && chain.devices.size() == 1 && chain.devices[0] &&
        IsAlteraIdcode(*chain.devices[0])) {
        HubInfo hub;
        check = CheckOfRead(ReadHubInfo(handle, hub));
        if (check.result == BoardCheck::Result::Ready) {
            out << DescribeHub(hub);
            if (std::string refusal = UploadRefusal(hub); !refusal.empty()) {
                check = {BoardCheck::Result::Refused, std::move(refusal)};
            }
        }
    }
    text = out.str();
    return check;
}

}  // namespace tunlet
