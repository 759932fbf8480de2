#include "link/BlasterJtag.h"

#include <algorithm>
#include <cstddef>

namespace tunlet {

using namespace blaster;

namespace {

constexpr std::uint8_t L = kStepLow;    // TMS 0
constexpr std::uint8_t H = kStepHigh;   // TMS 1
constexpr std::uint8_t X = kExitOne;    // TMS 1 with TDI 1
constexpr std::uint8_t R = kRelease;    // TMS 0, outputs off

// TMS 1 1 1 1 1 0: five clocks reach Test-Logic-Reset from anywhere, then Run-Test/Idle.
constexpr std::array<std::uint8_t, 12> kResetTap = {H, H | kTck, H, H | kTck, H, H | kTck,
                                                    H, H | kTck, H, H | kTck, L, L | kTck};
// TMS 1 1 0 0: Select-DR-Scan, Select-IR-Scan, Capture-IR, Shift-IR.
constexpr std::array<std::uint8_t, 8> kGoShiftIr = {H, H | kTck, H, H | kTck, L, L | kTck, L, L | kTck};
// TMS 1 1 1 0 0: Exit1-IR (shifting a last 0), Update-IR, Select-DR-Scan, Capture-DR, Shift-DR.
constexpr std::array<std::uint8_t, 10> kIrToShiftDr = {H, H | kTck, H, H | kTck, H, H | kTck,
                                                       L, L | kTck, L, L | kTck};
// TMS 1 1 1 1 0 0: Exit1-DR (shifting a last 1), Update-DR, Select-DR-Scan, Select-IR-Scan,
// Capture-IR, Shift-IR.
constexpr std::array<std::uint8_t, 12> kDrToShiftIr = {X, X | kTck, H, H | kTck, H, H | kTck,
                                                       H, H | kTck, L, L | kTck, L, L | kTck};
// TMS 1 1 0: Exit1-DR (shifting a last 1), Update-DR, Run-Test/Idle with the outputs released.
constexpr std::array<std::uint8_t, 6> kEndShiftDr = {X, X | kTck, H, H | kTck, R, R | kTck};
// A pad byte with TCK low (the data byte of a cut 0x81, else no clock), TMS 1 1 1 1 1 0
// to Test-Logic-Reset and Run-Test/Idle from anywhere, then one clock in Run-Test/Idle
// that releases the outputs.
constexpr std::array<std::uint8_t, 15> kRecoverTap = {L, H, H | kTck, H, H | kTck, H, H | kTck, H,
                                                      H | kTck, H, H | kTck, L, L | kTck, R, R | kTck};

static_assert(kEndShiftDr.size() == kEndShiftDrBytes);
static_assert(kRecoverTap.size() == kRecoverTapBytes);
static_assert(kResetTap.size() + kGoShiftIr.size() + 4 + kIrToShiftDr.size() + 2 + kDrToShiftIr.size() + 4 +
                  kIrToShiftDr.size() ==
              kBeginUserScanBytes);

template <std::size_t N>
FT_STATUS Send(FT_HANDLE h, const std::array<std::uint8_t, N>& bytes) {
    DWORD written = 0;
    const FT_STATUS status = FT_Write(h, bytes.data(), static_cast<DWORD>(N), &written);
    if (status != FT_OK) return status;
    return written == N ? FT_OK : FT_IO_ERROR;
}

}  // namespace

FT_STATUS ResetTap(FT_HANDLE h) { return Send(h, kResetTap); }
FT_STATUS GoShiftIr(FT_HANDLE h) { return Send(h, kGoShiftIr); }
FT_STATUS IrToShiftDr(FT_HANDLE h) { return Send(h, kIrToShiftDr); }
FT_STATUS DrToShiftIr(FT_HANDLE h) { return Send(h, kDrToShiftIr); }
FT_STATUS EndShiftDr(FT_HANDLE h) { return Send(h, kEndShiftDr); }
FT_STATUS RecoverTap(FT_HANDLE h) { return Send(h, kRecoverTap); }

FT_STATUS ShiftIrByte(FT_HANDLE h, unsigned b) {
    // The ninth instruction bit (0) goes out as one bit-bang clock with TMS low.
    const std::array<std::uint8_t, 4> bytes = {kShiftOne, static_cast<std::uint8_t>(b & 0xFF), L, L | kTck};
    return Send(h, bytes);
}

FT_STATUS ShiftByte(FT_HANDLE h, unsigned b) {
    const std::array<std::uint8_t, 2> bytes = {kShiftOne, static_cast<std::uint8_t>(b & 0xFF)};
    return Send(h, bytes);
}

FT_STATUS CableBatch::Write(const void* buffer, DWORD count, DWORD* written) {
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    for (DWORD i = 0; i < count; ++i) {
        const std::uint8_t b = in[i];
        if (owed_ > 0) {
            --owed_;
        } else if (b & kShiftMode) {
            TckLow();  // a walk that ended with TCK high: 0x2C first
            owed_ = b & kShiftCountMask;
            if (b & kReadBack) answers_ += owed_;
        } else {
            tckHigh_ = (b & kTck) != 0;
            if (b & kReadBack) ++answers_;
        }
        bytes_.push_back(b);
    }
    *written = count;
    return FT_OK;
}

void CableBatch::Clock(bool tms, bool tdi, bool read) {
    const auto low = static_cast<std::uint8_t>(kStepLow | (tms ? kTms : 0) | (tdi ? kTdi : 0));
    const std::array<std::uint8_t, 2> pair = {low, static_cast<std::uint8_t>(low | kTck | (read ? kReadBack : 0))};
    DWORD written = 0;
    Write(pair.data(), 2, &written);
}

void CableBatch::ReleaseClock() {
    const std::array<std::uint8_t, 2> pair = {R, R | kTck};
    DWORD written = 0;
    Write(pair.data(), 2, &written);
}

void CableBatch::TckLow() {
    if (tckHigh_) bytes_.push_back(L);  // TMS stays low, TCK falls: no TAP clock
    tckHigh_ = false;
}

void CableBatch::ShiftBytes(std::size_t count, std::uint8_t tdi, bool read) {
    if (count == 0) return;
    TckLow();
    if (!read) {
        for (std::size_t i = 0; i < count; ++i) bytes_.insert(bytes_.end(), {kShiftOne, tdi});
        return;
    }
    for (std::size_t left = count; left > 0;) {
        const std::size_t n = left < kMaxShiftBytes ? left : kMaxShiftBytes;
        bytes_.push_back(static_cast<std::uint8_t>(kShiftRead | n));
        bytes_.insert(bytes_.end(), n, tdi);
        answers_ += n;
        left -= n;
    }
}

void CableBatch::ShiftRun(const std::uint8_t* data, std::size_t n) {
    if (n == 0) return;
    TckLow();
    for (std::size_t i = 0; i < n; i += kMaxShiftBytes) {
        const std::size_t run = n - i < kMaxShiftBytes ? n - i : kMaxShiftBytes;
        bytes_.push_back(static_cast<std::uint8_t>(kShiftMode | run));
        bytes_.insert(bytes_.end(), data + i, data + i + run);
    }
}

namespace {
FT_STATUS WriteAll(FT_HANDLE h, const std::uint8_t* bytes, std::size_t n) {
    DWORD written = 0;
    const auto count = static_cast<DWORD>(n);
    const FT_STATUS status = FT_Write(h, bytes, count, &written);
    if (status != FT_OK) return status;
    return written == count ? FT_OK : FT_IO_ERROR;
}
}  // namespace

FT_STATUS CableBatch::Send(FT_HANDLE h) {
    const FT_STATUS status = bytes_.empty() ? FT_OK : WriteAll(h, bytes_.data(), bytes_.size());
    bytes_.clear();
    answers_ = 0;
    return status;
}

FT_STATUS CableBatch::SendWhole(FT_HANDLE h, std::size_t unit) {
    std::size_t sent = 0;
    FT_STATUS status = FT_OK;
    while (status == FT_OK && bytes_.size() - sent >= unit) {
        status = WriteAll(h, bytes_.data() + sent, unit);
        sent += unit;
    }
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(sent));
    return status;
}

