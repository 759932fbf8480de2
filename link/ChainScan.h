// Reading the JTAG chain and the design behind USER1/USER0 back before an upload, and
// for tunlet-cli scan. Nothing here touches the bytes of an upload: the check reads
// the IDCODEs after a reset, then the head of the design's virtual JTAG hub, and
// leaves the TAP in Run-Test/Idle with the outputs released; the upload starts with
// its own reset.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cable/Cable.h"

namespace tunlet {

constexpr std::size_t kMaxChainDevices = 8;

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
};

// Test-Logic-Reset, Shift-DR, shift ones and read the IDCODEs back (32 bits for a
// device whose first bit is 1, one 0 bit for a device in BYPASS), up to the
// 0xFFFFFFFF the ones make after the last device; then Run-Test/Idle with the
// outputs released. One write and one read.
ChainRead ReadChain(FT_HANDLE h);
// What ReadChain costs: the bytes the cable answers, its cable bytes (reset 12, to
// Shift-DR 6, TCK low 1, one read-back command 1 + 36, the closing walk 6) in one write.
constexpr std::size_t kChainReadAnswerBytes = (kMaxChainDevices + 1) * 32 / 8;
constexpr std::size_t kChainReadCableBytes = 12 + 6 + 1 + 1 + kChainReadAnswerBytes + 6;

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

// The board check: the chain, then (for one Altera FPGA) the hub's head. Two USB
// round trips: one write and one read each.
constexpr std::size_t kBoardCheckWrites = 2;
constexpr std::size_t kBoardCheckCableBytes = kChainReadCableBytes + kHubHeadCableBytes;
constexpr std::size_t kBoardCheckAnswerBytes = kChainReadAnswerBytes + kHubHeadWords * kHubWordAnswerBytes;

// The outcome of the check OpenBoard makes before an upload.
struct BoardCheck {
    enum class Result : std::uint8_t {
        Ready,         // one Altera device whose design takes uploads: the upload may go
        NotConnected,  // "FPGA board is not connected." with `text` as the reason
        Refused,       // a chain or a design Tunlet does not drive: `text` says why
        WriteFailed,   // "write err"
    };
    Result result = Result::NotConnected;
    std::string text;
};
// The chain, then the design: one Altera FPGA whose hub puts what uploads load into
// USER1 (0x100 in 9 bits) on address 1 with instruction 0, and address 1 a virtual
// JTAG node. Nothing of USER0 is written; the TAP ends in Run-Test/Idle with the
// outputs released on every path.
BoardCheck CheckBoard(FT_HANDLE h);
// The check's outcome for a read that did not give an answer (Ready for Devices).
BoardCheck CheckOfRead(ChainRead::Result result);
// The check's two halves, for a reading of its own: the chain (Ready: one Altera
// FPGA, whose hub is to be read next), then the hub as that read left it.
BoardCheck CheckOfChain(const ChainRead& chain);
BoardCheck CheckOfHub(ChainRead::Result read, const HubInfo& hub);

// The reasons the check gives.
inline constexpr char kReasonNoDevice[] =
    "The cable answers, but no JTAG device does: is the board powered and the ribbon on its JTAG header?";
inline constexpr char kReasonStuckLow[] = "TDO is stuck low.";
inline constexpr char kReasonNoAnswer[] = "The cable does not answer reads.";
inline constexpr char kReasonReadFailed[] = "Reading from the cable failed.";
inline constexpr char kReasonNoHub[] = "The FPGA's design has no virtual JTAG hub: it cannot take uploads.";

// "The JTAG chain holds 2 devices: 0x4BA00477 (ARM debug port), 0x02D020DD (...);
// Tunlet drives a chain of one Intel FPGA."
std::string RefusedChainText(const ChainRead& chain);

// Why uploads cannot go into this design ("" when they reach a virtual JTAG node at
// address 1 with instruction 0). Needs the hub word and node 1's word.
std::string UploadRefusal(const HubInfo& info);

// The hub's head (word 0 and node 1) in one write and one read, as the check reads
// it. Only for a chain of one Altera device. Devices when the words came; NoAnswer,
// ReadFailed or WriteFailed (after the recovery walk) when not. Ends in Run-Test/Idle
// with the outputs released.
ChainRead::Result ReadHubHead(FT_HANDLE h, HubInfo& info);
// The whole hub for tunlet-cli scan: the head, then the other nodes, at most
// kHubWordsPerWrite words per write.
ChainRead::Result ReadHubInfo(FT_HANDLE h, HubInfo& info);
// The reason "FPGA board is not connected." gives for a chain read that failed
// (NoDevice, StuckLow, NoAnswer, ReadFailed); null for the others.
const char* NotConnectedReason(ChainRead::Result result);
// What scan prints about the design: the hub and each node, then "the design is
// ready for uploads" when UploadRefusal has nothing to say. Lines end in LF.
std::string DescribeHub(const HubInfo& info);
const char* HubNodeName(unsigned id);

}  // namespace tunlet
