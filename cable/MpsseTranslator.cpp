#include "cable/MpsseTranslator.h"

namespace tunlet {

namespace {
// The USB-Blaster bits this encoder reads (link/BlasterJtag.h documents them).
constexpr std::uint8_t kTck = 0x01;
constexpr std::uint8_t kTms = 0x02;
constexpr std::uint8_t kTdi = 0x10;
constexpr std::uint8_t kReadBack = 0x40;
constexpr std::uint8_t kShiftMode = 0x80;
constexpr std::uint8_t kCountMask = 0x3F;
// Clocks gathered before they are encoded, whatever comes next.
constexpr std::size_t kMaxPendingClocks = 256;

unsigned Divisor(unsigned tckKhz) {
    if (tckKhz == 0) tckKhz = mpsse::kDefaultTckKhz;
    if (tckKhz > mpsse::kMaxTckKhz) tckKhz = mpsse::kMaxTckKhz;
    const unsigned half = mpsse::kBaseClockKhz / 2;
    return (half + tckKhz - 1) / tckKhz - 1;  // never faster than asked
}
}  // namespace

unsigned MpsseTckKhz(unsigned tckKhz) { return mpsse::kBaseClockKhz / 2 / (Divisor(tckKhz) + 1); }

std::vector<std::uint8_t> MpsseSetup(const MpssePins& pins, unsigned tckKhz) {
    const unsigned div = Divisor(tckKhz);
    std::vector<std::uint8_t> s{mpsse::kDivideBy5Off,
                                mpsse::kAdaptiveOff,
                                mpsse::kThreePhaseOff,
                                mpsse::kLoopbackOff,
                                mpsse::kDivisor,
                                static_cast<std::uint8_t>(div & 0xFF),
                                static_cast<std::uint8_t>(div >> 8),
                                mpsse::kSetLow,
                                pins.lowValue,
                                pins.lowDirection};
    if (pins.high) {
        // One byte at a time: GCC 12's bounds check misreads an inserted list here.
        s.push_back(mpsse::kSetHigh);
        s.push_back(pins.highValue);
        s.push_back(pins.highDirection);
    }
    return s;
}

void MpsseTranslator::PushClock(bool tms, bool tdi, bool read) {
    CloseRun();
    clocks_.push_back({tms, tdi, read});
    if (clocks_.size() >= kMaxPendingClocks) EncodeClocks();
}

void MpsseTranslator::EncodeClocks() {
    const std::size_t n = clocks_.size();
    std::size_t i = 0;
    while (i < n) {
        // Data bits: TMS low (and its pin low), any TDI; TMS bits: one TDI. Each ends
        // at its first read, so a read is always the last bit, bit 7 of its answer.
        std::size_t a = 0;
        if (!pinTms_) {
            while (i + a < n && a < mpsse::kMaxBits && !clocks_[i + a].tms) {
                if (clocks_[i + a++].read) break;
            }
        }
        std::size_t b = 0;
        while (i + b < n && b < mpsse::kMaxTmsBits && clocks_[i + b].tdi == clocks_[i].tdi) {
            if (clocks_[i + b++].read) break;
        }
        const bool data = a > b;
        const std::size_t len = data ? a : b;
        const bool read = clocks_[i + len - 1].read;
        std::uint8_t bits = 0;
        for (std::size_t k = 0; k < len; ++k) {
            const Clock& c = clocks_[i + k];
            if (data ? c.tdi : c.tms) bits = static_cast<std::uint8_t>(bits | (1u << k));
        }
        if (data) {
            out_.push_back(read ? mpsse::kBitsInOut : mpsse::kBitsOut);
        } else {
            if (clocks_[i].tdi) bits = static_cast<std::uint8_t>(bits | 0x80);
            out_.push_back(read ? mpsse::kTmsInOut : mpsse::kTmsOut);
            pinTms_ = clocks_[i + len - 1].tms;
        }
        out_.push_back(static_cast<std::uint8_t>(len - 1));
        out_.push_back(bits);
        if (read) {
            answers_.push_back({7, 1});
            readPending_ = true;
        }
        i += len;
    }
    clocks_.clear();
}

void MpsseTranslator::CloseRun() {
    if (!runOpen_) return;
    const std::size_t len = runBytes_ - 1;
    out_[runHeader_ + 1] = static_cast<std::uint8_t>(len & 0xFF);
    out_[runHeader_ + 2] = static_cast<std::uint8_t>(len >> 8);
    runOpen_ = false;
}

void MpsseTranslator::ShiftByte(std::uint8_t b) {
    if (tms_) {
        // TMS held high through a byte shift: clock by clock.
        for (unsigned bit = 0; bit < 8; ++bit) PushClock(true, (b >> bit) & 1, shiftRead_);
    } else {
        if (!clocks_.empty()) EncodeClocks();
        if (runOpen_ && (runRead_ != shiftRead_ || runBytes_ == mpsse::kMaxRunBytes)) CloseRun();
        if (!runOpen_) {
            if (pinTms_) {
                out_.insert(out_.end(), {mpsse::kSetLow, static_cast<std::uint8_t>(pins_.lowValue & ~mpsse::kPinTms),
                                         pins_.lowDirection});
                pinTms_ = false;
            }
            runHeader_ = out_.size();
            out_.insert(out_.end(), {shiftRead_ ? mpsse::kBytesInOut : mpsse::kBytesOut, 0, 0});
            runOpen_ = true;
            runRead_ = shiftRead_;
            runBytes_ = 0;
        }
        out_.push_back(b);
        ++runBytes_;
        if (shiftRead_) {
            answers_.push_back({0, 8});
            readPending_ = true;
        }
    }
    if (shiftRead_) slots_.push_back(8);
}

void MpsseTranslator::Feed(const std::uint8_t* data, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = data[i];
        if (owed_ > 0) {
            --owed_;
            ShiftByte(b);
            tck_ = false;
            continue;
        }
        if (b & kShiftMode) {
            owed_ = b & kCountMask;
            shiftRead_ = (b & kReadBack) != 0;
            continue;
        }
        const bool tck = (b & kTck) != 0;
        const bool read = (b & kReadBack) != 0;
        tms_ = (b & kTms) != 0;
        if (tck && !tck_) {
            PushClock(tms_, (b & kTdi) != 0, read);
            if (read) slots_.push_back(1);
        } else if (read) {
            CloseRun();
            EncodeClocks();
            out_.push_back(mpsse::kReadLow);
            answers_.push_back({mpsse::kTdoBit, 1});
            slots_.push_back(1);
            readPending_ = true;
        }
        tck_ = tck;
    }
}