FT_STATUS RecoverCutStream(FT_HANDLE h) {
    std::array<std::uint8_t, kCutRecoverBytes> bytes{};
    std::fill_n(bytes.begin(), kCutRecoverPad, L);
    std::copy(kRecoverTap.begin(), kRecoverTap.end(), bytes.begin() + kCutRecoverPad);
    return Send(h, bytes);
}

void CableBatch::ShiftScan(unsigned before, std::uint64_t value, unsigned bits, unsigned after, bool padOnes) {
    const unsigned total = before + bits + after;
    unsigned sent = 0;
    const auto bit = [&](bool tdi) { Clock(++sent == total, tdi); };
    for (unsigned i = 0; i < before; ++i) bit(padOnes);
    unsigned i = 0;
    // Whole bytes that are not the scan's last go out as shift commands.
    for (; i + 8 <= bits && sent + 8 < total; i += 8, sent += 8) ShiftBytes(1, static_cast<std::uint8_t>(value >> i), false);
    for (; i < bits; ++i) bit(((value >> i) & 1) != 0);
    for (unsigned k = 0; k < after; ++k) bit(padOnes);
}

void CableBatch::InstructionToShiftDr(const ChainTarget& target, std::uint16_t instruction) {
    ShiftScan(target.irBefore, instruction, kIrBits, target.irAfter, true);  // to Exit1-IR
    Clock(true);   // Update-IR
    Clock(true);   // Select-DR-Scan
    Clock(false);  // Capture-DR
    Clock(false);  // Shift-DR
}

