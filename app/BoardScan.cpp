#include "app/BoardScan.h"

#include <iomanip>
#include <sstream>

#include "link/JtagParts.h"

namespace tunlet {

namespace {

// What to say when the chain's answer did not come.
BoardCheck Failure(ChainRead::Result r) {
    if (r == ChainRead::Result::WriteFailed) return {BoardCheck::Result::WriteFailed, ""};
    if (const char* reason = NotConnectedReason(r)) return {BoardCheck::Result::NotConnected, reason};
    return {BoardCheck::Result::Ready, ""};
}

}  // namespace

BoardCheck ScanBoard(FT_HANDLE handle, std::string& text) {
    text.clear();
    const ChainRead chain = ReadChain(handle);
    if (const BoardCheck failed = Failure(chain.result); failed.result != BoardCheck::Result::Ready) return failed;
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
    BoardCheck result{BoardCheck::Result::Ready, ""};
    if (chain.result == ChainRead::Result::TooLong) {
        out << RefusedChainText(chain) << "\n";
    } else if (chain.devices.size() == 1 && chain.devices[0] && IsAlteraIdcode(*chain.devices[0])) {
        HubInfo hub;
        if (const BoardCheck failed = Failure(ReadHubInfo(handle, hub)); failed.result != BoardCheck::Result::Ready) {
            result = failed;
        } else {
            out << DescribeHub(hub);
        }
    } else {
        out << "warning: " << RefusedChainText(chain) << ": uploads need --no-board-check\n";
    }
    text = out.str();
    return result;
}

}  // namespace tunlet
