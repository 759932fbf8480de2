// Decodes USB-Blaster cable bytes the way the cable and a JTAG TAP would: bit-bang
// bytes drive TCK/TMS/TDI directly, byte-shift commands clock whole bytes out on TDI
// (least significant bit first) with TMS held at the last bit-bang level. The
// scans it records are those of one device with a 10-bit instruction register; what
// TDO answers to read-back comes from a JtagChain, the devices behind the cable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tunlet {

enum class TapState : std::uint8_t {
    TestLogicReset,
    RunTestIdle,
    SelectDrScan,
    CaptureDr,
    ShiftDr,
    Exit1Dr,
    PauseDr,
    Exit2Dr,
    UpdateDr,
    SelectIrScan,
    CaptureIr,
    ShiftIr,
    Exit1Ir,
    PauseIr,
    Exit2Ir,
    UpdateIr,
};

TapState NextTapState(TapState state, bool tms);
const char* TapStateName(TapState state);

constexpr unsigned kIrLength = 10;
constexpr std::uint16_t kIrUser0 = 0x00C;
constexpr std::uint16_t kIrUser1 = 0x00E;
constexpr std::uint16_t kIrIdcode = 0x006;  // what Test-Logic-Reset selects

// A completed scan (left through Update-IR or Update-DR).
struct JtagScan {
    bool instruction = false;   // IR scan, else DR scan
    std::uint16_t ir = 0;       // for a DR scan: the instruction it went to
    std::uint64_t bits = 0;     // bits shifted
    std::uint64_t value = 0;    // the first 64 bits shifted, the first one least significant
    bool operator==(const JtagScan&) const = default;
};

class JtagChain;

// Owns a JtagChain (whose header needs this one); a copy copies the chain, so the
// decoder's copy is the one the compiler writes.
class ChainCopy {
public:
    explicit ChainCopy(std::unique_ptr<JtagChain> chain);
    ChainCopy(const ChainCopy& other);
    ChainCopy& operator=(const ChainCopy& other);
    ChainCopy(ChainCopy&&) noexcept;
    ChainCopy& operator=(ChainCopy&&) noexcept;
    ~ChainCopy();
    const JtagChain& operator*() const { return *chain_; }
    JtagChain& operator*() { return *chain_; }
    const JtagChain* operator->() const { return chain_.get(); }
    JtagChain* operator->() { return chain_.get(); }

private:
    std::unique_ptr<JtagChain> chain_;
};

class TapDecoder {
public:
    TapDecoder();
    explicit TapDecoder(const JtagChain& chain);  // the devices that answer read-back

    // Feeds cable bytes; the bytes the cable sends back for read-back requests are
    // appended to answers when it is given.
    void Feed(const std::uint8_t* data, std::size_t count, std::vector<std::uint8_t>* answers = nullptr);

    TapState state() const { return state_; }
    std::uint16_t instruction() const { return instruction_; }
    bool outputEnable() const { return outputEnable_; }
    const std::vector<JtagScan>& scans() const { return scans_; }
    bool hasUser1() const { return hasUser1_; }
    std::uint64_t user1() const { return user1_; }
    std::uint64_t user1Bits() const { return user1Bits_; }
    // The bytes of the last (or current) USER0 data scan, whole bytes only.
    const std::vector<std::uint8_t>& user0() const { return user0_; }
    unsigned user0LeftoverBits() const { return leftoverBits_; }
    std::uint8_t user0LeftoverValue() const { return leftoverValue_; }
    std::uint64_t clocks() const { return clocks_; }
    // The devices behind the cable, as each of them saw the clocks.
    const JtagChain& chain() const { return *chain_; }

private:
    void Clock(bool tms, bool tdi);
    bool TdoNow() const;
    void ShiftByteFast(std::uint8_t byte);

    TapState state_ = TapState::TestLogicReset;
    std::uint16_t instruction_ = kIrIdcode;
    bool tck_ = false;
    bool tms_ = false;
    bool outputEnable_ = false;
    unsigned shiftBytesLeft_ = 0;
    bool shiftRead_ = false;  // the running byte-shift command asked for read-back
    bool tdo_ = true;         // TDO as the cable samples it now
    ChainCopy chain_;

    std::uint16_t irShift_ = 0;
    JtagScan current_;
    std::vector<JtagScan> scans_;

    bool hasUser1_ = false;
    std::uint64_t user1_ = 0;
    std::uint64_t user1Bits_ = 0;
    std::vector<std::uint8_t> user0_;
    unsigned leftoverBits_ = 0;
    std::uint8_t leftoverValue_ = 0;
    std::uint64_t clocks_ = 0;
};

}  // namespace tunlet
