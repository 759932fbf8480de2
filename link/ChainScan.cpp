#include "link/ChainScan.h"

#include <cstdio>
#include <sstream>

#include "link/BlasterJtag.h"
#include "link/JtagParts.h"

namespace tunlet {

namespace {

constexpr std::uint32_t kAllOnes = 0xFFFFFFFF;
constexpr unsigned kIdcodeBits = 32;
constexpr unsigned kHubInfoZeroBits = 64;  // wider than the virtual instruction register of usual designs
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibblesPerWord = 8;
constexpr unsigned kVirtualJtagNode = 0x08;
constexpr unsigned kUploadNodeInstructionBits = 8;

struct NodeKind {
    unsigned id;
    const char* name;
};
constexpr NodeKind kNodeKinds[] = {
    {0x08, "virtual JTAG"},
    {0x00, "SignalTap"},
    {0x80, "JTAG UART"},
    {0x84, "JTAG-to-Avalon master"},
    {0x04, "serial flash loader"},
    {0x09, "in-system sources and probes"},
};

bool Bit(const std::vector<std::uint8_t>& bytes, std::size_t i) { return (bytes[i / 8] >> (i % 8)) & 1; }

std::uint32_t Bits32(const std::vector<std::uint8_t>& bytes, std::size_t from) {
    std::uint32_t v = 0;
    for (unsigned i = 0; i < kIdcodeBits; ++i) v |= std::uint32_t{Bit(bytes, from + i)} << i;
    return v;
}

// The answer of the IDCODE scan, taken apart as every JTAG tool does.
ChainRead ParseChain(const std::vector<std::uint8_t>& answer) {
    ChainRead chain;
    bool anyOne = false;
    for (std::uint8_t b : answer) anyOne = anyOne || b != 0;
    if (!anyOne) {
        chain.result = ChainRead::Result::StuckLow;
        return chain;
    }
    const std::size_t total = answer.size() * 8;
    std::size_t pos = 0;
    for (;;) {
        if (pos >= total) {
            chain.result = ChainRead::Result::TooLong;
            return chain;
        }
        if (!Bit(answer, pos)) {
            chain.devices.emplace_back(std::nullopt);  // BYPASS: one 0 bit
            ++pos;
        } else {
            if (pos + kIdcodeBits > total) {
                chain.result = ChainRead::Result::TooLong;
                return chain;
            }
            const std::uint32_t id = Bits32(answer, pos);
            if (id == kAllOnes) break;
            chain.devices.emplace_back(id);
            pos += kIdcodeBits;
        }
        if (chain.devices.size() > kMaxChainDevices) {
            chain.result = ChainRead::Result::TooLong;
            return chain;
        }
    }
    chain.result = chain.devices.empty() ? ChainRead::Result::NoDevice : ChainRead::Result::Devices;
    return chain;
}

// Sends a batch and reads its whole answer; NoAnswer when it did not all come.
ChainRead::Result RunBatch(FT_HANDLE h, const CableBatch& batch, std::vector<std::uint8_t>& answer) {
    if (batch.Send(h) != FT_OK) {
        // A cut may have left a read-back shift command waiting for up to 63 data
        // bytes: a pad of TCK-low bytes feeds it (shifting into no USER register) and
        // is harmless otherwise; then Run-Test/Idle with the outputs released, as far
        // as the cable lets us.
        const std::vector<std::uint8_t> pad(blaster::kMaxShiftBytes, blaster::kStepLow);
        DWORD written = 0;
        FT_Write(h, pad.data(), static_cast<DWORD>(pad.size()), &written);
        RecoverTap(h);
        return ChainRead::Result::WriteFailed;
    }
    answer.assign(batch.answers(), 0);
    DWORD got = 0;
    if (FT_Read(h, answer.data(), static_cast<DWORD>(answer.size()), &got) != FT_OK) {
        return ChainRead::Result::ReadFailed;
    }
    return got == answer.size() ? ChainRead::Result::Devices : ChainRead::Result::NoAnswer;
}

}  // namespace

ChainRead ReadChain(FT_HANDLE h) {
    CableBatch batch;
    batch.ResetTap();                              // Test-Logic-Reset selects IDCODE or BYPASS, then Run-Test/Idle
    batch.Clock(true);                             // Select-DR-Scan
    batch.Clock(false);                            // Capture-DR
    batch.Clock(false);                            // Shift-DR
    batch.ShiftBytes(kChainReadAnswerBytes, 0xFF, true);  // ones in, the IDCODEs out
    batch.EndShiftDr();                            // a last 1, Update-DR, Run-Test/Idle, outputs released
    std::vector<std::uint8_t> answer;
    const ChainRead::Result sent = RunBatch(h, batch, answer);
    if (sent != ChainRead::Result::Devices) return ChainRead{sent, {}};
    return ParseChain(answer);
}

std::string RefusedChainText(const ChainRead& chain) {
    std::string text;
    if (chain.result == ChainRead::Result::TooLong) {
        text = "the JTAG chain holds more than " + std::to_string(kMaxChainDevices) + " devices";
    } else {
        const std::size_t n = chain.devices.size();
        text = "the JTAG chain holds " + std::to_string(n) + (n == 1 ? " device: " : " devices: ");
        for (std::size_t i = 0; i < n; ++i) text += (i == 0 ? "" : ", ") + DescribeJtagDevice(chain.devices[i]);
    }
    return text + "; Tunlet drives a chain of one Intel FPGA";
}

BoardCheck CheckBoard(FT_HANDLE h) {
    using R = ChainRead::Result;
    const ChainRead chain = ReadChain(h);
    switch (chain.result) {
        case R::Devices:
            if (chain.devices.size() == 1 && chain.devices[0] && IsAlteraIdcode(*chain.devices[0])) {
                return {BoardCheck::Result::Ready, ""};
            }
            return {BoardCheck::Result::Refused, RefusedChainText(chain)};
        case R::TooLong:
            return {BoardCheck::Result::Refused, RefusedChainText(chain)};
        case R::WriteFailed:
            return {BoardCheck::Result::WriteFailed, ""};
        default:
            return {BoardCheck::Result::NotConnected, NotConnectedReason(chain.result)};
    }
}

namespace {

// Reads `words` HUB_INFO words from Run-Test/Idle (or, first, from the Shift-DR that
// loading USER0 left), each nibble one USER0 scan through Update-DR; ends in
// Run-Test/Idle with the outputs released.
void AppendHubReads(CableBatch& batch, unsigned words, bool inShiftDr) {
    for (unsigned n = 0; n < words * kNibblesPerWord; ++n) {
        if (!inShiftDr) {
            batch.Clock(true);   // Select-DR-Scan
            batch.Clock(false);  // Capture-DR: the next nibble
            batch.Clock(false);  // Shift-DR
        }
        inShiftDr = false;
        for (unsigned bit = 0; bit + 1 < kNibbleBits; ++bit) batch.Clock(false, false, true);
        batch.Clock(true, false, true);  // the last bit, to Exit1-DR
        batch.Clock(true);               // Update-DR: the hub moves to the next nibble
    }
    batch.ReleaseClock();  // Run-Test/Idle, outputs released
}

std::vector<std::uint32_t> Words(const std::vector<std::uint8_t>& answer) {
    std::vector<std::uint32_t> words(answer.size() / (kNibbleBits * kNibblesPerWord), 0);
    for (std::size_t i = 0; i < words.size() * kNibbleBits * kNibblesPerWord; ++i) {
        if (answer[i] & 1) words[i / (kNibbleBits * kNibblesPerWord)] |= std::uint32_t{1} << (i % 32);
    }
    return words;
}

}  // namespace

ChainRead::Result ReadHubInfo(FT_HANDLE h, HubInfo& info) {
    info = HubInfo{};
    CableBatch first;
    first.ResetTap();
    first.GoShiftIr();
    first.ShiftBytes(1, kUser1, false);  // eight instruction bits
    first.Clock(false);                  // the ninth, 0
    first.IrToShiftDr();                 // the tenth, 0; Update-IR: USER1; Shift-DR
    first.ShiftBytes(kHubInfoZeroBits / 8 - 1, 0x00, false);
    for (unsigned bit = 0; bit < 7; ++bit) first.Clock(false);
    first.Clock(true);                   // the 64th 0 bit, to Exit1-DR
    first.Clock(true);                   // Update-DR: HUB_INFO selected
    first.Clock(false);                  // Run-Test/Idle
    first.GoShiftIr();
    first.ShiftBytes(1, kUser0, false);
    first.Clock(false);
    first.IrToShiftDr();                 // Update-IR: USER0; Capture-DR takes nibble 0
    AppendHubReads(first, 1, true);
    std::vector<std::uint8_t> answer;
    const ChainRead::Result r = RunBatch(h, first, answer);
    if (r != ChainRead::Result::Devices) return r;
    info.hub = Words(answer).front();
    const unsigned nodes = HubManufacturer(info.hub) == kAlteraManufacturer ? HubField(info.hub) : 0;
    if (nodes > 0) {
        CableBatch rest;
        AppendHubReads(rest, nodes, false);
        const ChainRead::Result more = RunBatch(h, rest, answer);
        if (more != ChainRead::Result::Devices) return more;
        info.nodes = Words(answer);
    }
    return ChainRead::Result::Devices;
}

const char* NotConnectedReason(ChainRead::Result result) {
    switch (result) {
        case ChainRead::Result::NoDevice: return kReasonNoDevice;
        case ChainRead::Result::StuckLow: return kReasonStuckLow;
        case ChainRead::Result::NoAnswer: return kReasonNoAnswer;
        case ChainRead::Result::ReadFailed: return kReasonReadFailed;
        default: return nullptr;
    }
}

const char* HubNodeName(unsigned id) {
    for (const NodeKind& k : kNodeKinds) {
        if (k.id == id) return k.name;
    }
    return nullptr;
}

std::string DescribeHub(const HubInfo& info) {
    std::ostringstream out;
    if (HubManufacturer(info.hub) != kAlteraManufacturer) {
        out << "no virtual JTAG hub in the design: it cannot take uploads\n";
        return out.str();
    }
    const unsigned m = HubLow(info.hub);
    const std::size_t n = info.nodes.size();
    out << "virtual JTAG hub: version " << HubVersion(info.hub) << ", " << n << (n == 1 ? " node" : " nodes")
        << ", widest node instruction " << m << " bits\n";
    std::size_t firstVirtualJtag = 0;  // its address, 0 for none
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t w = info.nodes[i];
        const char* name = HubNodeName(HubField(w));
        char id[8];
        std::snprintf(id, sizeof id, "0x%02X", HubField(w));
        out << "  node " << i + 1 << ": " << (name != nullptr ? name : "unknown node") << " (id " << id
            << "), instance " << HubLow(w) << ", version " << HubVersion(w);
        if (HubManufacturer(w) != kAlteraManufacturer) out << ", manufacturer 0x" << std::hex << HubManufacturer(w) << std::dec;
        out << "\n";
        if (firstVirtualJtag == 0 && HubField(w) == kVirtualJtagNode) firstVirtualJtag = i + 1;
    }
    std::vector<std::string> why;
    if (n == 0) {
        why.push_back("the hub holds no node");
    } else if (firstVirtualJtag == 0) {
        why.push_back("no node is a virtual JTAG node");
    } else if (firstVirtualJtag != 1) {
        const char* name = HubNodeName(HubField(info.nodes[0]));
        why.push_back(std::string("node 1 is ") + (name != nullptr ? name : "an unknown node") +
                      " and the virtual JTAG node sits at address " + std::to_string(firstVirtualJtag) + " of " +
                      std::to_string(n));
    } else if (n > 1) {
        why.push_back("the hub holds " + std::to_string(n) + " nodes, so its node address is wider than the 1 bit uploads send");
    }
    if (m != kUploadNodeInstructionBits) {
        why.push_back("the widest node instruction is " + std::to_string(m) + " bits, not the 8 uploads send");
    }
    if (why.empty()) {
        out << "the design is ready for uploads\n";
    } else {
        out << "warning: uploads load USER1 with 0x100 (node 1, an 8-bit instruction), but ";
        for (std::size_t i = 0; i < why.size(); ++i) out << (i == 0 ? "" : "; ") << why[i];
        out << "\n";
    }
    return out.str();
}

}  // namespace tunlet
