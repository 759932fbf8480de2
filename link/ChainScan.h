// Reading the JTAG chain and the design behind USER1/USER0 back before an upload, and
// for tunlet-cli scan. Nothing here touches the bytes of an upload: the check reads
// the IDCODEs after a reset, then the head of the design's virtual JTAG hub, and
// leaves the TAP in Run-Test/Idle with the outputs released; the upload starts with
// its own reset.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cable/Cable.h"
#include "link/BlasterJtag.h"

namespace tunlet {

constexpr std::size_t kMaxChainDevices = 8;
// The chain's instruction registers are measured up to this many bits in all.
constexpr unsigned kMaxIrBits = 128;

// What the chain answered to a reset and a scan of its data registers.
struct ChainRead {
    enum class Result : std::uint8_t {
        Devices,      // devices answered, listed in `devices`, the one nearest TDO first
        NoDevice,     // all ones
        StuckLow,     // all zeros
        NoAnswer,     // the cable did not answer the read in time
        ReadFailed,   // the read failed
        WriteFailed,  // the write failed; the recovery walk went out
        TooLong,      // more than kMaxChainDevices devices (or no end in sight)
    };
    Result result = Result::NoAnswer;
    std::vector<std::optional<std::uint32_t>> devices;  // none: a device without IDCODE
    std::optional<unsigned> irBits;  // the IRs' measured total; none when it did not measure
};

// Test-Logic-Reset, Shift-DR, shift ones and read the IDCODEs back (32 bits for a
// device whose first bit is 1, one 0 bit for a device in BYPASS), up to the
// 0xFFFFFFFF the ones make after the last device. Then Shift-IR: kMaxIrBits zeros
// flush every instruction register, and ones follow while TDO is read: the zeros
// that come out before the first 1 are the IRs' total length. Ones go on for as
// many again (an IR too long to measure may hold up to 8 devices of 32 bits), so
// that Update-IR latches BYPASS in every device and nothing else; then
// Run-Test/Idle with the outputs released. One write and one read.
ChainRead ReadChain(FT_HANDLE h);
// What ReadChain costs: the bytes the cable answers, its cable bytes (reset 12, to
// Shift-DR 6, TCK low 1, one read-back command 1 + 36, to Shift-IR 12, TCK low 1, 16
// flushing shifts 32, one read-back command 1 + 16, 16 shifts of ones 32, Exit1-IR,
// Update-IR and the releasing clock 6) in one write.
constexpr std::size_t kIdcodeAnswerBytes = (kMaxChainDevices + 1) * 32 / 8;
constexpr std::size_t kIrAnswerBytes = kMaxIrBits / 8;
constexpr std::size_t kChainReadAnswerBytes = kIdcodeAnswerBytes + kIrAnswerBytes;
constexpr std::size_t kChainReadCableBytes =
    12 + 6 + 1 + 1 + kIdcodeAnswerBytes + 12 + 1 + 2 * kIrAnswerBytes + 1 + kIrAnswerBytes + 2 * kIrAnswerBytes + 6;

// Every read-back asks at most this many answer bytes in one write and reads them
// before the next write: the FT245R of clone cables holds 256 (the original's 384).
constexpr std::size_t kMaxAnswerBytesPerWrite = 256;

// The virtual JTAG hub of the design behind USER1/USER0 as HUB_INFO reports it:
// word 0 the hub, then one word per node in address order 1..N.
struct HubInfo {
    std::uint32_t hub = 0;
    std::vector<std::uint32_t> nodes;
};
constexpr unsigned HubVersion(std::uint32_t w) { return w >> 27; }
constexpr unsigned HubField(std::uint32_t w) { return (w >> 19) & 0xFF; }  // N, or a node's id
constexpr unsigned HubManufacturer(std::uint32_t w) { return (w >> 8) & 0x7FF; }
constexpr unsigned HubLow(std::uint32_t w) { return w & 0xFF; }             // m, or a node's instance

// Reading HUB_INFO: USER1 loaded with kHubInfoZeroBits zero bits (address 0,
// instruction 0), then USER0 read one nibble per scan through Update-DR, eight per
// word, low nibble first. Each nibble is one read-back byte (its low 4 bits), so a
// word is 8 answer bytes. The first write loads USER1 and reads words 0 and 1 (the
// hub and node 1): that is all the board check needs.
constexpr unsigned kHubInfoZeroBits = 64;
constexpr std::size_t kHubWordAnswerBytes = 8;
constexpr std::size_t kHubHeadWords = 2;
constexpr std::size_t kHubWordsPerWrite = kMaxAnswerBytesPerWrite / kHubWordAnswerBytes;
static_assert(kChainReadAnswerBytes <= kMaxAnswerBytesPerWrite);
static_assert(kHubHeadWords * kHubWordAnswerBytes <= kMaxAnswerBytesPerWrite);
// One HUB_INFO nibble from Run-Test/Idle or Update-DR: to Shift-DR 6, TCK low 1,
// read-back 2, Exit1-DR 2, Update-DR 2.
constexpr std::size_t kHubNibbleCableBytes = 6 + 1 + 2 + 2 + 2;
// The first hub write: reset 12, to Shift-IR 8, USER1 3 + 2, to Shift-DR 10, 56 zero
// bits 1 + 14, 8 more clocks 16, Update-DR and Run-Test/Idle 4, to Shift-IR 8, USER0
// 3 + 2, to Shift-DR 10; then 16 nibbles, the first from Shift-DR (6 bytes less), and
// the release clock 2.
constexpr std::size_t kHubHeadCableBytes = 12 + 8 + 5 + 10 + 15 + 16 + 4 + 8 + 5 + 10 +
                                           kHubHeadWords * 8 * kHubNibbleCableBytes - 6 + 2;

// The board check: the chain, then the hub's head of each Intel FPGA in it. For a
// chain of one FPGA (or an FPGA beside a debug port or a CPLD), two USB round trips:
// one write and one read each.
constexpr std::size_t kBoardCheckWrites = 2;
constexpr std::size_t kBoardCheckCableBytes = kChainReadCableBytes + kHubHeadCableBytes;
constexpr std::size_t kBoardCheckAnswerBytes = kChainReadAnswerBytes + kHubHeadWords * kHubWordAnswerBytes;

// The outcome of the check OpenBoard makes before an upload.
struct BoardCheck {
    enum class Result : std::uint8_t {
        Ready,         // an FPGA whose design takes uploads: the upload may go
        NotConnected,  // "FPGA board is not connected." with `text` as the reason
        Refused,       // a chain or a design Tunlet does not drive: `text` says why
        WriteFailed,   // "write err"
    };
    Result result = Result::NotConnected;
    std::string text;
};
// A device of the chain as the check resolved it, the one nearest TDO first.
struct ChainMember {
    std::optional<std::uint32_t> idcode;  // none: a device without IDCODE
    unsigned irLength = 0;                // 0: not known
    bool irMeasured = false;              // what the measured total left, not the table's
    bool operator==(const ChainMember&) const = default;
};

// The devices' instruction-register lengths from the table of parts, checked against
// the measured total: the one device the table does not know (or that has no
// IDCODE) gets what is left. Ready, or Refused with the devices named and what did
// not add up. `members` holds every device either way.
BoardCheck ResolveChain(const ChainRead& chain, std::vector<ChainMember>& members);
// An Intel FPGA, whose design may take uploads: not a CPLD, a 10-bit IR.
bool IsUploadCandidate(const ChainMember& member);
// Where the device at `index` sits for the walks.
ChainTarget TargetAt(const std::vector<ChainMember>& members, std::size_t index);

// What the check found and chose.
struct BoardSelection {
    BoardCheck check;
    std::vector<ChainMember> devices;   // the chain, when it answered
    std::vector<std::size_t> ready;     // the FPGAs whose design takes uploads
    std::optional<std::size_t> target;  // the upload's device when the check is Ready
    ChainTarget Target() const { return target ? TargetAt(devices, *target) : ChainTarget{}; }
};

// Which device the upload goes to, asked once the chain is known (none: the check
// chooses). Counted from 0, as the chain lists them.
using DeviceChoice = std::function<std::optional<std::size_t>(const std::vector<ChainMember>& chain)>;
// The chain's IDCODEs, the one nearest TDO first, as the window keeps a choice for
// it: "4BA00477-02D020DD" ("none" for a device without IDCODE).
std::string ChainKey(const std::vector<ChainMember>& chain);

// The chain, then the design of each Intel FPGA in it: the upload goes to the one
// FPGA whose hub puts what uploads load into USER1 (0x100 in 9 bits) on address 1
// with instruction 0, address 1 a virtual JTAG node; or to the device `choose`
// names, which must be such an FPGA. Several such FPGAs and no choice are refused. Nothing of USER0 is written; the TAP ends in Run-Test/Idle
// with the outputs released on every path.
BoardSelection SelectBoard(FT_HANDLE h, const DeviceChoice& choose = nullptr);
// SelectBoard's outcome.
BoardCheck CheckBoard(FT_HANDLE h);
// The check's outcome for a read that did not give an answer (Ready for Devices).
BoardCheck CheckOfRead(ChainRead::Result result);
// The check's outcome for a chain read (Ready: devices answered).
BoardCheck CheckOfChain(const ChainRead& chain);
// The line scan and play print when devices between the cable's TDI and the FPGA
// put their captured bits ahead of every upload ("" when none does).
std::string LeadBitsNote(const ChainTarget& target);
// "device 2, 0x02D020DD (Cyclone V 5CSEA6/5CSEBA6)"
std::string DescribeMember(const std::vector<ChainMember>& members, std::size_t index);

// The reasons the check gives.
inline constexpr char kReasonNoDevice[] =
    "The cable answers, but no JTAG device does: is the board powered and the ribbon on its JTAG header?";
inline constexpr char kReasonStuckLow[] = "TDO is stuck low.";
inline constexpr char kReasonNoAnswer[] = "The cable does not answer reads.";
inline constexpr char kReasonReadFailed[] = "Reading from the cable failed.";
inline constexpr char kReasonNoHub[] = "The FPGA's design has no virtual JTAG hub: it cannot take uploads.";

// Why uploads cannot go into this design ("" when they reach a virtual JTAG node at
// address 1 with instruction 0). Needs the hub word and node 1's word.
std::string UploadRefusal(const HubInfo& info);

// The hub's head (word 0 and node 1) of the FPGA at `target` in one write and one
// read, as the check reads it; every other device in BYPASS. Devices when the words
// came; NoAnswer, ReadFailed or WriteFailed (after the recovery walk) when not. Ends
// in Run-Test/Idle with the outputs released.
ChainRead::Result ReadHubHead(FT_HANDLE h, HubInfo& info, const ChainTarget& target = {});
// The whole hub for tunlet-cli scan: the head, then the other nodes, at most
// kHubWordsPerWrite words per write.
ChainRead::Result ReadHubInfo(FT_HANDLE h, HubInfo& info, const ChainTarget& target = {});
// The reason "FPGA board is not connected." gives for a chain read that failed
// (NoDevice, StuckLow, NoAnswer, ReadFailed); null for the others.
const char* NotConnectedReason(ChainRead::Result result);
// What scan prints about the design: the hub and each node, then "the design is
// ready for uploads" when UploadRefusal has nothing to say. Lines end in LF.
std::string DescribeHub(const HubInfo& info);
const char* HubNodeName(unsigned id);

}  // namespace tunlet
