// Channel A of an FT2232H in MPSSE mode, as far as the FT2232H cables use it, with a
// board behind its pins: executes the commands of FTDI's AN_108 (written here from
// the note, not from cable/MpsseTranslator) into a modelled JTAG chain and answers
// what the chip answers. Commands may be cut anywhere between calls. Outside MPSSE
// mode the bytes go nowhere and nothing is answered. What the TAP received is kept
// as TapDecoder keeps it for the USB-Blaster: the TAP state and the bytes of the last
// USER0 data scan (one device with a 10-bit instruction register).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cable/JtagChain.h"
#include "cable/TapDecoder.h"

namespace tunlet::test {

// The pins a board needs driven before TCK, TMS and TDI reach it (a cable's level
// shifters): those in a mask must be outputs at the given level.
struct MpsseWiring {
    std::uint8_t lowMask = 0, lowLevel = 0;
    std::uint8_t highMask = 0, highLevel = 0;
};
// The Arrow USB Blaster: nothing to enable. The USB-Blaster III: ADBUS4/5 low,
// ACBUS4 high, ACBUS5/7 low.
inline constexpr MpsseWiring kArrowWiring{};
inline constexpr MpsseWiring kBlasterIiiWiring{0x30, 0x00, 0xB0, 0x10};

class MpsseExecutor {
public:
    explicit MpsseExecutor(JtagChain chain = JtagChain(), MpsseWiring wiring = {})
        : chain_(std::move(chain)), wiring_(wiring) {}

    // Set bitmode: MPSSE on (true) or reset (false); either drops a cut command.
    void SetMpsse(bool on);
    // The bytes that reached the chip; answers appended.
    void Take(const std::uint8_t* data, std::size_t count, std::vector<std::uint8_t>& answers);

    bool mpsse() const { return mpsse_; }
    TapState state() const { return state_; }
    const std::vector<std::uint8_t>& user0() const { return user0_; }  // whole bytes
    std::uint64_t clocks() const { return clocks_; }      // TCK edges that reached the TAP
    std::uint64_t tckCycles() const { return cycles_; }  // TCK cycles the chip made
    unsigned divisor() const { return divisor_; }
    std::size_t badCommands() const { return bad_; }

private:
    bool Reached() const;
    bool Clock(bool tms, bool tdi);  // returns TDO as the rising edge samples it
    std::size_t Execute(const std::uint8_t* c, std::size_t n, std::vector<std::uint8_t>& answers);

    JtagChain chain_;
    MpsseWiring wiring_;
    bool mpsse_ = false;
    std::vector<std::uint8_t> pending_;  // a command not yet whole
    std::size_t runLeft_ = 0;            // data bytes a 0x19/0x39 still takes
    bool runRead_ = false;
    std::uint8_t lowValue_ = 0, lowDir_ = 0, highValue_ = 0, highDir_ = 0;
    unsigned divisor_ = 0;
    std::size_t bad_ = 0;

    TapState state_ = TapState::TestLogicReset;
    std::uint16_t ir_ = 0, instruction_ = kIrIdcode;
    std::vector<std::uint8_t> user0_;
    std::uint64_t user0Bits_ = 0;
    std::uint8_t user0Pending_ = 0;
    std::uint64_t clocks_ = 0, cycles_ = 0;
};

}  // namespace tunlet::test
