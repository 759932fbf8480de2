#include "tests/MpsseExecutor.h"

namespace tunlet::test {

namespace {
// AN_108's command bytes, as this chip model knows them.
constexpr std::uint8_t kClockBytesOut = 0x19;  // -ve edge out, LSB first
constexpr std::uint8_t kClockBitsOut = 0x1B;
constexpr std::uint8_t kClockBytesInOut = 0x39;  // out on -ve, in on +ve
constexpr std::uint8_t kClockBitsInOut = 0x3B;
constexpr std::uint8_t kClockTmsOut = 0x4B;
constexpr std::uint8_t kClockTmsInOut = 0x6B;
constexpr std::uint8_t kSetDataLow = 0x80;
constexpr std::uint8_t kReadDataLow = 0x81;
constexpr std::uint8_t kSetDataHigh = 0x82;
constexpr std::uint8_t kReadDataHigh = 0x83;
constexpr std::uint8_t kLoopbackOn = 0x84;
constexpr std::uint8_t kLoopbackOff = 0x85;
constexpr std::uint8_t kSetDivisor = 0x86;
constexpr std::uint8_t kFlush = 0x87;
constexpr std::uint8_t kDivBy5Off = 0x8A;
constexpr std::uint8_t kDivBy5On = 0x8B;
constexpr std::uint8_t kThreePhaseOn = 0x8C;
constexpr std::uint8_t kThreePhaseOff = 0x8D;
constexpr std::uint8_t kAdaptiveOn = 0x96;
constexpr std::uint8_t kAdaptiveOff = 0x97;
constexpr std::uint8_t kBadCommandAnswer = 0xFA;

constexpr std::uint8_t kTck = 0x01, kTdi = 0x02, kTdo = 0x04, kTms = 0x08;
constexpr std::uint8_t kJtagOutputs = kTck | kTdi | kTms;

std::uint8_t Bit(bool b, unsigned at) { return static_cast<std::uint8_t>(b ? 1u << at : 0); }
}  // namespace

void MpsseExecutor::SetMpsse(bool on) {
    mpsse_ = on;
    pending_.clear();
    runLeft_ = 0;
}

bool MpsseExecutor::Reached() const {
    return (lowDir_ & kJtagOutputs) == kJtagOutputs && (lowDir_ & wiring_.lowMask) == wiring_.lowMask &&
           (lowValue_ & wiring_.lowMask) == wiring_.lowLevel && (highDir_ & wiring_.highMask) == wiring_.highMask &&
           (highValue_ & wiring_.highMask) == wiring_.highLevel;
}

bool MpsseExecutor::Clock(bool tms, bool tdi) {
    ++cycles_;
    if (!Reached()) return true;  // TDO pulled high, nothing clocked
    const bool tdo = chain_.Tdo(state_);
    const TapState from = state_;
    state_ = NextTapState(from, tms);
    chain_.Clock(from, state_, tdi);
    ++clocks_;
    if (from == TapState::ShiftIr) ir_ = static_cast<std::uint16_t>((ir_ >> 1) | (unsigned{tdi} << (kIrLength - 1)));
    if (from == TapState::ShiftDr && instruction_ == kIrUser0) {
        const unsigned at = static_cast<unsigned>(user0Bits_ % 8);
        if (at == 0) user0Pending_ = 0;
        user0Pending_ = static_cast<std::uint8_t>(user0Pending_ | Bit(tdi, at));
        if (at == 7) user0_.push_back(user0Pending_);
        ++user0Bits_;
    }
    if (state_ == TapState::UpdateIr) instruction_ = ir_;
    if (state_ == TapState::TestLogicReset) instruction_ = kIrIdcode;
    if (state_ == TapState::CaptureDr && instruction_ == kIrUser0) {
        user0_.clear();
        user0Bits_ = 0;
    }
    return tdo;
}

// Executes the command at c (n bytes there); returns the bytes it used, 0 when it is
// not whole yet.
std::size_t MpsseExecutor::Execute(const std::uint8_t* c, std::size_t n, std::vector<std::uint8_t>& answers) {
    const std::uint8_t op = c[0];
    switch (op) {
        case kClockBytesOut:
        case kClockBytesInOut:
            if (n < 3) return 0;
            runLeft_ = static_cast<std::size_t>(c[1] | c[2] << 8) + 1;
            runRead_ = op == kClockBytesInOut;
            return 3;
        case kClockBitsOut:
        case kClockBitsInOut:
        case kClockTmsOut:
        case kClockTmsInOut: {
            if (n < 3) return 0;
            const bool tmsCommand = op == kClockTmsOut || op == kClockTmsInOut;
            std::uint8_t in = 0;
            for (unsigned b = 0; b <= (c[1] & 7u); ++b) {
                const bool bit = (c[2] >> b) & 1;
                if (tmsCommand) lowValue_ = static_cast<std::uint8_t>((lowValue_ & ~kTms) | Bit(bit, 3));
                const bool tms = (lowValue_ & kTms) != 0;
                const bool tdi = tmsCommand ? (c[2] & 0x80) != 0 : bit;
                in = static_cast<std::uint8_t>((in >> 1) | Bit(Clock(tms, tdi), 7));
            }
            if (tmsCommand) lowValue_ = static_cast<std::uint8_t>((lowValue_ & ~kTdi) | Bit(c[2] & 0x80, 1));
            if (op == kClockBitsInOut || op == kClockTmsInOut) answers.push_back(in);
            return 3;
        }
        case kSetDataLow:
        case kSetDataHigh:
        case kSetDivisor:
            if (n < 3) return 0;
            if (op == kSetDataLow) lowValue_ = c[1], lowDir_ = c[2];
            if (op == kSetDataHigh) highValue_ = c[1], highDir_ = c[2];
            if (op == kSetDivisor) divisor_ = static_cast<unsigned>(c[1] | c[2] << 8);
            return 3;
        case kReadDataLow: {
            const bool tdo = Reached() ? chain_.Tdo(state_) : true;
            answers.push_back(static_cast<std::uint8_t>((lowValue_ & lowDir_ & ~kTdo) | Bit(tdo, 2)));
            return 1;
        }
        case kReadDataHigh:
            answers.push_back(static_cast<std::uint8_t>(highValue_ & highDir_));
            return 1;
        case kLoopbackOn:
        case kLoopbackOff:
        case kFlush:
        case kDivBy5Off:
        case kDivBy5On:
        case kThreePhaseOn:
        case kThreePhaseOff:
        case kAdaptiveOn:
        case kAdaptiveOff:
            return 1;
        default:
            ++bad_;
            answers.insert(answers.end(), {kBadCommandAnswer, op});
            return 1;
    }
}

void MpsseExecutor::Take(const std::uint8_t* data, std::size_t count, std::vector<std::uint8_t>& answers) {
    if (!mpsse_) return;
    std::size_t i = 0;
    while (i < count) {
        if (runLeft_ > 0) {
            // Data bytes of a byte command, each clocked out as it comes.
            const std::uint8_t b = data[i++];
            std::uint8_t in = 0;
            for (unsigned k = 0; k < 8; ++k) {
                lowValue_ = static_cast<std::uint8_t>((lowValue_ & ~kTdi) | Bit((b >> k) & 1, 1));
                in = static_cast<std::uint8_t>(in | Bit(Clock((lowValue_ & kTms) != 0, (b >> k) & 1), k));
            }
            if (runRead_) answers.push_back(in);
            --runLeft_;
            continue;
        }
        pending_.push_back(data[i++]);
        const std::size_t used = Execute(pending_.data(), pending_.size(), answers);
        if (used > 0) pending_.clear();  // commands never share a buffer: each is at most 3 bytes
    }
}

}  // namespace tunlet::test