FT_STATUS BeginUserScanAt(FT_HANDLE h, const ChainTarget& target) {
    if (target.Alone()) return BeginUserScan(h);
    CableBatch batch;
    ResetTap(&batch);
    GoShiftIr(&batch);
    batch.InstructionToShiftDr(target, kUser1);
    batch.ShiftScan(target.devicesBefore, kUser1Value, kUser1Bits, target.devicesAfter, false);  // to Exit1-DR
    batch.Clock(true);   // Update-DR
    batch.Clock(true);   // Select-DR-Scan
    batch.Clock(true);   // Select-IR-Scan
    batch.Clock(false);  // Capture-IR
    batch.Clock(false);  // Shift-IR
    batch.InstructionToShiftDr(target, kUser0);
    return batch.Send(h);
}

FT_STATUS EndShiftDrAt(FT_HANDLE h, const ChainTarget& target) {
    if (target.devicesAfter == 0) return EndShiftDr(h);
    CableBatch batch;
    for (unsigned i = 0; i < target.devicesAfter; ++i) batch.Clock(false, true);  // TMS 0, TDI 1
    DWORD written = 0;
    batch.Write(kEndShiftDr.data(), static_cast<DWORD>(kEndShiftDr.size()), &written);
    return batch.Send(h);
}

FT_STATUS BeginUserScan(FT_HANDLE h) {
    FT_STATUS status = ResetTap(h);
    if (status == FT_OK) status = GoShiftIr(h);
    if (status == FT_OK) status = ShiftIrByte(h, kUser1);
    if (status == FT_OK) status = IrToShiftDr(h);
    if (status == FT_OK) status = ShiftByte(h, 0x00);  // USER1: eight 0 bits and, from DrToShiftIr, a last 1
    if (status == FT_OK) status = DrToShiftIr(h);
    if (status == FT_OK) status = ShiftIrByte(h, kUser0);
    if (status == FT_OK) status = IrToShiftDr(h);
    return status;
}

}  // namespace tunlet
