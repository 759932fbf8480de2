// An FT2232H cable in MPSSE mode under umockdev: the Arrow USB Blaster (0403:6010,
// "Arrow USB Blaster") or the USB-Blaster III (09fb:6022), high speed with 512-byte
// bulk packets, two channels of which A (bulk OUT 0x02, IN 0x81) answers. Channel A
// runs tests/MpsseExecutor.h into the board's JTAG chain; FakeUsbBlaster records
// the bytes and requests and fails as it does.
#pragma once

#include "tests/FakeUsbBlaster.h"
#include "tests/MpsseExecutor.h"

namespace tunlet::test {

class FakeFt2232h : public FakeUsbBlaster {
public:
    enum class Kind { Arrow, BlasterIii };
    static constexpr char kArrowSerial[] = "AR4711";
    static constexpr char kIiiSerial[] = "UB3042";

    // neverMpsse: a chip that stays out of MPSSE mode whatever the host asks.
    explicit FakeFt2232h(Kind kind, Plug plug = Plug::Present, bool neverMpsse = false);

    TapState TapNow() const;
    std::vector<std::uint8_t> User0() const;  // the last USER0 scan, whole bytes
    std::uint64_t TapClocks() const;
    unsigned Divisor() const;
    std::size_t BadCommands() const;
};

}  // namespace tunlet::test
