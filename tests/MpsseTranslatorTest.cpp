#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "cable/JtagChain.h"
#include "cable/MpsseCable.h"
#include "cable/MpsseTranslator.h"
#include "cable/TapDecoder.h"
#include "tests/LinkTestSupport.h"
#include "tests/MpsseExecutor.h"

namespace tunlet {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Translate(const Bytes& blaster, const MpssePins& pins = {}) {
    MpsseTranslator t(pins);
    t.Feed(blaster.data(), blaster.size());
    return t.Take();
}

// USB-Blaster bytes in, the MPSSE commands AN_108 gives for the same clocks out.
TEST(MpsseTranslator, TapOperationsBecomeTheseCommands) {
    struct Row {
        const char* what;
        Bytes blaster;
        Bytes mpsse;
    } const rows[] = {
        {"two clocks TMS 1", {0x2E, 0x2F, 0x2E, 0x2F}, {0x4B, 0x01, 0x03}},
        {"last DR bit 1, Update-DR, Run-Test/Idle", {0x3E, 0x3F, 0x2E, 0x2F, 0x0C, 0x0D},
         {0x4B, 0x00, 0x81, 0x4B, 0x01, 0x01}},
        {"shifted bytes: TMS pin low, one byte command", {0x81, 0xA5, 0x81, 0x5A},
         {0x80, 0x00, 0x0B, 0x19, 0x01, 0x00, 0xA5, 0x5A}},
        {"shifted bytes read back, then flush", {0xC2, 0x11, 0x22},
         {0x80, 0x00, 0x0B, 0x39, 0x01, 0x00, 0x11, 0x22, 0x87}},
        {"read on a rising edge", {0x2C, 0x6D}, {0x6B, 0x00, 0x00, 0x87}},
        {"read with no clock: the TDO pin", {0x4C}, {0x81, 0x87}},
        {"TMS low, TDI changing: bit command", {0x2C, 0x2D, 0x3C, 0x3D, 0x2C, 0x2D},
         {0x4B, 0x00, 0x00, 0x1B, 0x01, 0x01}},
        {"TCK high again is no clock", {0x2F, 0x2F, 0x2D}, {0x4B, 0x00, 0x01}},
    };
    for (const Row& r : rows) EXPECT_EQ(Translate(r.blaster), r.mpsse) << r.what;
}

TEST(MpsseTranslator, AnswersBecomeUsbBlasterAnswers) {
    MpsseTranslator t;
    const Bytes in{0xC1, 0x00, 0x2C, 0x6D, 0x4C};
    t.Feed(in.data(), in.size());
    t.Take();
    EXPECT_EQ(t.Owed(), 3u);
    const Bytes answer{0x5A, 0x80, 0x04};  // byte; TDO in bit 7 of a bit read; ADBUS2
    Bytes out;
    t.Decode(answer.data(), answer.size(), out);
    EXPECT_EQ(out, (Bytes{0x5A, 0x01, 0x01}));
    EXPECT_EQ(t.Owed(), 0u);
}

TEST(MpsseTranslator, SetupAndTck) {
    const MpssePins iii{0x08, 0x3B, true, 0x58, 0xB0};
    EXPECT_EQ(MpsseSetup(iii, 6000),
              (Bytes{0x8A, 0x97, 0x8D, 0x85, 0x86, 0x04, 0x00, 0x80, 0x08, 0x3B, 0x82, 0x58, 0xB0}));
    EXPECT_EQ(MpsseTckKhz(30000), 30000u);
    EXPECT_EQ(MpsseTckKhz(7000), 6000u);  // never faster than asked
}

TEST(MpsseTranslator, UploadReachesUser0AsThroughTheUsbBlaster) {
    Bytes payload;
    for (unsigned i = 0; i < 300; ++i) payload.push_back(static_cast<std::uint8_t>(i * 37 + 5));
    const Bytes stream = test::ExpectedStream(payload);
    TapDecoder expected;
    expected.Feed(stream.data(), stream.size());

    MpsseTranslator t;
    test::MpsseExecutor chip;
    chip.SetMpsse(true);
    Bytes answers;
    const Bytes setup = MpsseSetup({}, mpsse::kDefaultTckKhz);
    chip.Take(setup.data(), setup.size(), answers);
    // In uneven writes, as a cut between calls must not matter.
    for (std::size_t at = 0; at < stream.size(); at += 7) {
        t.Feed(stream.data() + at, std::min<std::size_t>(7, stream.size() - at));
        const Bytes commands = t.Take();
        chip.Take(commands.data(), commands.size(), answers);
    }
    EXPECT_EQ(chip.user0(), expected.user0());
    EXPECT_EQ(chip.state(), expected.state());
    EXPECT_FALSE(chip.user0().empty());
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(chip.badCommands(), 0u);
}

}  // namespace
}  // namespace tunlet

namespace tunlet {
namespace {

// Small writes that end inside a scan go out with the next write; one that ends
// outside a scan, or asks for an answer, goes at once; closing sends what is held.
TEST(MpsseDevice, HoldsSmallWritesInsideAScan) {
    struct Port : MpssePort {
        std::vector<Bytes>* writes;
        explicit Port(std::vector<Bytes>* w) : writes(w) {}
        FT_STATUS Write(const std::uint8_t* d, std::size_t n) override {
            writes->emplace_back(d, d + n);
            return FT_OK;
        }
        FT_STATUS Read(std::uint8_t*, std::size_t, std::size_t* got) override {
            *got = 0;
            return FT_OK;
        }
        FT_STATUS Restart() override { return FT_OK; }
    };
    std::vector<Bytes> writes;
    MpsseDevice device(std::make_unique<Port>(&writes), {}, mpsse::kDefaultTckKhz);
    const Bytes toShiftIr{0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D};  // TMS 1 1 0 0 from Run-Test/Idle
    const Bytes reset{0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D};
    DWORD written = 0;
    ASSERT_EQ(device.Write(reset.data(), static_cast<DWORD>(reset.size()), &written), FT_OK);
    EXPECT_EQ(writes.size(), 1u);  // Run-Test/Idle: sent
    ASSERT_EQ(device.Write(toShiftIr.data(), static_cast<DWORD>(toShiftIr.size()), &written), FT_OK);
    EXPECT_EQ(written, toShiftIr.size());
    EXPECT_EQ(writes.size(), 1u);  // Shift-IR: held
    const Bytes read{0xC1, 0x00};
    ASSERT_EQ(device.Write(read.data(), 2, &written), FT_OK);
    ASSERT_EQ(writes.size(), 2u);  // an answer is owed: the held walk and the read at once
    EXPECT_EQ(writes[1], (Bytes{0x4B, 0x03, 0x03, 0x39, 0x00, 0x00, 0x00, 0x87}));
    ASSERT_EQ(device.Write(toShiftIr.data(), 2, &written), FT_OK);  // Shift-IR, TMS 1: Exit1-IR
    EXPECT_EQ(writes.size(), 3u);
    const Bytes shift{0x81, 0x5A};
    ASSERT_EQ(device.Write(toShiftIr.data(), static_cast<DWORD>(toShiftIr.size()), &written), FT_OK);
    ASSERT_EQ(device.Write(shift.data(), 2, &written), FT_OK);
    EXPECT_EQ(writes.size(), 3u);
    EXPECT_EQ(device.Close(), FT_OK);
    EXPECT_EQ(writes.size(), 4u);
}

}  // namespace
}  // namespace tunlet
