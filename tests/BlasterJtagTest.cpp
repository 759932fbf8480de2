#include <gtest/gtest.h>

#include <functional>

#include "link/BlasterJtag.h"
#include "tests/LinkTestSupport.h"

namespace tunlet {
namespace {

using test::BoardSession;
using test::Bytes;

TEST(BlasterJtag, EachWalkIsOneWriteOfFixedBytes) {
    struct Case {
        const char* name;
        std::function<void(FT_HANDLE)> op;
        Bytes bytes;
    };
    const Case cases[] = {
        {"ResetTap", ResetTap, {0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D}},
        {"GoShiftIr", GoShiftIr, {0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D}},
        {"ShiftIrByte", [](FT_HANDLE h) { ShiftIrByte(h, 0x0E); }, {0x81, 0x0E, 0x2C, 0x2D}},
        {"IrToShiftDr", IrToShiftDr, {0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D}},
        {"ShiftByte", [](FT_HANDLE h) { ShiftByte(h, 0xA5); }, {0x81, 0xA5}},
        {"ShiftByte low 8 bits", [](FT_HANDLE h) { ShiftByte(h, 0x1FF); }, {0x81, 0xFF}},
        {"ShiftIrByte low 8 bits", [](FT_HANDLE h) { ShiftIrByte(h, 0x30C); }, {0x81, 0x0C, 0x2C, 0x2D}},
        {"DrToShiftIr", DrToShiftIr, {0x3E, 0x3F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D}},
        {"EndShiftDr", EndShiftDr, {0x3E, 0x3F, 0x2E, 0x2F, 0x0C, 0x0D}},
        {"RecoverTap", RecoverTap,
         {0x2C, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x0C, 0x0D}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BoardSession s;
        c.op(s.handle);
        const auto r = s.board->Snapshot();
        EXPECT_EQ(r.raw, c.bytes);
        EXPECT_EQ(r.writes, std::vector<DWORD>{static_cast<DWORD>(c.bytes.size())});
    }
}

TEST(BlasterJtag, PreambleIsEightWrites) {
    BoardSession s;
    BeginUserScan(s.handle);
    const auto r = s.board->Snapshot();
    EXPECT_EQ(r.raw, test::kPreamble);
    EXPECT_EQ(r.writes, (std::vector<DWORD>{12, 8, 4, 10, 2, 12, 4, 10}));
    // At the TAP: USER1 loaded with 0x100, USER0 selected, shifting data.
    EXPECT_EQ(r.state, TapState::ShiftDr);
    ASSERT_EQ(r.scans.size(), 3u);
    EXPECT_EQ(r.scans[0], (JtagScan{true, kIrIdcode, 10, 0x00E}));
    EXPECT_EQ(r.scans[1], (JtagScan{false, kIrUser1, 9, 0x100}));
    EXPECT_EQ(r.scans[2], (JtagScan{true, kIrUser1, 10, 0x00C}));
    EXPECT_TRUE(r.hasUser1);
    EXPECT_EQ(r.user1, 0x100u);
    EXPECT_TRUE(r.outputEnable);
}

TEST(BlasterJtag, ResetWorksFromAnyState) {
    // A scan left open (as after "file dont open") does not disturb the next upload.
    BoardSession s;
    BeginUserScan(s.handle);
    ShiftByte(s.handle, 0x55);
    ShiftByte(s.handle, 0x01);
    BeginUserScan(s.handle);
    ShiftByte(s.handle, 0x77);
    EndShiftDr(s.handle);
    const auto r = s.board->Snapshot();
    EXPECT_EQ(r.state, TapState::RunTestIdle);
    EXPECT_FALSE(r.outputEnable);
    EXPECT_EQ(r.user0, Bytes{0x77});
    EXPECT_EQ(r.user0LeftoverBits, 1u);
    EXPECT_EQ(r.user0LeftoverValue, 1u);
}

TEST(BlasterJtag, RecoverTapFromAnyCut) {
    // However much of a stream was lost, the recovery walk leaves Run-Test/Idle with
    // the outputs released, also when the cable still waits for a shift's data byte.
    struct Case {
        const char* label;
        Bytes sent;
    };
    const Case cases[] = {
        {"nothing sent", {}},
        {"inside the reset walk", {0x2E, 0x2F, 0x2E}},
        {"shift command without its byte", {0x81}},
        {"inside Shift-IR", Bytes(test::kPreamble.begin(), test::kPreamble.begin() + 21)},
        {"USER0 scan open", test::kPreamble},
        {"USER0 scan, cut after 0x81", [] {
             Bytes b = test::kPreamble;
             b.insert(b.end(), {0x81, 0x0C, 0x81});
             return b;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        BoardSession s;
        DWORD written = 0;
        if (!c.sent.empty()) FT_Write(s.handle, c.sent.data(), static_cast<DWORD>(c.sent.size()), &written);
        EXPECT_EQ(RecoverTap(s.handle), FT_OK);
        const auto r = s.board->Snapshot();
        EXPECT_EQ(r.state, TapState::RunTestIdle);
        EXPECT_FALSE(r.outputEnable);
    }
}

TEST(BlasterJtag, WalksReportShortWrites) {
    BoardSession s;
    s.board->FailWrite(3, 2);  // the fourth walk of the preamble loses all but two bytes
    EXPECT_EQ(BeginUserScan(s.handle), FT_IO_ERROR);
    EXPECT_EQ(s.board->Snapshot().writes.size(), 4u);  // nothing after the broken walk
    s.board->FailWrite(0, 1);
    EXPECT_EQ(BeginUserScan(s.handle), FT_OK);  // counted from the open: write 0 is past
}

TEST(TapDecoder, FollowsTmsThroughAllStates) {
    // A TMS walk through all sixteen states from Test-Logic-Reset.
    struct Step {
        bool tms;
        TapState to;
    };
    using S = TapState;
    const Step walk[] = {
        {0, S::RunTestIdle}, {0, S::RunTestIdle}, {1, S::SelectDrScan}, {0, S::CaptureDr}, {1, S::Exit1Dr},
        {0, S::PauseDr},     {0, S::PauseDr},     {1, S::Exit2Dr},      {0, S::ShiftDr},   {0, S::ShiftDr},
        {1, S::Exit1Dr},     {1, S::UpdateDr},    {1, S::SelectDrScan}, {1, S::SelectIrScan}, {0, S::CaptureIr},
        {0, S::ShiftIr},     {1, S::Exit1Ir},     {0, S::PauseIr},      {1, S::Exit2Ir},   {1, S::UpdateIr},
        {0, S::RunTestIdle}, {1, S::SelectDrScan}, {1, S::SelectIrScan}, {0, S::CaptureIr}, {1, S::Exit1Ir},
        {1, S::UpdateIr},    {1, S::SelectDrScan}, {0, S::CaptureDr},   {0, S::ShiftDr},   {1, S::Exit1Dr},
        {0, S::PauseDr},     {1, S::Exit2Dr},      {1, S::UpdateDr},    {0, S::RunTestIdle}, {1, S::SelectDrScan},
        {1, S::SelectIrScan}, {1, S::TestLogicReset}, {1, S::TestLogicReset},
    };
    TapDecoder d;
    for (const auto& step : walk) {
        const std::uint8_t lo = step.tms ? 0x2E : 0x2C;
        const std::uint8_t pair[] = {lo, static_cast<std::uint8_t>(lo | 1)};
        d.Feed(pair, 2);
        ASSERT_EQ(d.state(), step.to) << TapStateName(step.to);
    }
}

TEST(TapDecoder, ShiftCommandHoldsTmsAndSpansWrites) {
    TapDecoder d;
    const std::uint8_t toShiftDr[] = {0x2C, 0x2D, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D};
    d.Feed(toShiftDr, sizeof toShiftDr);
    ASSERT_EQ(d.state(), TapState::ShiftDr);
    const std::uint8_t cmd[] = {0x82, 0x12};  // two bytes follow; the second comes in the next write
    d.Feed(cmd, 2);
    const std::uint8_t rest[] = {0x34, 0x3E, 0x3F, 0x2E, 0x2F};
    d.Feed(rest, sizeof rest);
    EXPECT_EQ(d.state(), TapState::UpdateDr);
    ASSERT_EQ(d.scans().size(), 1u);
    EXPECT_EQ(d.scans()[0].bits, 17u);
    EXPECT_EQ(d.scans()[0].value, 0x13412u);
    // TMS high held through a shift walks the TAP instead of shifting.
    const std::uint8_t high[] = {0x2E, 0x2F, 0x81, 0x00};
    d.Feed(high, sizeof high);
    EXPECT_EQ(d.state(), TapState::TestLogicReset);
}

}  // namespace
}  // namespace tunlet
