#include <gtest/gtest.h>

#include <functional>

#include "link/BlasterJtag.h"
#include "link/ChainScan.h"
#include "link/JtagParts.h"
#include "link/Upload.h"
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
        // A DE10-Nano's chain: the 4-bit debug port nearer TDO gets BYPASS (1111) ahead of
        // each instruction and one bit ahead of USER1's nine.
        {"BeginUserScanAt, a debug port nearer TDO", [](FT_HANDLE h) { BeginUserScanAt(h, {1, 0, 4, 0}); },
         {0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D,  // reset, Run-Test/Idle
          0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D,                          // to Shift-IR
          0x3C, 0x3D, 0x3C, 0x3D, 0x3C, 0x3D, 0x3C, 0x3D,                          // 1111 for the port
          0x2C, 0x81, 0x0E, 0x2C, 0x2D, 0x2E, 0x2F,                                // USER1, to Exit1-IR
          0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D,                          // Update-IR, to Shift-DR
          0x2C, 0x2D, 0x2C, 0x81, 0x00, 0x3E, 0x3F,                                // the port's bit, 0x100
          0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D,              // Update-DR, to Shift-IR
          0x3C, 0x3D, 0x3C, 0x3D, 0x3C, 0x3D, 0x3C, 0x3D,                          // 1111 for the port
          0x2C, 0x81, 0x0C, 0x2C, 0x2D, 0x2E, 0x2F,                                // USER0, to Exit1-IR
          0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D}},                        // Update-IR, to Shift-DR
        // A device nearer TDI: one more clock puts the stream's last bit into the FPGA.
        {"EndShiftDrAt, a device nearer TDI", [](FT_HANDLE h) { EndShiftDrAt(h, {0, 1, 0, 4}); },
         {0x3C, 0x3D, 0x3E, 0x3F, 0x2E, 0x2F, 0x0C, 0x0D}},
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