std::vector<std::uint8_t> MpsseTranslator::Take() {
    EncodeClocks();
    CloseRun();
    if (readPending_) out_.push_back(mpsse::kSendImmediate);
    readPending_ = false;
    std::vector<std::uint8_t> taken;
    taken.swap(out_);
    return taken;
}

void MpsseTranslator::Resync() {
    out_.clear();
    clocks_.clear();
    runOpen_ = false;
    readPending_ = false;
    answers_.clear();
    slots_.clear();
    accBits_ = 0;
    accValue_ = 0;
    pinTms_ = (pins_.lowValue & mpsse::kPinTms) != 0;
}

void MpsseTranslator::Decode(const std::uint8_t* data, std::size_t count, std::vector<std::uint8_t>& out) {
    for (std::size_t i = 0; i < count && !answers_.empty(); ++i) {
        const Answer a = answers_.front();
        answers_.pop_front();
        for (unsigned k = 0; k < a.count && !slots_.empty(); ++k) {
            if ((data[i] >> (a.shift + k)) & 1) accValue_ = static_cast<std::uint8_t>(accValue_ | (1u << accBits_));
            if (++accBits_ == slots_.front()) {
                out.push_back(accValue_);
                slots_.pop_front();
                accBits_ = 0;
                accValue_ = 0;
            }
        }
    }
}

}  // namespace tunlet
