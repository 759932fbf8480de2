// The devices behind the cable as a JTAG tool sees them: each with its instruction
// register, its IDCODE (or none: BYPASS after reset) and, for an Intel FPGA whose
// design holds one, the virtual JTAG hub behind USER1 and USER0. Every device sees
// the same TCK and TMS; TDI enters the last device and the first one drives TDO, so
// device 0 is the first whose bits come back.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "cable/TapDecoder.h"

namespace tunlet {

// One node of a virtual JTAG hub: its version, id (0x08 virtual JTAG, 0x00
// SignalTap, ...), manufacturer and instance.
struct HubNode {
    std::uint8_t version = 1;
    std::uint8_t id = 0x08;
    std::uint16_t manufacturer = 0x06E;
    std::uint8_t instance = 0;
};

// The hub of an FPGA design: its version, manufacturer, m (the widest node
// instruction) and its nodes in address order 1..N.
struct VirtualHub {
    std::uint8_t version = 1;
    std::uint16_t manufacturer = 0x06E;
    std::uint8_t m = 8;
    std::vector<HubNode> nodes = std::vector<HubNode>(1);  // one virtual JTAG node
};

// IDCODE is the instruction 0x006 of a 10-bit IR (Intel's parts) and 0xE of a 4-bit
// one (ARM's debug ports); for other lengths only Test-Logic-Reset selects it. All
// ones is BYPASS for every device.
struct ChainDevice {
    std::optional<std::uint32_t> idcode;  // none: the device has only BYPASS
    unsigned irLength = kIrLength;
    std::optional<VirtualHub> hub;        // an Intel FPGA with a virtual JTAG hub
};

// What one device of the chain went through, as the device itself saw it.
struct DeviceRecord {
    std::vector<std::uint16_t> instructions;  // latched at each Update-IR (a repeat once)
    // The bits its TDI took during its last USER0 scan, from Capture-DR on, the first
    // in bit 0 of the first byte: what the design behind USER0 was given.
    std::vector<std::uint8_t> user0;
    std::uint64_t user0Bits = 0;
    std::optional<std::uint64_t> user1;  // the virtual instruction USER1 last latched
};

// A board of one Cyclone IV E EP4CE22 whose design holds a virtual JTAG hub with
// one virtual JTAG node (instance 0, 8-bit instructions).
constexpr std::uint32_t kEp4ce22Idcode = 0x020F30DD;
std::vector<ChainDevice> DefaultBoardChain();

// What TDO does: follows the chain, or is stuck (a board that is off).
enum class TdoLine : std::uint8_t { Chain, StuckHigh, StuckLow };

class JtagChain {
public:
    explicit JtagChain(std::vector<ChainDevice> devices = DefaultBoardChain(), TdoLine line = TdoLine::Chain);

    // One rising TCK edge: the TAP goes from `from` to `to`, TDI shifted in while
    // `from` is a shift state.
    void Clock(TapState from, TapState to, bool tdi);
    // The level TDO presents in this TAP state.
    bool Tdo(TapState state) const;

    std::size_t size() const { return devices_.size(); }
    const ChainDevice& Config(std::size_t i) const { return devices_[i].config; }
    const DeviceRecord& Record(std::size_t i) const { return devices_[i].record; }
    // Whether eight clocks in Shift-DR can go straight into the one device's USER0
    // (a chain of one device whose 1-bit USER0 register takes the upload), and doing
    // so: the decoder's fast path.
    bool TakesUser0Bytes() const;
    void ShiftUser0Byte(std::uint8_t byte);

private:
    struct Register {
        std::uint64_t bits = 0;
        unsigned length = 1;
    };
    struct Device {
        ChainDevice config;
        Register ir, dr;
        std::uint16_t instruction = 0;
        bool idcodeSelected = true;  // Test-Logic-Reset selects IDCODE (or BYPASS)
        std::uint64_t vir = 0;       // the hub's virtual instruction register
        unsigned infoNibble = 0;     // the next HUB_INFO nibble USER0 captures
        DeviceRecord record;
    };
    static unsigned VirWidth(const VirtualHub& hub);
    static bool TakesUser0(const Device& d);
    static void RecordUser0Bit(Device& d, bool bit);
    static std::uint32_t HubWord(const VirtualHub& hub, unsigned index);
    void Reset();
    void CaptureDr(Device& d);
    void UpdateDr(Device& d);

    std::vector<Device> devices_;
    TdoLine line_;
};

}  // namespace tunlet
