#include "cable/MpsseCable.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>

namespace tunlet {

namespace {
constexpr std::uint8_t kEnablesLow = 0x30;  // ADBUS4, ADBUS5: driven low
}  // namespace

const MpsseCableModel kArrowUsbBlaster{
    "arrow-usb-blaster", "Arrow USB Blaster", 0x0403, 0x6010, "Arrow USB Blaster", "Arrow USB Blaster A",
    MpssePins{mpsse::kPinTms, mpsse::kPinTck | mpsse::kPinTdi | mpsse::kPinTms, false, 0, 0}};

const MpsseCableModel kUsbBlasterIii{
    "usb-blaster-iii", "USB-Blaster III", 0x09FB, 0x6022, nullptr, "USB-Blaster III A",
    MpssePins{mpsse::kPinTms, mpsse::kPinTck | mpsse::kPinTdi | mpsse::kPinTms | kEnablesLow, true, 0x58, 0xB0}};

namespace {
std::atomic<unsigned> g_settingTckKhz{mpsse::kDefaultTckKhz};
}  // namespace

void SetWindowTckKhz(unsigned khz) { g_settingTckKhz = khz != 0 ? khz : mpsse::kDefaultTckKhz; }

unsigned OpenTckKhz(unsigned asked) { return asked != 0 ? asked : g_settingTckKhz.load(); }

bool ParseTckMhz(const std::string& value, unsigned& khz) {
    char* end = nullptr;
    const double mhz = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !(mhz > 0 && mhz <= mpsse::kMaxTckKhz / 1000.0)) return false;
    khz = static_cast<unsigned>(mhz * 1000 + 0.5);
    return true;
}

std::string MpsseCableName(const MpsseCableModel& model, const std::string& serial) {
    std::string name = model.name;
    if (!serial.empty()) name += " (serial " + serial + ")";
    return name;
}

std::string StartMpsse(MpssePort& port, const MpssePins& pins, unsigned tckKhz) {
    std::vector<std::uint8_t> setup = MpsseSetup(pins, tckKhz);
    setup.push_back(mpsse::kBogusCommand);
    setup.push_back(mpsse::kSendImmediate);
    if (port.Write(setup.data(), setup.size()) != FT_OK) return "the cable takes no commands";
    std::uint8_t answer[2] = {};
    std::size_t got = 0;
    if (port.Read(answer, 2, &got) != FT_OK) return "reading from the cable failed";
    if (got < 2 || answer[0] != mpsse::kBadCommand || answer[1] != mpsse::kBogusCommand) {
        return "the cable's FT2232H is not in MPSSE mode (it did not answer a bad command as it should)";
    }
    return "";
}

void MpsseDevice::Follow(const std::uint8_t* data, std::size_t count) {
    constexpr std::uint8_t kTck = 0x01, kTms = 0x02, kShiftMode = 0x80, kCountMask = 0x3F;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = data[i];
        if (owed_ > 0) {
            --owed_;
            tck_ = false;
            for (unsigned k = 0; k < 8 && !(state_ == NextTapState(state_, tms_)); ++k) state_ = NextTapState(state_, tms_);
        } else if (b & kShiftMode) {
            owed_ = b & kCountMask;
        } else {
            const bool tck = (b & kTck) != 0;
            tms_ = (b & kTms) != 0;
            if (tck && !tck_) state_ = NextTapState(state_, tms_);
            tck_ = tck;
        }
    }
}

FT_STATUS MpsseDevice::SendHeld() {
    const FT_STATUS status = held_.empty() ? FT_OK : port_->Write(held_.data(), held_.size());
    held_.clear();
    if (status != FT_OK) {
        // Whatever the chip took of a cut command is dropped with its mode; then the
        // same set-up as at open. A cable that is gone fails here too: nothing more to do.
        translator_.Resync();
        answers_.clear();
        if (port_->Restart() == FT_OK) {
            const std::vector<std::uint8_t> setup = MpsseSetup(pins_, tckKhz_);
            (void)port_->Write(setup.data(), setup.size());
        }
    }
    return status;
}

FT_STATUS MpsseDevice::Write(const void* buffer, DWORD count, DWORD* written) {
    *written = 0;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    Follow(bytes, count);
    const std::size_t owedBefore = translator_.Owed();
    translator_.Feed(bytes, count);
    const std::vector<std::uint8_t> commands = translator_.Take();
    held_.insert(held_.end(), commands.begin(), commands.end());
    const bool inScan = state_ == TapState::ShiftDr || state_ == TapState::ShiftIr;
    if (inScan && owed_ == 0 && translator_.Owed() == owedBefore && held_.size() < kHoldBytes) {
        *written = count;
        return FT_OK;
    }
    const FT_STATUS status = SendHeld();
    if (status == FT_OK) *written = count;
    return status;
}

FT_STATUS MpsseDevice::Close() { return SendHeld(); }

FT_STATUS MpsseDevice::Read(void* buffer, DWORD count, DWORD* got) {
    *got = 0;
    FT_STATUS status = FT_OK;
    while (answers_.size() < count && translator_.Owed() > 0) {
        const std::size_t owed = translator_.Owed();
        scratch_.resize(owed);
        std::size_t n = 0;
        status = port_->Read(scratch_.data(), owed, &n);
        std::vector<std::uint8_t> decoded;
        translator_.Decode(scratch_.data(), n, decoded);
        answers_.insert(answers_.end(), decoded.begin(), decoded.end());
        if (status != FT_OK || n < owed) break;  // failed, or the wait is over
    }
    const std::size_t n = std::min<std::size_t>(answers_.size(), count);
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::copy_n(answers_.begin(), n, out);
    answers_.erase(answers_.begin(), answers_.begin() + static_cast<std::ptrdiff_t>(n));
    *got = static_cast<DWORD>(n);
    return status;
}

}  // namespace tunlet
