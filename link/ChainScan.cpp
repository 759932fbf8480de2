#include "link/ChainScan.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdio>
#include <sstream>
#include <utility>

#include "link/BlasterJtag.h"
#include "link/JtagParts.h"

namespace tunlet {

namespace {

constexpr std::uint32_t kAllOnes = 0xFFFFFFFF;
constexpr unsigned kIdcodeBits = 32;
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibblesPerWord = 8;
constexpr unsigned kVirtualJtagNode = 0x08;

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
    batch.ShiftBytes(kIdcodeAnswerBytes, 0xFF, true);  // ones in, the IDCODEs out
    DrToShiftIr(&batch);                           // a last 1, Update-DR, to Shift-IR
    batch.ShiftBytes(kIrAnswerBytes, 0x00, false);     // zeros flush every IR
    batch.ShiftBytes(kIrAnswerBytes, 0xFF, true);      // ones in, the zeros out, then the first 1
    batch.ShiftBytes(kIrAnswerBytes, 0xFF, false);     // ones enough for an IR too long to measure
    batch.Clock(true, true);                       // a last 1, to Exit1-IR
    batch.Clock(true);                             // Update-IR: BYPASS everywhere
    batch.ReleaseClock();                          // Run-Test/Idle, outputs released
    std::vector<std::uint8_t> answer;
    const ChainRead::Result sent = RunBatch(h, batch, answer);
    if (sent != ChainRead::Result::Devices) return ChainRead{sent, {}, std::nullopt};
    const std::vector<std::uint8_t> ir(answer.begin() + kIdcodeAnswerBytes, answer.end());
    answer.resize(kIdcodeAnswerBytes);
    ChainRead chain = ParseChain(answer);
    for (unsigned i = 1; i < kMaxIrBits; ++i) {  // an IR has at least 2 bits: the 1 comes after a 0
        if (Bit(ir, i)) {
            if (!Bit(ir, i - 1)) chain.irBits = i;
            break;
        }
    }
    return chain;
}

namespace {
// A chain longer than the read could hold.
std::string TooLongText() {
    return "The JTAG chain holds more than " + std::to_string(kMaxChainDevices) + " devices; Tunlet drives chains of up to " +
           std::to_string(kMaxChainDevices) + ".";
}
}  // namespace

namespace {

std::string ChainList(const std::vector<ChainMember>& members) {
    std::string text;
    for (std::size_t i = 0; i < members.size(); ++i) text += (i == 0 ? "" : ", ") + DescribeMember(members, i);
    return text;
}

std::string Holds(const std::vector<ChainMember>& members) {
    const std::size_t n = members.size();
    return "The JTAG chain holds " + std::to_string(n) + (n == 1 ? " device: " : " devices: ") + ChainList(members);
}

}  // namespace

std::string DescribeMember(const std::vector<ChainMember>& members, std::size_t index) {
    return "device " + std::to_string(index + 1) + ", " + DescribeJtagDevice(members[index].idcode);
}

BoardCheck ResolveChain(const ChainRead& chain, std::vector<ChainMember>& members) {
    members.clear();
    unsigned known = 0;
    std::vector<std::size_t> unknown;
    for (const std::optional<std::uint32_t>& id : chain.devices) {
        ChainMember m;
        m.idcode = id;
        const JtagPart* part = id ? FindJtagPart(*id) : nullptr;
        if (part != nullptr) {
            m.irLength = part->irLength;
            known += part->irLength;
        } else {
            unknown.push_back(members.size());
        }
        members.push_back(m);
    }
    const auto refuse = [&](const std::string& why) {
        return BoardCheck{BoardCheck::Result::Refused, Holds(members) + ". " + why};
    };
    if (!chain.irBits) {
        return refuse("Their instruction registers did not measure: no bit shifted in came back within " +
                      std::to_string(kMaxIrBits) + " clocks.");
    }
    const unsigned measured = *chain.irBits;
    const std::string sum = "the chain's instruction registers measure " + std::to_string(measured) + " bits";
    if (unknown.size() > 1) {
        std::string names;
        for (std::size_t i : unknown) {
            if (!names.empty()) names += " and ";
            names += DescribeMember(members, i);
        }
        return refuse("The instruction-register lengths of " + names + " are not known, and " + sum +
                      ": Tunlet cannot tell how they share them.");
    }
    if (unknown.empty()) {
        if (known == measured) return {BoardCheck::Result::Ready, ""};
        return refuse("The known parts' instruction registers add up to " + std::to_string(known) + " bits, but " + sum +
                      ".");
    }
    // An instruction register has at least 2 bits.
    if (measured < known + 2) {
        return refuse("The known parts' instruction registers add up to " + std::to_string(known) + " bits, but " + sum +
                      ": that leaves no room for " + DescribeMember(members, unknown[0]) + ".");
    }
    members[unknown[0]].irLength = measured - known;
    members[unknown[0]].irMeasured = true;
    return {BoardCheck::Result::Ready, ""};
}

bool IsUploadCandidate(const ChainMember& member) {
    if (!member.idcode || !IsAlteraIdcode(*member.idcode) || member.irLength != kIrBits) return false;
    const JtagPart* part = FindJtagPart(*member.idcode);
    return part == nullptr || part->kind == PartKind::Fpga;
}

ChainTarget TargetAt(const std::vector<ChainMember>& members, std::size_t index) {
    ChainTarget t;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i < index) {
            ++t.devicesBefore;
            t.irBefore += members[i].irLength;
        } else if (i > index) {
            ++t.devicesAfter;
            t.irAfter += members[i].irLength;
        }
    }
    return t;
}

