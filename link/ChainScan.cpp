#include "link/ChainScan.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <sstream>

#include "link/BlasterJtag.h"
#include "link/JtagParts.h"

namespace tunlet {

namespace {

constexpr std::uint32_t kAllOnes = 0xFFFFFFFF;
constexpr unsigned kIdcodeBits = 32;
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibblesPerWord = 8;
constexpr unsigned kVirtualJtagNode = 0x08;
// Uploads load USER1 with 0x100 in 9 bits, the first bit shifted least significant.
constexpr std::uint32_t kUploadUser1 = 0x100;
constexpr unsigned kUploadUser1Bits = 9;

struct NodeKind {
    unsigned id;
    const char* name;
    const char* kind;  // as the check's reason names it
};
constexpr NodeKind kNodeKinds[] = {
    {0x08, "virtual JTAG", "a virtual JTAG node"},
    {0x00, "SignalTap", "a SignalTap node"},
    {0x80, "JTAG UART", "a JTAG UART"},
    {0x84, "JTAG-to-Avalon master", "a JTAG-to-Avalon master"},
    {0x04, "serial flash loader", "a serial flash loader"},
    {0x09, "in-system sources and probes", "an in-system sources and probes node"},
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
ChainRead::Result RunBatch(FT_HANDLE h, CableBatch& batch, std::vector<std::uint8_t>& answer) {
    answer.assign(batch.answers(), 0);
    if (batch.Send(h) != FT_OK) {
        // A cut may have left a read-back command waiting for data bytes; the pad feeds
        // it (shifting into no USER register), then Run-Test/Idle with the outputs
        // released, as far as the cable lets us.
        RecoverCutStream(h);
        return ChainRead::Result::WriteFailed;
    }
    DWORD got = 0;
    if (FT_Read(h, answer.data(), static_cast<DWORD>(answer.size()), &got) != FT_OK) {
        return ChainRead::Result::ReadFailed;
    }
    return got == answer.size() ? ChainRead::Result::Devices : ChainRead::Result::NoAnswer;
}

}  // namespace

ChainRead ReadChain(FT_HANDLE h) {
    CableBatch batch;
    ResetTap(&batch);                              // Test-Logic-Reset selects IDCODE or BYPASS, then Run-Test/Idle
    batch.Clock(true);                             // Select-DR-Scan
    batch.Clock(false);                            // Capture-DR
    batch.Clock(false);                            // Shift-DR
    batch.ShiftBytes(kChainReadAnswerBytes, 0xFF, true);  // ones in, the IDCODEs out
    EndShiftDr(&batch);                            // a last 1, Update-DR, Run-Test/Idle, outputs released
    std::vector<std::uint8_t> answer;
    const ChainRead::Result sent = RunBatch(h, batch, answer);
    if (sent != ChainRead::Result::Devices) return ChainRead{sent, {}};
    return ParseChain(answer);
}

std::string RefusedChainText(const ChainRead& chain) {
    std::string text;
    if (chain.result == ChainRead::Result::TooLong) {
        text = "The JTAG chain holds more than " + std::to_string(kMaxChainDevices) + " devices";
    } else {
        const std::size_t n = chain.devices.size();
        text = "The JTAG chain holds " + std::to_string(n) + (n == 1 ? " device: " : " devices: ");
        for (std::size_t i = 0; i < n; ++i) text += (i == 0 ? "" : ", ") + DescribeJtagDevice(chain.devices[i]);
    }
    return text + "; Tunlet drives a chain of one Intel FPGA.";
}

BoardCheck CheckOfRead(ChainRead::Result result) {
    if (result == ChainRead::Result::WriteFailed) return {BoardCheck::Result::WriteFailed, ""};
    if (const char* reason = NotConnectedReason(result)) return {BoardCheck::Result::NotConnected, reason};
    return {BoardCheck::Result::Ready, ""};
}

BoardCheck CheckOfChain(const ChainRead& chain) {
    if (chain.result == ChainRead::Result::TooLong) return {BoardCheck::Result::Refused, RefusedChainText(chain)};
    if (chain.result != ChainRead::Result::Devices) return CheckOfRead(chain.result);
    if (chain.devices.size() != 1 || !chain.devices[0] || !IsAlteraIdcode(*chain.devices[0])) {
        return {BoardCheck::Result::Refused, RefusedChainText(chain)};
    }
    return {BoardCheck::Result::Ready, ""};
}

BoardCheck CheckOfHub(ChainRead::Result read, const HubInfo& hub) {
    if (read != ChainRead::Result::Devices) return CheckOfRead(read);
    std::string refusal = UploadRefusal(hub);
    if (!refusal.empty()) return {BoardCheck::Result::Refused, std::move(refusal)};
    return {BoardCheck::Result::Ready, ""};
}

BoardCheck CheckBoard(FT_HANDLE h) {
    if (BoardCheck chain = CheckOfChain(ReadChain(h)); chain.result != BoardCheck::Result::Ready) return chain;
    HubInfo hub;
    const ChainRead::Result read = ReadHubHead(h, hub);
    return CheckOfHub(read, hub);
}

namespace {

// Reads `words` HUB_INFO words from Run-Test/Idle (or, first, from the Shift-DR that
// loading USER0 left), each nibble one USER0 scan through Update-DR whose first 4
// bits come back in one read-back byte; ends in Run-Test/Idle with the outputs
// released.
void AppendHubReads(CableBatch& batch, std::size_t words, bool inShiftDr) {
    for (std::size_t n = 0; n < words * kNibblesPerWord; ++n) {
        if (!inShiftDr) {
            batch.Clock(true);   // Select-DR-Scan
            batch.Clock(false);  // Capture-DR: the next nibble
            batch.Clock(false);  // Shift-DR
        }
        inShiftDr = false;
        batch.ShiftBytes(1, 0x00, true);  // the nibble, then four 0 bits
        batch.Clock(true);                // one more 0 bit, to Exit1-DR
        batch.Clock(true);                // Update-DR: the hub moves to the next nibble
    }
    batch.ReleaseClock();  // Run-Test/Idle, outputs released
}

std::vector<std::uint32_t> Words(const std::vector<std::uint8_t>& answer) {
    std::vector<std::uint32_t> words(answer.size() / kNibblesPerWord, 0);
    for (std::size_t i = 0; i < words.size() * kNibblesPerWord; ++i) {
        words[i / kNibblesPerWord] |= std::uint32_t{answer[i] & 0xFu} << (kNibbleBits * (i % kNibblesPerWord));
    }
    return words;
}

bool IsVirtualJtagNode(std::uint32_t node) {
    return HubField(node) == kVirtualJtagNode && HubManufacturer(node) == kAlteraManufacturer;
}

const NodeKind* FindNodeKind(unsigned id) {
    for (const NodeKind& k : kNodeKinds) {
        if (k.id == id) return &k;
    }
    return nullptr;
}

std::string Hex(unsigned v, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, v);
    return text;
}

// What a node is, in a sentence: "a JTAG UART", "an unknown node (id 0x42)".
std::string NodeKindText(std::uint32_t node) {
    const NodeKind* k = FindNodeKind(HubField(node));
    if (k == nullptr) return "an unknown node (id " + Hex(HubField(node), 2) + ")";
    if (HubManufacturer(node) != kAlteraManufacturer) {
        return "a node of manufacturer " + Hex(HubManufacturer(node), 3) + " (id " + Hex(HubField(node), 2) + ")";
    }
    return k->kind;
}

// Where the upload's USER1 value (0x100 in 9 bits) points in a hub of n address bits
// (enough for its N nodes) and m instruction bits, the address above the
// instruction. Bits the 9 do not reach keep what the hub captured: then the
// instruction is not known.
struct UploadTarget {
    unsigned address = 0;
    unsigned instruction = 0;
    bool instructionKnown = false;
};

UploadTarget UploadTargetOf(std::uint32_t hubWord) {
    const auto n = static_cast<unsigned>(std::bit_width(HubField(hubWord)));  // address bits for 1..N
    const unsigned m = HubLow(hubWord);
    const unsigned width = n + m;
    UploadTarget t;
    if (width <= kUploadUser1Bits) {
        // The register keeps the last `width` bits shifted.
        const std::uint32_t reg = kUploadUser1 >> (kUploadUser1Bits - width);
        t.address = reg >> m;
        t.instruction = reg & ((std::uint32_t{1} << m) - 1);
        t.instructionKnown = true;
    } else {
        // The 9 bits fill the top of the register; its low width - 9 bits, all in the
        // instruction field (n is at most 8), keep what was captured.
        t.address = kUploadUser1 >> (kUploadUser1Bits - n);
        t.instructionKnown = false;
    }
    return t;
}

}  // namespace

std::string UploadRefusal(const HubInfo& info) {
    const unsigned nodes = HubField(info.hub);
    if (HubManufacturer(info.hub) != kAlteraManufacturer || nodes == 0 || info.nodes.empty()) return kReasonNoHub;
    if (!IsVirtualJtagNode(info.nodes[0])) {
        return "Address 1 of the design's hub is " + NodeKindText(info.nodes[0]) + ", not a virtual JTAG node.";
    }
    const UploadTarget t = UploadTargetOf(info.hub);
    if (t.address != 1) {
        return "Uploads reach address " + std::to_string(t.address) + " of the design's hub, not address 1: it holds " +
               std::to_string(nodes) + " nodes.";
    }
    if (!t.instructionKnown || t.instruction != 0) {
        const unsigned m = HubLow(info.hub);
        return "Uploads set only " + std::to_string(kUploadUser1Bits - 1) + " of the " + std::to_string(m) +
               " instruction bits of the design's hub.";
    }
    return "";
}

ChainRead::Result ReadHubHead(FT_HANDLE h, HubInfo& info) {
    info = HubInfo{};
    CableBatch first;
    ResetTap(&first);
    GoShiftIr(&first);
    first.ShiftBytes(1, kUser1, false);  // eight instruction bits
    first.Clock(false);                  // the ninth, 0
    IrToShiftDr(&first);                 // the tenth, 0; Update-IR: USER1; Shift-DR
    first.ShiftBytes(kHubInfoZeroBits / 8 - 1, 0x00, false);
    for (unsigned bit = 0; bit < 7; ++bit) first.Clock(false);
    first.Clock(true);                   // the 64th 0 bit, to Exit1-DR
    first.Clock(true);                   // Update-DR: HUB_INFO selected
    first.Clock(false);                  // Run-Test/Idle
    GoShiftIr(&first);
    first.ShiftBytes(1, kUser0, false);
    first.Clock(false);
    IrToShiftDr(&first);                 // Update-IR: USER0; Capture-DR takes nibble 0
    AppendHubReads(first, kHubHeadWords, true);
    std::vector<std::uint8_t> answer;
    const ChainRead::Result r = RunBatch(h, first, answer);
    if (r != ChainRead::Result::Devices) return r;
    const std::vector<std::uint32_t> words = Words(answer);
    info.hub = words[0];
    if (HubManufacturer(info.hub) == kAlteraManufacturer && HubField(info.hub) > 0) info.nodes = {words[1]};
    return ChainRead::Result::Devices;
}

ChainRead::Result ReadHubInfo(FT_HANDLE h, HubInfo& info) {
    const ChainRead::Result head = ReadHubHead(h, info);
    if (head != ChainRead::Result::Devices || info.nodes.empty()) return head;
    const std::size_t nodes = HubField(info.hub);
    std::vector<std::uint8_t> answer;
    while (info.nodes.size() < nodes) {
        const std::size_t words = std::min(kHubWordsPerWrite, nodes - info.nodes.size());
        CableBatch batch;
        AppendHubReads(batch, words, false);
        const ChainRead::Result r = RunBatch(h, batch, answer);
        if (r != ChainRead::Result::Devices) return r;
        const std::vector<std::uint32_t> more = Words(answer);
        info.nodes.insert(info.nodes.end(), more.begin(), more.end());
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
    const NodeKind* k = FindNodeKind(id);
    return k != nullptr ? k->name : nullptr;
}

std::string DescribeHub(const HubInfo& info) {
    std::ostringstream out;
    if (HubManufacturer(info.hub) != kAlteraManufacturer) return out.str();
    const unsigned m = HubLow(info.hub);
    const std::size_t n = info.nodes.size();
    out << "virtual JTAG hub: version " << HubVersion(info.hub) << ", " << n << (n == 1 ? " node" : " nodes")
        << ", widest node instruction " << m << " bits\n";
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t w = info.nodes[i];
        const char* name = HubNodeName(HubField(w));
        out << "  node " << i + 1 << ": " << (name != nullptr ? name : "unknown node") << " (id "
            << Hex(HubField(w), 2) << "), instance " << HubLow(w) << ", version " << HubVersion(w);
        if (HubManufacturer(w) != kAlteraManufacturer) out << ", manufacturer 0x" << std::hex << HubManufacturer(w) << std::dec;
        out << "\n";
    }
    if (UploadRefusal(info).empty()) out << "the design is ready for uploads\n";
    return out.str();
}

}  // namespace tunlet
