#include "cable/TapDecoder.h"

#include "cable/JtagChain.h"

namespace tunlet {

namespace {
constexpr std::uint8_t kModeShift = 0x80;
constexpr std::uint8_t kCountMask = 0x3F;
constexpr std::uint8_t kTck = 0x01;
constexpr std::uint8_t kTms = 0x02;
constexpr std::uint8_t kTdi = 0x10;
constexpr std::uint8_t kOutputEnable = 0x20;
constexpr std::uint8_t kReadBack = 0x40;
}  // namespace

ChainCopy::ChainCopy(std::unique_ptr<JtagChain> chain) : chain_(std::move(chain)) {}
ChainCopy::ChainCopy(const ChainCopy& other) : chain_(std::make_unique<JtagChain>(*other.chain_)) {}
ChainCopy& ChainCopy::operator=(const ChainCopy& other) {
    if (this != &other) chain_ = std::make_unique<JtagChain>(*other.chain_);
    return *this;
}
ChainCopy::ChainCopy(ChainCopy&&) noexcept = default;
ChainCopy& ChainCopy::operator=(ChainCopy&&) noexcept = default;
ChainCopy::~ChainCopy() = default;

TapDecoder::TapDecoder() : chain_(std::make_unique<JtagChain>()) {}
TapDecoder::TapDecoder(const JtagChain& chain) : chain_(std::make_unique<JtagChain>(chain)) {}

bool TapDecoder::TdoNow() const { return chain_->Tdo(state_); }

TapState NextTapState(TapState s, bool tms) {
    using S = TapState;
    switch (s) {
        case S::TestLogicReset: return tms ? S::TestLogicReset : S::RunTestIdle;
        case S::RunTestIdle: return tms ? S::SelectDrScan : S::RunTestIdle;
        case S::SelectDrScan: return tms ? S::SelectIrScan : S::CaptureDr;
        case S::CaptureDr: return tms ? S::Exit1Dr : S::ShiftDr;
        case S::ShiftDr: return tms ? S::Exit1Dr : S::ShiftDr;
        case S::Exit1Dr: return tms ? S::UpdateDr : S::PauseDr;
        case S::PauseDr: return tms ? S::Exit2Dr : S::PauseDr;
        case S::Exit2Dr: return tms ? S::UpdateDr : S::ShiftDr;
        case S::UpdateDr: return tms ? S::SelectDrScan : S::RunTestIdle;
        case S::SelectIrScan: return tms ? S::TestLogicReset : S::CaptureIr;
        case S::CaptureIr: return tms ? S::Exit1Ir : S::ShiftIr;
        case S::ShiftIr: return tms ? S::Exit1Ir : S::ShiftIr;
        case S::Exit1Ir: return tms ? S::UpdateIr : S::PauseIr;
        case S::PauseIr: return tms ? S::Exit2Ir : S::PauseIr;
        case S::Exit2Ir: return tms ? S::UpdateIr : S::ShiftIr;
        case S::UpdateIr: return tms ? S::SelectDrScan : S::RunTestIdle;
    }
    return S::TestLogicReset;
}

const char* TapStateName(TapState s) {
    static constexpr const char* kNames[] = {
        "Test-Logic-Reset", "Run-Test/Idle", "Select-DR-Scan", "Capture-DR", "Shift-DR", "Exit1-DR",
        "Pause-DR",         "Exit2-DR",      "Update-DR",      "Select-IR-Scan", "Capture-IR", "Shift-IR",
        "Exit1-IR",         "Pause-IR",      "Exit2-IR",       "Update-IR",
    };
    return kNames[static_cast<unsigned>(s)];
}

void TapDecoder::Clock(bool tms, bool tdi) {
    ++clocks_;
    const TapState from = state_;
    if (state_ == TapState::ShiftIr || state_ == TapState::ShiftDr) {
        if (current_.bits < 64 && tdi) current_.value |= std::uint64_t{1} << current_.bits;
        ++current_.bits;
        if (state_ == TapState::ShiftIr) {
            irShift_ = static_cast<std::uint16_t>((irShift_ >> 1) | (unsigned{tdi} << (kIrLength - 1)));
        } else if (current_.ir == kIrUser0) {
            if (tdi) leftoverValue_ = static_cast<std::uint8_t>(leftoverValue_ | (1u << leftoverBits_));
            if (++leftoverBits_ == 8) {
                user0_.push_back(leftoverValue_);
                leftoverBits_ = 0;
                leftoverValue_ = 0;
            }
        }
    }
    state_ = NextTapState(state_, tms);
    chain_->Clock(from, state_, tdi);
    switch (state_) {
        case TapState::TestLogicReset:
            instruction_ = kIrIdcode;
            break;
        case TapState::CaptureIr:
            current_ = JtagScan{true, instruction_, 0, 0};
            irShift_ = 0;
            break;
        case TapState::CaptureDr:
            current_ = JtagScan{false, instruction_, 0, 0};
            if (instruction_ == kIrUser0) {
                user0_.clear();
                leftoverBits_ = 0;
                leftoverValue_ = 0;
            }
            break;
        case TapState::UpdateIr:
            instruction_ = current_.bits >= kIrLength ? irShift_
                                                      : static_cast<std::uint16_t>(irShift_ >> (kIrLength - current_.bits));
            scans_.push_back(current_);
            break;
        case TapState::UpdateDr:
            if (current_.ir == kIrUser1) {
                hasUser1_ = true;
                user1_ = current_.value;
                user1Bits_ = current_.bits;
            }
            scans_.push_back(current_);
            break;
        default:
            break;
    }
}

void TapDecoder::ShiftByteFast(std::uint8_t byte) {
    // Eight clocks with TMS low in Shift-DR of USER0 on a byte boundary: the byte
    // lands whole in the data register and the TAP stays where it is.
    clocks_ += 8;
    if (current_.bits < 64) {
        const std::uint64_t room = 64 - current_.bits;
        std::uint64_t v = byte;
        if (room < 8) v &= (std::uint64_t{1} << room) - 1;
        current_.value |= v << current_.bits;
    }
    current_.bits += 8;
    user0_.push_back(byte);
}

void TapDecoder::Feed(const std::uint8_t* data, std::size_t count, std::vector<std::uint8_t>* answers) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = data[i];
        if (shiftBytesLeft_ > 0) {
            --shiftBytesLeft_;
            if (!shiftRead_ && !tms_ && state_ == TapState::ShiftDr && current_.ir == kIrUser0 && leftoverBits_ == 0 &&
                chain_->TakesUser0Bytes()) {
                ShiftByteFast(b);
                chain_->ShiftUser0Byte(b);
            } else {
                // Per bit: TDI set and TDO sampled with TCK low, then the rising edge.
                std::uint8_t answer = 0;
                for (unsigned bit = 0; bit < 8; ++bit) {
                    if (TdoNow()) answer = static_cast<std::uint8_t>(answer | (1u << bit));
                    Clock(tms_, (b >> bit) & 1);
                }
                if (shiftRead_ && answers != nullptr) answers->push_back(answer);
            }
            tck_ = false;
            tdo_ = TdoNow();
            continue;
        }
        if (b & kModeShift) {
            shiftBytesLeft_ = b & kCountMask;
            shiftRead_ = (b & kReadBack) != 0;
            continue;
        }
        const bool tck = (b & kTck) != 0;
        tms_ = (b & kTms) != 0;
        outputEnable_ = (b & kOutputEnable) != 0;
        if (tck && !tck_) {
            Clock(tms_, (b & kTdi) != 0);  // TDO keeps the bit this edge shifted out until TCK falls
        } else if (!tck) {
            tdo_ = TdoNow();
        }
        tck_ = tck;
        if ((b & kReadBack) && answers != nullptr) answers->push_back(tdo_ ? 1 : 0);
    }
}

}  // namespace tunlet