std::string LeadBitsNote(const ChainTarget& target) {
    const unsigned n = target.devicesAfter;
    if (n == 0) return "";
    return n == 1 ? "The device between the cable's TDI and the FPGA hands the FPGA its captured 0 bit ahead of every "
                    "upload: the design sees one 0 bit before the data."
                  : std::to_string(n) + " devices between the cable's TDI and the FPGA hand the FPGA their captured 0 "
                                        "bits ahead of every upload: the design sees " +
                        std::to_string(n) + " 0 bits before the data.";
}

BoardCheck CheckOfRead(ChainRead::Result result) {
    if (result == ChainRead::Result::WriteFailed) return {BoardCheck::Result::WriteFailed, ""};
    if (const char* reason = NotConnectedReason(result)) return {BoardCheck::Result::NotConnected, reason};
    return {BoardCheck::Result::Ready, ""};
}

BoardCheck CheckOfChain(const ChainRead& chain) {
    if (chain.result == ChainRead::Result::TooLong) return {BoardCheck::Result::Refused, TooLongText()};
    return CheckOfRead(chain.result);
}

std::string ChainKey(const std::vector<ChainMember>& chain) {
    std::string key;
    for (const ChainMember& m : chain) {
        char id[12] = "none";
        if (m.idcode) std::snprintf(id, sizeof id, "%08X", static_cast<unsigned>(*m.idcode));
        if (!key.empty()) key += '-';
        key += id;
    }
    return key;
}

BoardSelection SelectBoard(FT_HANDLE h, const DeviceChoice& choose) {
    using R = BoardCheck::Result;
    BoardSelection sel;
    const ChainRead chain = ReadChain(h);
    sel.check = CheckOfChain(chain);
    if (sel.check.result != R::Ready) return sel;
    sel.check = ResolveChain(chain, sel.devices);
    if (sel.check.result != R::Ready) return sel;
    const std::vector<ChainMember>& devices = sel.devices;
    const auto refuse = [&](std::string text) {
        sel.check = {R::Refused, std::move(text)};
        return sel;
    };
    std::vector<std::size_t> candidates;
    const std::optional<std::size_t> chosen = choose ? choose(devices) : std::nullopt;
    if (chosen) {
        if (*chosen >= devices.size()) {
            return refuse(Holds(devices) + ". There is no device " + std::to_string(*chosen + 1) + " to send to.");
        }
        if (!IsUploadCandidate(devices[*chosen])) {
            return refuse("The device chosen, " + DescribeMember(devices, *chosen) +
                          ", is not an Intel FPGA: uploads go to an FPGA's design.");
        }
        candidates = {*chosen};
    } else {
        for (std::size_t i = 0; i < devices.size(); ++i) {
            if (IsUploadCandidate(devices[i])) candidates.push_back(i);
        }
        if (candidates.empty()) return refuse(Holds(devices) + "; none is an Intel FPGA.");
    }
    std::vector<std::pair<std::size_t, std::string>> refused;  // the FPGAs whose design does not take uploads
    for (std::size_t i : candidates) {
        HubInfo hub;
        const ChainRead::Result read = ReadHubHead(h, hub, TargetAt(devices, i));
        if (read != ChainRead::Result::Devices) {
            sel.ready.clear();
            sel.check = CheckOfRead(read);
            return sel;
        }
        std::string why = UploadRefusal(hub);
        if (why.empty()) {
            sel.ready.push_back(i);
        } else {
            refused.emplace_back(i, std::move(why));
        }
    }
    if (sel.ready.empty()) {
        // The FPGA alone keeps the design's own words; in a chain, each FPGA is named.
        if (devices.size() == 1) return refuse(refused.front().second);
        std::string text = chosen ? "" : Holds(devices) + ".";
        for (const auto& [i, why] : refused) {
            std::string own = why;
            own[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(own[0])));
            if (!text.empty()) text += ' ';
            text += "For device ";
            text += std::to_string(i + 1);
            text += ", ";
            text += own;
        }
        return refuse(text);
    }
    if (sel.ready.size() > 1) {
        std::string names;
        for (std::size_t i : sel.ready) {
            if (!names.empty()) names += "; ";
            names += DescribeMember(devices, i);
        }
        return refuse("Several FPGAs take uploads: " + names +
                      ". Choose one: tunlet-cli --device N, or the window's menu entry \"Choose the FPGA...\".");
    }
    sel.target = sel.ready.front();
    sel.check = {R::Ready, ""};
    return sel;
}

