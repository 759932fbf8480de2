#include "link/PackedShift.h"

#include <algorithm>
#include <cstring>

namespace tunlet {

using namespace blaster;

std::size_t PackShiftRun(const std::uint8_t* data, std::size_t n, std::uint8_t* out) {
    std::size_t o = 0;
    for (std::size_t i = 0; i < n; i += kMaxShiftBytes) {
        const std::size_t run = std::min(kMaxShiftBytes, n - i);
        out[o++] = static_cast<std::uint8_t>(kShiftMode | run);
        std::memcpy(out + o, data + i, run);
        o += run;
    }
    return o;
}

FT_STATUS PackedWriter::Write(const void* buffer, DWORD count, DWORD* written) {
    *written = 0;
    if (count > kCapacity - size_) return FT_INVALID_PARAMETER;
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    for (DWORD i = 0; i < count; ++i) {
        // Follow TCK as the cable would: a bit-bang byte sets it, a shift leaves it low.
        const std::uint8_t b = in[i];
        if (owed_ > 0) {
            --owed_;
        } else if (b & kShiftMode) {
            owed_ = b & kShiftCountMask;
            tckHigh_ = false;
        } else {
            tckHigh_ = (b & kTck) != 0;
        }
        bytes_[size_++] = b;
    }
    *written = count;
    return FT_OK;
}

bool PackedWriter::Run(const std::uint8_t* data, std::size_t n) {
    if (n == 0) return true;
    const std::size_t need = PackedRunBytes(n) + (tckHigh_ ? 1 : 0);
    if (need > kCapacity - size_) return false;
    if (tckHigh_) bytes_[size_++] = kTckLowBeforeShift;
    size_ += PackShiftRun(data, n, bytes_.data() + size_);
    tckHigh_ = false;  // a shift ends with TCK low
    return true;
}

bool PackedWriter::Send(FT_HANDLE h) {
    if (size_ == 0) return true;
    const DWORD count = static_cast<DWORD>(size_);
    size_ = 0;
    DWORD written = 0;
    return FT_Write(h, bytes_.data(), count, &written) == FT_OK && written == count;
}

FT_STATUS PackedWriter::Recover(FT_HANDLE h) {
    size_ = 0;
    owed_ = 0;
    std::fill_n(bytes_.begin(), kPackedRecoverPad, kTckLowBeforeShift);
    size_ = kPackedRecoverPad;
    RecoverTap(this);
    const DWORD count = static_cast<DWORD>(size_);
    size_ = 0;
    DWORD written = 0;
    const FT_STATUS status = FT_Write(h, bytes_.data(), count, &written);
    if (status != FT_OK) return status;
    return written == count ? FT_OK : FT_IO_ERROR;
}

}  // namespace tunlet