namespace tunlet {
namespace {

using test::BoardSession;
using test::Bytes;

// The chain read is one write of the bytes written down from the protocol, and one
// read of its answer (36 bytes of IDCODEs, 16 of the instruction registers); it leaves
// the TAP idle with the outputs released, every instruction register all ones, and
// touches no USER register.
TEST(ChainCheck, ReadsTheChainInOneWriteAndOneRead) {
    BoardSession s;
    const ChainRead chain = ReadChain(s.handle);
    ASSERT_EQ(chain.result, ChainRead::Result::Devices);
    ASSERT_EQ(chain.devices.size(), 1u);
    EXPECT_EQ(chain.devices[0], std::optional<std::uint32_t>{0x020F30DD});
    EXPECT_EQ(chain.irBits, std::optional<unsigned>{10});
    const auto r = s.board->Snapshot();
    EXPECT_EQ(r.raw, test::kChainRead);
    EXPECT_EQ(r.writes, std::vector<DWORD>{kChainReadCableBytes});
    EXPECT_EQ(r.reads, 1);
    EXPECT_EQ(r.readBytes, kChainReadAnswerBytes);
    EXPECT_EQ(r.state, TapState::RunTestIdle);
    EXPECT_FALSE(r.outputEnable);
    EXPECT_FALSE(r.hasUser1);
    ASSERT_EQ(r.scans.size(), 2u);
    EXPECT_EQ(r.scans[0].ir, kIrIdcode);
    EXPECT_EQ(r.scans[0].bits, kIdcodeAnswerBytes * 8 + 1);
    EXPECT_TRUE(r.scans[1].instruction);
    EXPECT_EQ(r.scans[1].bits, 3 * kIrAnswerBytes * 8 + 1);
    EXPECT_EQ(r.devices[0].instructions, std::vector<std::uint16_t>{0x3FF});
}

ChainDevice Device(std::optional<std::uint32_t> id, unsigned ir = 10) { return ChainDevice{id, ir, std::nullopt}; }

TEST(ChainCheck, EveryOutcome) {
    using R = BoardCheck::Result;
    using Reads = VirtualBoard::Reads;
    const std::string none = "; none is an Intel FPGA.";
    std::vector<ChainDevice> eight(8, Device(0x020A10DD));
    std::vector<ChainDevice> nine(9, Device(0x020A10DD));
    std::string eightText = "The JTAG chain holds 8 devices: ";
    for (int i = 0; i < 8; ++i) {
        eightText += std::string(i ? ", " : "") + "device " + std::to_string(i + 1) + ", 0x020A10DD (MAX II EPM240)";
    }
    const ChainDevice newer{0x120F70DD, 10, VirtualHub{}};
    struct Case {
        const char* label;
        std::vector<ChainDevice> chain;
        TdoLine line;
        Reads reads;
        R result;
        std::string text;
        bool hubRead = false;  // one FPGA: its hub is read too
    };
    const Case cases[] = {
        {"the usual board", DefaultBoardChain(), TdoLine::Chain, Reads::Answered, R::Ready, "", true},
        {"an FPGA whose design has no hub", {Device(0x020F30DD)}, TdoLine::Chain, Reads::Answered, R::Refused,
         kReasonNoHub, true},
        {"a newer revision of the part", {newer}, TdoLine::Chain, Reads::Answered, R::Ready, "", true},
        {"an Altera CPLD", {Device(0x020A10DD)}, TdoLine::Chain, Reads::Answered, R::Refused,
         "The JTAG chain holds 1 device: device 1, 0x020A10DD (MAX II EPM240)" + none},
        {"off, TDO high", DefaultBoardChain(), TdoLine::StuckHigh, Reads::Answered, R::NotConnected, kReasonNoDevice},
        {"off, TDO low", DefaultBoardChain(), TdoLine::StuckLow, Reads::Answered, R::NotConnected, "TDO is stuck low."},
        {"nothing on the ribbon", {}, TdoLine::Chain, Reads::Answered, R::NotConnected, kReasonNoDevice},
        {"reads unanswered", DefaultBoardChain(), TdoLine::Chain, Reads::Unanswered, R::NotConnected,
         "The cable does not answer reads."},
        {"read fails", DefaultBoardChain(), TdoLine::Chain, Reads::Fail, R::NotConnected, "Reading from the cable failed."},
        {"only BYPASS", {Device(std::nullopt, 5)}, TdoLine::Chain, Reads::Answered, R::Refused,
         "The JTAG chain holds 1 device: device 1, a device without IDCODE" + none},
        {"not Altera", {Device(0x0362D093, 6)}, TdoLine::Chain, Reads::Answered, R::Refused,
         "The JTAG chain holds 1 device: device 1, 0x0362D093" + none},
        {"eight devices", eight, TdoLine::Chain, Reads::Answered, R::Refused, eightText + none},
        {"nine devices", nine, TdoLine::Chain, Reads::Answered, R::Refused,
         "The JTAG chain holds more than 8 devices; Tunlet drives chains of up to 8."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        BoardSession s;
        s.board->SetChain(c.chain, c.line);
        s.board->SetReads(c.reads);
        const BoardCheck check = CheckBoard(s.handle);
        EXPECT_EQ(check.result, c.result);
        EXPECT_EQ(check.text, c.text);
        const auto r = s.board->Snapshot();
        EXPECT_EQ(r.raw, c.hubRead ? test::kBoardCheck : test::kChainRead);
        EXPECT_EQ(r.reads, c.hubRead ? 2 : 1);
        EXPECT_EQ(r.state, TapState::RunTestIdle);
        EXPECT_FALSE(r.outputEnable);
    }
}

// The chains boards carry, listed from the device nearest TDO: where uploads go, or
// why none can. Every device but an FPGA whose hub is read only ever latches BYPASS
// (all ones); the one chosen ends on USER0.
TEST(ChainCheck, EveryChain) {
    using R = BoardCheck::Result;
    const ChainDevice dap = Device(0x4BA00477, 4), cpld = Device(0x020A10DD), xilinx = Device(0x0362D093, 6),
                      noId = Device(std::nullopt, 5), noId32 = Device(std::nullopt, 32), noHub = Device(0x020F30DD);
    const ChainDevice cv{0x02D020DD, 10, VirtualHub{}}, c4{kEp4ce22Idcode, 10, VirtualHub{}};
    const std::string c4Name = "0x020F30DD (Cyclone IV E EP4CE22 / Cyclone III EP3C25 / Cyclone 10 LP 10CL025)";
    struct Case {
        const char* label;
        std::vector<ChainDevice> chain;
        std::optional<std::size_t> choose;
        R result;
        std::string text;
        std::optional<std::size_t> target;
        ChainTarget place;  // devices and IR bits nearer TDO, nearer TDI
    };
    const Case cases[] = {
        {"DE10-Nano: the debug port nearest TDO", {dap, cv}, {}, R::Ready, "", 1, {1, 0, 4, 0}},
        {"the FPGA nearest TDO", {cv, dap}, {}, R::Ready, "", 0, {0, 1, 0, 4}},
        {"a CPLD nearer TDO", {cpld, c4}, {}, R::Ready, "", 1, {1, 0, 10, 0}},
        {"a CPLD nearer TDI", {c4, cpld}, {}, R::Ready, "", 0, {0, 1, 0, 10}},
        {"two FPGAs, one with the design", {noHub, c4}, {}, R::Ready, "", 1, {1, 0, 10, 0}},
        {"three devices, the FPGA between", {dap, c4, cpld}, {}, R::Ready, "", 1, {1, 1, 4, 10}},
        {"a part not in the table takes the rest", {xilinx, c4}, {}, R::Ready, "", 1, {1, 0, 6, 0}},
        {"a device without IDCODE takes the rest", {c4, noId}, {}, R::Ready, "", 0, {0, 1, 0, 5}},
        {"two FPGAs with the design, one chosen", {c4, cv}, 1, R::Ready, "", 1, {1, 0, 10, 0}},
        {"two FPGAs with the design", {c4, cv}, {}, R::Refused,
         "Several FPGAs take uploads: device 1, " + c4Name +
             "; device 2, 0x02D020DD (Cyclone V 5CSEA6/5CSEBA6). Choose one: tunlet-cli --device N, or the "
             "window's menu entry \"Choose the FPGA...\".", {}, {}},
        {"the debug port chosen", {dap, cv}, 0, R::Refused,
         "The device chosen, device 1, 0x4BA00477 (ARM debug port), is not an Intel FPGA: uploads go to an FPGA's "
         "design.", {}, {}},
        {"a device past the chain chosen", {dap, cv}, 2, R::Refused,
         "The JTAG chain holds 2 devices: device 1, 0x4BA00477 (ARM debug port), device 2, 0x02D020DD (Cyclone V "
         "5CSEA6/5CSEBA6). There is no device 3 to send to.", {}, {}},
        {"the FPGA without the design", {dap, Device(0x02D020DD)}, {}, R::Refused,
         "The JTAG chain holds 2 devices: device 1, 0x4BA00477 (ARM debug port), device 2, 0x02D020DD (Cyclone V "
         "5CSEA6/5CSEBA6). For device 2, the FPGA's design has no virtual JTAG hub: it cannot take uploads.", {}, {}},
        {"two lengths unknown", {xilinx, noId, c4}, {}, R::Refused,
         "The JTAG chain holds 3 devices: device 1, 0x0362D093, device 2, a device without IDCODE, device 3, " + c4Name +
             ". The instruction-register lengths of device 1, 0x0362D093 and device 2, a device without IDCODE are "
             "not known, and the chain's instruction registers measure 21 bits: Tunlet cannot tell how they share "
             "them.", {}, {}},
        {"IRs too long to measure", {noId32, noId32, noId32, noId32, c4}, {}, R::Refused,
         "The JTAG chain holds 5 devices: device 1, a device without IDCODE, device 2, a device without IDCODE, "
         "device 3, a device without IDCODE, device 4, a device without IDCODE, device 5, " + c4Name +
             ". Their instruction registers did not measure: no bit shifted in came back within 128 clocks.", {}, {}},
        {"the table's sum disagrees", {Device(0x4BA00477, 5), cv}, {}, R::Refused,
         "The JTAG chain holds 2 devices: device 1, 0x4BA00477 (ARM debug port), device 2, 0x02D020DD (Cyclone V "
         "5CSEA6/5CSEBA6). The known parts' instruction registers add up to 14 bits, but the chain's instruction "
         "registers measure 15 bits.", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        BoardSession s;
        s.board->SetChain(c.chain);
        const std::optional<std::size_t> choose = c.choose;
        const BoardSelection sel = SelectBoard(s.handle, [choose](const std::vector<ChainMember>&) { return choose; });
        EXPECT_EQ(sel.check.result, c.result);
        EXPECT_EQ(sel.check.text, c.text);
        EXPECT_EQ(sel.target, c.target);
        EXPECT_EQ(sel.Target(), c.place);
        const auto r = s.board->Snapshot();
        EXPECT_EQ(r.state, TapState::RunTestIdle);
        EXPECT_FALSE(r.outputEnable);
        ASSERT_EQ(r.devices.size(), c.chain.size());
        for (std::size_t i = 0; i < c.chain.size(); ++i) {
            if (c.target == i) continue;
            // Another FPGA's hub may have been read.
            const auto bypass = static_cast<std::uint16_t>((std::uint64_t{1} << c.chain[i].irLength) - 1);
            for (std::uint16_t ir : r.devices[i].instructions) {
                EXPECT_TRUE(ir == bypass || (c.chain[i].irLength == 10 && (ir == kIrUser1 || ir == kIrUser0)))
                    << "device " << i + 1 << " latched " << ir;
            }
        }
        if (c.target) {
            EXPECT_EQ(r.devices[*c.target].instructions.back(), kIrUser0);
        }
    }
}

// An upload through a chain: the FPGA's design takes exactly the bits it takes alone,
// after one captured 0 bit per device between the cable's TDI and the FPGA (which no
// host can avoid), in every kind of upload; every other device ends in BYPASS. Alone,
// it takes the payload written out from the ROM.
TEST(ChainCheck, UploadReachesTheFpgaThroughEveryChain) {
    const ChainDevice dap = Device(0x4BA00477, 4), cpld = Device(0x020A10DD);
    const ChainDevice fpga{kEp4ce22Idcode, 10, VirtualHub{}};
    const struct {
        std::vector<ChainDevice> chain;
        std::size_t fpga;
        unsigned leadBits;
    } chains[] = {
        {{fpga}, 0, 0},
        {{dap, fpga}, 1, 0},
        {{fpga, dap}, 0, 1},
        {{cpld, fpga, dap}, 1, 1},
        {{fpga, cpld, dap}, 0, 2},
    };
    enum class Kind { Rom, PackedRom, HeaderOnly };
    test::TempDir dir;
    const Bytes image = test::MakeNes(1, 1, 0x40, 0x00);  // mapper 4
    const std::string rom = dir.Write("r.nes", image);
    test::NsfSpec spec;
    spec.songs = 4;
    const std::string tune = dir.Write("t.nsf", test::MakeNsf(spec, 5000));
    Bytes payload = {4, 0};
    payload.insert(payload.end(), image.begin(), image.begin() + 16 + 16384 + 8192);
    payload.insert(payload.end(), 3, 0);
    const auto bit = [](const DeviceRecord& d, std::uint64_t i) { return ((d.user0[i / 8] >> (i % 8)) & 1) != 0; };
    for (Kind kind : {Kind::Rom, Kind::PackedRom, Kind::HeaderOnly}) {
        std::optional<DeviceRecord> alone;
        for (const auto& c : chains) {
            SCOPED_TRACE(testing::Message() << static_cast<int>(kind) << ", " << c.chain.size() << " devices, FPGA "
                                            << c.fpga + 1);
            BoardSession s;
            s.board->SetChain(c.chain);
            const BoardSelection sel = SelectBoard(s.handle);
            ASSERT_EQ(sel.check.result, BoardCheck::Result::Ready);
            test::FakeHost host(s.handle);
            host.target = sel.Target();
            host.packed = kind == Kind::PackedRom;
            if (kind == Kind::HeaderOnly) {
                ASSERT_EQ(host.tune.Read(tune.c_str()), 0);
                host.loaded = 1;
                host.song = 3;
                SendTuneThread(host);
            } else {
                host.rom = std::make_unique<NesRom>();
                ASSERT_EQ(host.rom->Read(rom.c_str()), 0);
                SendRomThread(host);
            }
            ASSERT_TRUE(host.messages.empty());
            const auto r = s.board->Snapshot();
            EXPECT_EQ(r.state, TapState::RunTestIdle);
            EXPECT_FALSE(r.outputEnable);
            const DeviceRecord& got = r.devices[c.fpga];
            EXPECT_EQ(got.instructions.back(), kIrUser0);
            for (std::size_t i = 0; i < c.chain.size(); ++i) {
                if (i != c.fpga) {
                    EXPECT_EQ(r.devices[i].instructions.back(), (1u << c.chain[i].irLength) - 1);
                }
            }
            if (!alone) {
                alone = got;
                if (kind == Kind::HeaderOnly) continue;
                ASSERT_GE(got.user0Bits, payload.size() * 8);
                std::size_t wrong = 0;
                for (std::size_t i = 0; i < payload.size() * 8; ++i) {
                    if (bit(got, i) != (((payload[i / 8] >> (i % 8)) & 1) != 0)) ++wrong;
                }
                EXPECT_EQ(wrong, 0u);
                continue;
            }
            EXPECT_EQ(test::User0BitsDiffer(got, *alone, c.leadBits), 0u);
        }
    }
}

// The designs a board may hold against the check, through the virtual board's chain
// model: where the 9 bits 0x100 land in a hub register of n address bits (enough for
// 1..N) above m instruction bits decides, never m alone. The whole check is two writes
// and two reads, the same bytes whatever the design (nothing of an upload). tunlet-cli
// scan reads every node, at most 256 answer bytes per write.
TEST(ChainCheck, HubDesigns) {
    using R = BoardCheck::Result;
    const HubNode vjtag{}, signalTap{1, 0x00, 0x06E, 0}, uart{1, 0x80, 0x06E, 0};
    const auto hub = [](std::uint8_t m, std::vector<HubNode> nodes) {
        VirtualHub h;
        h.m = m;
        h.nodes = std::move(nodes);
        return std::optional<VirtualHub>(h);
    };
    struct Case {
        const char* label;
        std::optional<VirtualHub> hub;
        R result;
        std::string text;
    };
    const Case cases[] = {
        // 9 bits into 1 + 8: 1 0000 0000, address 1, instruction 0.
        {"one node, m = 8", hub(8, {vjtag}), R::Ready, ""},
        // 9 bits into 1 + 5: the last 6 stay, 1 00000: address 1, instruction 0.
        {"one node, m = 5", hub(5, {vjtag}), R::Ready, ""},
        {"no hub", std::nullopt, R::Refused, "The FPGA's design has no virtual JTAG hub: it cannot take uploads."},
        {"address 1 not a virtual JTAG node", hub(8, {uart}), R::Refused,
         "Address 1 of the design's hub is a JTAG UART, not a virtual JTAG node."},
        {"SignalTap and a JTAG UART first", hub(8, {signalTap, uart, vjtag}), R::Refused,
         "Address 1 of the design's hub is a SignalTap node, not a virtual JTAG node."},
        // 9 bits into 2 + 8: 10 0000 000x, address 2.
        {"3 nodes", hub(8, {vjtag, uart, signalTap}), R::Refused,
         "Uploads reach address 2 of the design's hub, not address 1: it holds 3 nodes."},
        // 9 bits into 5 + 8: 10000 0000 xxxx, address 16.
        {"16 nodes", hub(8, std::vector<HubNode>(16, vjtag)), R::Refused,
         "Uploads reach address 16 of the design's hub, not address 1: it holds 16 nodes."},
        // 9 bits into 1 + 9: 1 0000 0000x, the last instruction bit left as captured.
        {"one node, m = 9", hub(9, {vjtag}), R::Refused,
         "Uploads set only 8 of the 9 instruction bits of the design's hub."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::vector<ChainDevice> chain = {ChainDevice{kEp4ce22Idcode, 10, c.hub}};
        BoardSession s;
        s.board->SetChain(chain);
        const BoardCheck check = CheckBoard(s.handle);
        EXPECT_EQ(check.result, c.result);
        EXPECT_EQ(check.text, c.text);
        auto r = s.board->Snapshot();
        EXPECT_EQ(r.raw, test::kBoardCheck);
        EXPECT_EQ(r.writes, (std::vector<DWORD>{kChainReadCableBytes, kHubHeadCableBytes}));
        EXPECT_EQ(r.readBytes, kBoardCheckAnswerBytes);
        EXPECT_EQ(r.state, TapState::RunTestIdle);
        EXPECT_FALSE(r.outputEnable);

        // scan: every node's word, as the model holds it.
        s.board->Reset();
        HubInfo info;
        ASSERT_EQ(ReadHubInfo(s.handle, info), ChainRead::Result::Devices);
        const std::size_t n = c.hub ? c.hub->nodes.size() : 0;
        ASSERT_EQ(info.nodes.size(), n);
        for (std::size_t i = 0; i < n; ++i) {
            const HubNode& node = c.hub->nodes[i];
            EXPECT_EQ(info.nodes[i], std::uint32_t{node.version} << 27 | std::uint32_t{node.id} << 19 |
                                         std::uint32_t{node.manufacturer} << 8 | node.instance);
        }
        EXPECT_EQ(UploadRefusal(info), c.text);
        r = s.board->Snapshot();
        EXPECT_EQ(r.reads, n > 1 ? 2 : 1);  // 16 nodes: the head, then 15 words of 8 answer bytes
        EXPECT_EQ(r.state, TapState::RunTestIdle);
    }
}

TEST(ChainCheck, FailedWriteEndsWithTheRecoveryWalk) {
    for (std::size_t write : {0u, 1u}) {
        for (DWORD written : {DWORD{0}, DWORD{30}}) {
            BoardSession s;
            s.board->FailWrite(write, written);
            EXPECT_EQ(CheckBoard(s.handle).result, BoardCheck::Result::WriteFailed);
            const auto r = s.board->Snapshot();
            // A pad that ends any shift command the cut left open, then the recovery walk.
            std::vector<DWORD> writes = {kChainReadCableBytes, kHubHeadCableBytes};
            writes.resize(write + 1);
            writes.push_back(kCutRecoverBytes);
            EXPECT_EQ(r.writes, writes);
            EXPECT_EQ(r.reads, static_cast<int>(write));
            EXPECT_EQ(r.state, TapState::RunTestIdle);
            EXPECT_FALSE(r.outputEnable);
            EXPECT_EQ(Bytes(r.raw.end() - 15, r.raw.end()),
                      (Bytes{0x2C, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D, 0x0C, 0x0D}));
            EXPECT_EQ(std::count(r.raw.end() - 77, r.raw.end() - 14, 0x2C), 63);
        }
    }
}

// After a passing check the upload is exactly today's stream from its own reset on.
TEST(ChainCheck, UploadAfterTheCheckIsUnchanged) {
    test::TempDir dir;
    BoardSession s;
    ASSERT_EQ(CheckBoard(s.handle).result, BoardCheck::Result::Ready);
    test::FakeHost host(s.handle);
    const Bytes image = test::MakeNes(1, 1, 0x40, 0x00);  // mapper 4
    host.rom = std::make_unique<NesRom>();
    ASSERT_EQ(host.rom->Read(dir.Write("r.nes", image).c_str()), 0);
    SendRomThread(host);
    Bytes payload = {4, 0};
    payload.insert(payload.end(), image.begin(), image.begin() + 16 + 16384 + 8192);
    payload.insert(payload.end(), 3, 0);
    Bytes expected = test::kBoardCheck;
    const Bytes upload = test::ExpectedStream(payload);
    expected.insert(expected.end(), upload.begin(), upload.end());
    EXPECT_TRUE(s.board->Snapshot().raw == expected);
    EXPECT_EQ(s.board->Snapshot().user0, Bytes(payload.begin(), payload.end()));
}

// Read-back as the cable answers it: a byte-shift command with bit 6 answers one
// byte per data byte, the first TDO bit in bit 0; a bit-bang byte with bit 6 answers
// TDO in bit 0, read on the TCK-high byte the bit that clock shifted out.
TEST(TapDecoder, ReadBackOfTheIdcode) {
    TapDecoder tap;
    const Bytes toShiftDr = {0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2E, 0x2F, 0x2C, 0x2D,
                             0x2E, 0x2F, 0x2C, 0x2D, 0x2C, 0x2D, 0x2C};
    std::vector<std::uint8_t> answers;
    tap.Feed(toShiftDr.data(), toShiftDr.size(), &answers);
    EXPECT_TRUE(answers.empty());
    const Bytes twoBytes = {0xC2, 0xFF, 0xFF};
    tap.Feed(twoBytes.data(), twoBytes.size(), &answers);
    EXPECT_EQ(answers, (std::vector<std::uint8_t>{0xDD, 0x30}));  // 0x020F30DD, low bytes first
    // Bit by bit on the TCK-high byte: 0x0F = 1111 0000 from bit 16 on.
    for (int bit = 0; bit < 8; ++bit) {
        const Bytes clock = {0x2C, 0x2D | 0x40};
        tap.Feed(clock.data(), clock.size(), &answers);
    }
    EXPECT_EQ(answers, (std::vector<std::uint8_t>{0xDD, 0x30, 1, 1, 1, 1, 0, 0, 0, 0}));
    // Without a request nothing is answered.
    const Bytes plain = {0x81, 0x00, 0x2C, 0x2D};
    tap.Feed(plain.data(), plain.size(), &answers);
    EXPECT_EQ(answers.size(), 10u);
}

}  // namespace
}  // namespace tunlet

namespace tunlet {
namespace {

// Parts on popular boards, by the IDCODE their JTAG ports answer with.
TEST(JtagParts, NamesAndManufacturers) {
    struct Case {
        std::uint32_t idcode;
        const char* namePart;  // null: unknown
        const char* maker;
    };
    const Case cases[] = {
        {0x020B30DD, "EP2C20", "Altera"},
        {0x020F20DD, "EP3C16", "Altera"},
        {0x020F30DD, "EP4CE22", "Altera"},
        {0x020F70DD, "EP4CE115", "Altera"},
        {0x320F70DD, "EP4CE115", "Altera"},  // another revision: the version bits are not looked at
        {0x02B050DD, "5CEBA4", "Altera"},
        {0x02D120DD, "5CSEMA5", "Altera"},
        {0x02D020DD, "5CSEBA6", "Altera"},
        {0x031820DD, "10M08", "Altera"},
        {0x031050DD, "10M50", "Altera"},
        {0x020A10DD, "MAX II EPM240", "Altera"},
        {0x020A50DD, "MAX V", "Altera"},
        {0x4BA00477, "ARM debug port", "ARM"},
        {0x5BA00477, "ARM debug port", "ARM"},  // any version of the debug port
        {0x0362D093, nullptr, "Xilinx"},
        {0x020FF0DD, nullptr, "Altera"},
        {0x00000FFF, nullptr, "manufacturer 0x7FF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.idcode);
        const char* name = JtagPartName(c.idcode);
        if (c.namePart == nullptr) {
            EXPECT_EQ(name, nullptr) << name;
        } else {
            ASSERT_NE(name, nullptr);
            EXPECT_NE(std::string(name).find(c.namePart), std::string::npos) << name;
        }
        EXPECT_EQ(JtagManufacturerName(c.idcode), c.maker);
        EXPECT_EQ(IsAlteraIdcode(c.idcode), std::string(c.maker) == "Altera");
    }
}

// HUB_INFO words built by hand from the field layout: [31:27] version, [26:19] node
// count or node id, [18:8] manufacturer, [7:0] m or instance.
TEST(HubReport, ReadyOrWhyNot) {
    constexpr std::uint32_t kHub1x8 = 0x08086E08;    // version 1, 1 node, 0x06E, m 8
    constexpr std::uint32_t kHub3x8 = 0x08186E08;    // 3 nodes
    constexpr std::uint32_t kHub1x10 = 0x08086E0A;   // m 10
    constexpr std::uint32_t kHub2x8 = 0x08106E08;    // 2 nodes
    constexpr std::uint32_t kVjtag = 0x08406E00;     // version 1, id 0x08, 0x06E, instance 0
    constexpr std::uint32_t kSignalTap = 0x08006E00;  // id 0x00
    constexpr std::uint32_t kUart = 0x0C006E00;      // version 1, id 0x80
    struct Case {
        const char* label;
        HubInfo info;
        std::string last;
    };
    // Why not is the check's reason (ChainCheck.HubDesigns); the listing says only
    // when uploads can go.
    const Case cases[] = {
        {"ready", {kHub1x8, {kVjtag}}, "version 1\nthe design is ready for uploads\n"},
        {"two virtual JTAG nodes", {kHub2x8, {kVjtag, kVjtag}}, "instance 0, version 1\n"},
        {"wide instructions", {kHub1x10, {kVjtag}}, "instance 0, version 1\n"},
        {"no virtual JTAG node", {kHub1x8, {kUart}}, "instance 0, version 1\n"},
        {"no hub", {0, {}}, ""},
        {"ones, not a hub", {0xFFFFFFFF, {}}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string text = DescribeHub(c.info);
        ASSERT_GE(text.size(), c.last.size());
        EXPECT_EQ(text.substr(text.size() - c.last.size()), c.last) << text;
    }
    EXPECT_EQ(DescribeHub({kHub3x8, {kSignalTap, kUart, kVjtag}}),
              "virtual JTAG hub: version 1, 3 nodes, widest node instruction 8 bits\n"
              "  node 1: SignalTap (id 0x00), instance 0, version 1\n"
              "  node 2: JTAG UART (id 0x80), instance 0, version 1\n"
              "  node 3: virtual JTAG (id 0x08), instance 0, version 1\n");
    EXPECT_EQ(UploadRefusal({kHub1x8, {0x08406F00}}),  // id 0x08 of manufacturer 0x06F
              "Address 1 of the design's hub is a node of manufacturer 0x06F (id 0x08), not a virtual JTAG node.");
}

// The hub read through the virtual board's model gives the words the model holds.
TEST(HubReport, ReadThroughTheVirtualBoard) {
    VirtualHub hub;
    hub.version = 2;
    hub.m = 9;
    hub.nodes = {HubNode{1, 0x00, 0x06E, 0}, HubNode{3, 0x08, 0x06E, 5}};
    BoardSession s;
    s.board->SetChain({ChainDevice{kEp4ce22Idcode, 10, hub}});
    HubInfo info;
    ASSERT_EQ(ReadHubInfo(s.handle, info), ChainRead::Result::Devices);
    EXPECT_EQ(info.hub, 0x10106E09u);  // version 2, 2 nodes, 0x06E, m 9
    EXPECT_EQ(info.nodes, (std::vector<std::uint32_t>{0x08006E00u, 0x18406E05u}));
    const auto r = s.board->Snapshot();
    EXPECT_EQ(r.reads, 2);
    EXPECT_EQ(r.state, TapState::RunTestIdle);
    EXPECT_FALSE(r.outputEnable);
    EXPECT_EQ(r.user1Bits, 64u);
    EXPECT_EQ(r.user1, 0u);
}

}  // namespace
}  // namespace tunlet