BoardCheck CheckBoard(FT_HANDLE h) { return SelectBoard(h).check; }

namespace {

// Reads `words` HUB_INFO words from Run-Test/Idle (or, first, from the Shift-DR that
// loading USER0 left), each nibble one USER0 scan through Update-DR whose first 4
// bits come back in one read-back byte; ends in Run-Test/Idle with the outputs
// released.
// Read-back bytes per nibble: the bits of the devices nearer TDO come first.
std::size_t NibbleBytes(const ChainTarget& target) { return (target.devicesBefore + kNibbleBits + 7) / 8; }

void AppendHubReads(CableBatch& batch, std::size_t words, bool inShiftDr, const ChainTarget& target) {
    for (std::size_t n = 0; n < words * kNibblesPerWord; ++n) {
        if (!inShiftDr) {
            batch.Clock(true);   // Select-DR-Scan
            batch.Clock(false);  // Capture-DR: the next nibble
            batch.Clock(false);  // Shift-DR
        }
        inShiftDr = false;
        batch.ShiftBytes(NibbleBytes(target), 0x00, true);  // the bypass bits, the nibble, 0 bits
        batch.Clock(true);                // one more 0 bit, to Exit1-DR
        batch.Clock(true);                // Update-DR: the hub moves to the next nibble
    }
    batch.ReleaseClock();  // Run-Test/Idle, outputs released
}

std::vector<std::uint32_t> Words(const std::vector<std::uint8_t>& answer, const ChainTarget& target) {
    const std::size_t per = NibbleBytes(target);
    const std::size_t nibbles = answer.size() / per;
    std::vector<std::uint32_t> words(nibbles / kNibblesPerWord, 0);
    for (std::size_t i = 0; i < words.size() * kNibblesPerWord; ++i) {
        std::uint32_t nibble = 0;
        for (unsigned b = 0; b < kNibbleBits; ++b) {
            const std::size_t at = i * per * 8 + target.devicesBefore + b;
            nibble |= std::uint32_t{(answer[at / 8] >> (at % 8)) & 1u} << b;
        }
        words[i / kNibblesPerWord] |= nibble << (kNibbleBits * (i % kNibblesPerWord));
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
    if (width <= kUser1Bits) {
        // The register keeps the last `width` bits shifted.
        const std::uint32_t reg = kUser1Value >> (kUser1Bits - width);
        t.address = reg >> m;
        t.instruction = reg & ((std::uint32_t{1} << m) - 1);
        t.instructionKnown = true;
    } else {
        // The 9 bits fill the top of the register; its low width - 9 bits, all in the
        // instruction field (n is at most 8), keep what was captured.
        t.address = kUser1Value >> (kUser1Bits - n);
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
        return "Uploads set only " + std::to_string(kUser1Bits - 1) + " of the " + std::to_string(m) +
               " instruction bits of the design's hub.";
    }
    return "";
}

ChainRead::Result ReadHubHead(FT_HANDLE h, HubInfo& info, const ChainTarget& target) {
    info = HubInfo{};
    CableBatch first;
    ResetTap(&first);
    GoShiftIr(&first);
    first.InstructionToShiftDr(target, kUser1);  // Update-IR: USER1; Shift-DR
    // 64 zero bits, the last to Exit1-DR, padded for the bypassed devices.
    first.ShiftScan(target.devicesBefore, 0, kHubInfoZeroBits, target.devicesAfter, false);
    first.Clock(true);                   // Update-DR: HUB_INFO selected
    first.Clock(false);                  // Run-Test/Idle
    GoShiftIr(&first);
    first.InstructionToShiftDr(target, kUser0);  // Update-IR: USER0; Capture-DR takes nibble 0
    AppendHubReads(first, kHubHeadWords, true, target);
    std::vector<std::uint8_t> answer;
    const ChainRead::Result r = RunBatch(h, first, answer);
    if (r != ChainRead::Result::Devices) return r;
    const std::vector<std::uint32_t> words = Words(answer, target);
    info.hub = words[0];
    if (HubManufacturer(info.hub) == kAlteraManufacturer && HubField(info.hub) > 0) info.nodes = {words[1]};
    return ChainRead::Result::Devices;
}

ChainRead::Result ReadHubInfo(FT_HANDLE h, HubInfo& info, const ChainTarget& target) {
    const ChainRead::Result head = ReadHubHead(h, info, target);
    if (head != ChainRead::Result::Devices || info.nodes.empty()) return head;
    const std::size_t nodes = HubField(info.hub);
    std::vector<std::uint8_t> answer;
    while (info.nodes.size() < nodes) {
        const std::size_t perWrite = kHubWordsPerWrite / NibbleBytes(target);
        const std::size_t words = std::min(perWrite, nodes - info.nodes.size());
        CableBatch batch;
        AppendHubReads(batch, words, false, target);
        const ChainRead::Result r = RunBatch(h, batch, answer);
        if (r != ChainRead::Result::Devices) return r;
        const std::vector<std::uint32_t> more = Words(answer, target);
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
