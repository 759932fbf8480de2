#include "tests/FakeFt2232h.h"

namespace tunlet::test {

namespace {

constexpr std::uint8_t kBitmodeMpsse = 0x02;

// bcdDevice 0x0700 (FT2232H), strings 1 to 3; two vendor interfaces of two 512-byte
// bulk endpoints each (A: IN 0x81, OUT 0x02; B: IN 0x83, OUT 0x04).
#define FT2232H_CONFIGURATION                        \
    "09023700020100803C"       /* configuration */   \
    "0904000002FFFFFF02"       /* interface A */     \
    "07058102000200"           /* bulk IN 0x81 */    \
    "07050202000200"           /* bulk OUT 0x02 */   \
    "0904010002FFFFFF02"       /* interface B */     \
    "07058302000200"           /* bulk IN 0x83 */    \
    "07050402000200"           /* bulk OUT 0x04 */

constexpr FakeIdentity kArrow{"12010002000000400304106000070102030" "1" FT2232H_CONFIGURATION, "480",
                              {"Arrow", "Arrow USB Blaster", FakeFt2232h::kArrowSerial}, 512, 4096};
constexpr FakeIdentity kIii{"1201000200000040FB09226000070102030" "1" FT2232H_CONFIGURATION, "480",
                            {"Altera", "USB-Blaster III", FakeFt2232h::kIiiSerial}, 512, 4096};

class Ft2232hChip : public FakeChip {
public:
    Ft2232hChip(MpsseWiring wiring, bool neverMpsse) : wiring_(wiring), never_(neverMpsse), mpsse_(JtagChain(), wiring) {}
    void Take(const std::uint8_t* data, std::size_t count, std::vector<std::uint8_t>& answers) override {
        mpsse_.Take(data, count, answers);
    }
    void SetBitmode(std::uint8_t, std::uint8_t mode) override { mpsse_.SetMpsse(mode == kBitmodeMpsse && !never_); }
    void SetChain(std::vector<ChainDevice> devices, TdoLine line) override {
        mpsse_ = MpsseExecutor(JtagChain(std::move(devices), line), wiring_);
    }
    MpsseExecutor& executor() { return mpsse_; }

private:
    MpsseWiring wiring_;
    bool never_;
    MpsseExecutor mpsse_;
};

}  // namespace

FakeFt2232h::FakeFt2232h(Kind kind, Plug plug, bool neverMpsse)
    : FakeUsbBlaster(plug, kind == Kind::Arrow ? kArrow : kIii,
                     std::make_unique<Ft2232hChip>(kind == Kind::Arrow ? kArrowWiring : kBlasterIiiWiring, neverMpsse)) {}

TapState FakeFt2232h::TapNow() const {
    return WithChip<Ft2232hChip>([](Ft2232hChip& c) { return c.executor().state(); });
}
std::vector<std::uint8_t> FakeFt2232h::User0() const {
    return WithChip<Ft2232hChip>([](Ft2232hChip& c) { return c.executor().user0(); });
}
std::uint64_t FakeFt2232h::TapClocks() const {
    return WithChip<Ft2232hChip>([](Ft2232hChip& c) { return c.executor().clocks(); });
}
unsigned FakeFt2232h::Divisor() const {
    return WithChip<Ft2232hChip>([](Ft2232hChip& c) { return c.executor().divisor(); });
}
std::size_t FakeFt2232h::BadCommands() const {
    return WithChip<Ft2232hChip>([](Ft2232hChip& c) { return c.executor().badCommands(); });
}

}  // namespace tunlet::test
