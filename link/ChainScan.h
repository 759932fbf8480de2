// Reading the JTAG chain back before an upload, and the design behind USER1/USER0
// for tunlet-cli scan. Nothing here touches the bytes of an upload: the check reads
// the IDCODEs after a reset and leaves the TAP in Run-Test/Idle with the outputs
// released, and the upload starts with its own reset.
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
constexpr std::size_t kBoardCheckWrites = 1;

// The outcome of the check OpenBoard makes before an upload.
struct BoardCheck {
    enum class Result : std::uint8_t {
        Ready,         // one Altera device: the upload may go
        NotConnected,  // "FPGA board is not connected." with `text` as the reason
        Refused,       // a chain Tunlet does not drive: `text` says what it holds
        WriteFailed,   // "write err"
    };
    Result result = Result::NotConnected;
    std::string text;
};
BoardCheck CheckBoard(FT_HANDLE h);

// The reasons the check gives.
inline constexpr char kReasonNoDevice[] =
    "the cable answers, but no JTAG device does: is the board powered and the ribbon on its JTAG header?";
inline constexpr char kReasonStuckLow[] = "TDO is stuck low";
inline constexpr char kReasonNoAnswer[] = "the cable does not answer reads";
inline constexpr char kReasonReadFailed[] = "reading from the cable failed";

// "the JTAG chain holds 2 devices: 0x4BA00477 (ARM debug port), 0x02D020DD (...);
// Tunlet drives a chain of one Intel FPGA"
std::string RefusedChainText(const ChainRead& chain);

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

// Loads USER1 with 64 zero bits (address 0, instruction 0: HUB_INFO), then reads
// USER0 in 4-bit scans, each through Update-DR, eight per word, low nibble first.
// Only for a chain of one Altera device; the uploads never read it. Devices when the
// words came; NoAnswer, ReadFailed or WriteFailed (after the recovery walk) when not.
ChainRead::Result ReadHubInfo(FT_HANDLE h, HubInfo& info);
// The reason "FPGA board is not connected." gives for a chain read that failed
// (NoDevice, StuckLow, NoAnswer, ReadFailed); null for the others.
const char* NotConnectedReason(ChainRead::Result result);
// What scan prints about the design: the hub, each node, and whether uploads (USER1
// loaded with 0x100 in 9 bits: node 1, an 8-bit instruction) reach a virtual JTAG
// node, or a line beginning "warning:" that says why not. Lines end in LF.
std::string DescribeHub(const HubInfo& info);
const char* HubNodeName(unsigned id);

}  // namespace tunlet
