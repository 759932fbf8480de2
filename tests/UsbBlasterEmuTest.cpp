// The USB-Blaster and USB-Blaster II back ends end to end: the real libftdi and libusb against a cable
// emulated at the usbdevfs level, driven as a user drives tunlet-cli.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <sstream>

#include "app/Boxes.h"
#include "cli/Cli.h"
#include "link/BlasterJtag.h"
#include "link/ChainScan.h"
#include "tests/LinkTestSupport.h"
#include "cable/TapDecoder.h"
#include "cable/CableChoice.h"
#include "cable/CableSearch.h"
#include "cable/MpsseFtdiCable.h"
#include "cable/UsbBlaster2Cable.h"
#include "cable/UsbBlasterCable.h"
#include "tests/FakeFt2232h.h"
#include "tests/FakeUsbBlaster.h"
#include "tests/FakeUsbBlaster2.h"
#include "tests/TestFiles.h"

namespace tunlet {
namespace {

// A lost write: the old first line, then why, as libftdi's failure is told.
constexpr char kWriteErrLines[] =
    "write err\nThe cable stopped taking data: was the USB-Blaster unplugged during the transfer?\n";

using test::Bytes;
using test::FakeUsbBlaster;

// Short, so that a transfer that never completes costs the suite little.
constexpr int kTimeoutMs = 150;

struct CliRun {
    int code = -1;
    std::string out, err;
};

CliRun Cli(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    CliEnvironment env;
    env.usbBlaster = std::make_shared<UsbBlasterCable>(RealFtdiApi(), kTimeoutMs, kTimeoutMs);
    CliRun r;
    r.code = RunCli(args, out, err, env);
    r.out = out.str();
    r.err = err.str();
    return r;
}

CliRun Play(const std::string& file, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"play", file};
    args.insert(args.end(), extra.begin(), extra.end());
    return Cli(args);
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// What the window's dump of the same upload holds: the bytes the cable must carry.
Bytes Expected(const std::string& file, std::vector<std::string> extra = {}) {
    test::TempDir dir;
    const std::string dump = dir.path() + "/cable.bin";
    std::ostringstream out, err;
    std::vector<std::string> args = {"play", file, "--cable", "dump:" + dump};
    args.insert(args.end(), extra.begin(), extra.end());
    EXPECT_EQ(RunCli(args, out, err), 0);
    return test::ReadAll(dump);
}

TapDecoder AtTap(const Bytes& bytes) {
    TapDecoder tap;
    tap.Feed(bytes.data(), bytes.size());
    return tap;
}

class EmulatedCable : public testing::Test {
protected:
    void SetUp() override {
        if (!FakeUsbBlaster::Available()) GTEST_SKIP() << "not run under umockdev-wrapper (Debian package umockdev)";
    }
};

const char* const kFiles[] = {"db_apu.nsf", "clip_5b.nes"};
// The default stream, and the packed one with its block-sized writes.
const std::vector<std::string> kModes[] = {{}, {"--packed"}};

TEST_F(EmulatedCable, UploadsArriveByteExact) {
    for (const char* name : kFiles) {
        for (const auto& mode : kModes) {
            SCOPED_TRACE(std::string(name) + (mode.empty() ? "" : " --packed"));
            FakeUsbBlaster cable;
            const CliRun r = Play(test::DataFile(name), mode);
            EXPECT_EQ(r.code, 0) << r.err;
            // The board check, then from the upload's own reset on exactly the bytes of a dump.
            EXPECT_TRUE(cable.Received() == Concat(test::kBoardCheck, Expected(test::DataFile(name), mode)));
            EXPECT_GE(cable.ReadTransfers(), 1u);
            const TapDecoder tap = AtTap(cable.Received());
            EXPECT_EQ(tap.state(), TapState::RunTestIdle);
            EXPECT_FALSE(tap.outputEnable());
        }
    }
}

TEST_F(EmulatedCable, SetUpRequests) {
    FakeUsbBlaster cable;
    ASSERT_EQ(Play(test::DataFile("db_apu.nsf"), {"--header-only"}).code, 0);
    // Reset, 9600 baud (libftdi's own), then ours: bit-bang off, a 2 ms latency timer,
    // and both purges (bytes on their way to the cable, bytes waiting for us).
    const std::vector<FakeUsbBlaster::Request> expected = {{0x00, 0x0000, 1}, {0x03, 0x4138, 0}, {0x0B, 0x0000, 1},
                                                           {0x09, 0x0002, 1}, {0x00, 0x0001, 1}, {0x00, 0x0002, 1}};
    EXPECT_EQ(cable.Requests(), expected);
    EXPECT_EQ(cable.Received().size(), test::kBoardCheck.size() + 334u);
}

// Every bulk transfer of both uploads fails in turn: exactly one "write err", exit 4,
// and the board's TAP back in Run-Test/Idle with the outputs released.
TEST_F(EmulatedCable, FailedTransferSweep) {
    int runs = 0;
    for (const char* name : kFiles) {
        for (const auto& mode : kModes) {
            std::size_t transfers = 0;
            {
                FakeUsbBlaster cable;
                ASSERT_EQ(Play(test::DataFile(name), mode).code, 0);
                transfers = cable.Transfers();
            }
            for (std::size_t t = 0; t < transfers; ++t) {
                SCOPED_TRACE(std::string(name) + (mode.empty() ? "" : " --packed") + " transfer " + std::to_string(t));
                FakeUsbBlaster cable;
                cable.FailTransfer(t);
                const CliRun r = Play(test::DataFile(name), mode);
                EXPECT_EQ(r.code, 4);
                EXPECT_EQ(r.err, kWriteErrLines);
                const Bytes got = cable.Received();
                const TapDecoder tap = AtTap(got);
                EXPECT_EQ(tap.state(), TapState::RunTestIdle);
                EXPECT_FALSE(tap.outputEnable());
                ASSERT_GE(got.size(), kRecoverTapBytes);
                // Nothing after the failure but the recovery walk (in the board check's
                // and the packed transfers, after the pad that ends a cut command).
                EXPECT_EQ(cable.Transfers(), t + 2);
                ++runs;
            }
        }
    }
    EXPECT_GT(runs, 40);
}

TEST_F(EmulatedCable, UnpluggedDuringTransfer) {
    // In the preamble, in a block, in the trailer (after the check's 2 transfers, the
    // preamble's 8, the lead bytes' 2, the header's 1 and 8 blocks of one transfer each).
    for (std::size_t from : {std::size_t{2}, std::size_t{14}, std::size_t{22}}) {
        SCOPED_TRACE(from);
        FakeUsbBlaster cable;
        cable.VanishFrom(from);
        const CliRun r = Play(test::DataFile("db_apu.nsf"));
        EXPECT_EQ(r.code, 4);
        EXPECT_EQ(r.err, kWriteErrLines);
        // Gone from the bus: the next Play says so.
        cable.Remove();
        const CliRun again = Play(test::DataFile("db_apu.nsf"));
        EXPECT_EQ(again.code, 3);
        EXPECT_NE(again.err.find("not plugged in"), std::string::npos) << again.err;
    }
}

TEST_F(EmulatedCable, TransferThatNeverCompletes) {
    FakeUsbBlaster cable;
    cable.HangTransfer(12);
    const CliRun r = Play(test::DataFile("db_apu.nsf"));
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.err, kWriteErrLines);
    // The cable answers again: the recovery walk reached it.
    const TapDecoder tap = AtTap(cable.Received());
    EXPECT_EQ(tap.state(), TapState::RunTestIdle);
    EXPECT_FALSE(tap.outputEnable());
}

TEST_F(EmulatedCable, OpenFailuresSayWhy) {
    struct Case {
        FakeUsbBlaster::Plug plug;
        const char* reason;
    };
    const Case cases[] = {
        {FakeUsbBlaster::Plug::Absent, "not plugged in"},
        {FakeUsbBlaster::Plug::Busy, "busy"},
        {FakeUsbBlaster::Plug::CannotOpen, "cannot be opened"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        FakeUsbBlaster cable(c.plug);
        const CliRun r = Play(test::DataFile("db_apu.nsf"));
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(r.err.rfind("FPGA board is not connected.\n", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_TRUE(cable.Received().empty());
    }
}

const ChainDevice kArmDap{0x4BA00477, 4, std::nullopt};
const ChainDevice kCycloneVSoc{0x02D020DD, 10, VirtualHub{}};
const ChainDevice kEp4ce22{kEp4ce22Idcode, 10, VirtualHub{}};
const ChainDevice kBypassOnly{std::nullopt, 8, std::nullopt};
const ChainDevice kXilinx{0x0362D093, 6, std::nullopt};
const ChainDevice kNoHub{kEp4ce22Idcode, 10, std::nullopt};

// Every outcome of the check through libftdi and the emulated cable: nothing of the
// upload goes out unless the chain holds an Intel FPGA whose design takes it.
TEST_F(EmulatedCable, CheckOutcomes) {
    using Reads = FakeUsbBlaster::Reads;
    struct Case {
        const char* label;
        std::vector<ChainDevice> chain;
        TdoLine line;
        Reads reads;
        int code;
        std::string err;
    };
    const Case cases[] = {
        {"board off, TDO high", {kEp4ce22}, TdoLine::StuckHigh, Reads::Answered, 3,
         "FPGA board is not connected.\nThe cable answers, but no JTAG device does: is the board powered and the "
         "ribbon on its JTAG header?\n"},
        {"board off, TDO low", {kEp4ce22}, TdoLine::StuckLow, Reads::Answered, 3,
         "FPGA board is not connected.\nTDO is stuck low.\n"},
        {"no ribbon", {}, TdoLine::Chain, Reads::Answered, 3,
         "FPGA board is not connected.\nThe cable answers, but no JTAG device does: is the board powered and the "
         "ribbon on its JTAG header?\n"},
        {"reads never answered", {kEp4ce22}, TdoLine::Chain, Reads::Unanswered, 3,
         "FPGA board is not connected.\nThe cable does not answer reads.\n"},
        {"read fails", {kEp4ce22}, TdoLine::Chain, Reads::Fail, 3,
         "FPGA board is not connected.\nReading from the cable failed.\n"},
        {"not Altera", {kXilinx}, TdoLine::Chain, Reads::Answered, 5,
         "The JTAG chain holds 1 device: device 1, 0x0362D093; none is an Intel FPGA.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        FakeUsbBlaster cable;
        cable.SetChain(c.chain, c.line);
        cable.SetReads(c.reads);
        const CliRun r = Play(test::DataFile("db_apu.nsf"));
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.err, (c.code == 5 ? kRefusedFirstLine + std::string("\n") : "") + c.err);
        EXPECT_TRUE(cable.Received() == test::kChainRead);  // refused before the hub is read
        const TapDecoder tap = AtTap(cable.Received());
        EXPECT_EQ(tap.state(), TapState::RunTestIdle);
        EXPECT_FALSE(tap.outputEnable());
        EXPECT_FALSE(tap.hasUser1());
    }
}

// A SoC board through libftdi and the emulated cable: the FPGA takes the bits it
// takes alone, after the captured 0 bit of the debug port between it and the cable's
// TDI; the port stays in BYPASS. (Every other chain: ChainCheck.)
TEST_F(EmulatedCable, SocBoardTakesTheUpload) {
    std::vector<DeviceRecord> got;
    for (const std::vector<ChainDevice>& chain : {std::vector<ChainDevice>{kEp4ce22}, {kCycloneVSoc, kArmDap}}) {
        FakeUsbBlaster cable;
        cable.SetChain(chain);
        const CliRun r = Play(test::DataFile("db_apu.nsf"));
        ASSERT_EQ(r.code, 0) << r.err;
        const Bytes sent = cable.Received();
        TapDecoder tap{JtagChain(chain)};
        tap.Feed(sent.data(), sent.size());
        EXPECT_EQ(tap.state(), TapState::RunTestIdle);
        EXPECT_FALSE(tap.outputEnable());
        got.push_back(tap.chain().Record(0));
        if (chain.size() == 2) {
            EXPECT_EQ(tap.chain().Record(1).instructions.back(), 0xFu);
        }
    }
    EXPECT_GT(got[0].user0Bits, 32902u * 8);
    EXPECT_EQ(test::User0BitsDiffer(got[1], got[0], 1), 0u);
}

TEST_F(EmulatedCable, FailedTransferDuringTheCheck) {
    FakeUsbBlaster cable;
    cable.FailTransfer(0);
    const CliRun r = Play(test::DataFile("db_apu.nsf"));
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.err, kWriteErrLines);
    const Bytes got = cable.Received();
    // The pad that ends a cut shift command and the recovery walk, nothing of the upload.
    EXPECT_EQ(got.size(), kCutRecoverBytes);
    const TapDecoder tap = AtTap(got);
    EXPECT_EQ(tap.state(), TapState::RunTestIdle);
    EXPECT_FALSE(tap.outputEnable());
}

TEST_F(EmulatedCable, NoBoardCheckSendsTodaysBytes) {
    for (TdoLine line : {TdoLine::Chain, TdoLine::StuckHigh}) {
        FakeUsbBlaster cable;
        cable.SetChain({kEp4ce22}, line);
        const CliRun r = Play(test::DataFile("db_apu.nsf"), {"--no-board-check"});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_TRUE(cable.Received() == Expected(test::DataFile("db_apu.nsf")));
        EXPECT_EQ(cable.ReadTransfers(), 0u);
    }
}

// scan exits as play would: 0 when uploads can go, 5 with the check's reason when
// not. Every read asks at most 256 answer bytes, so 40 nodes read on a cable that
// holds 256. (Each design against the check: ChainCheck.HubDesigns.)
TEST_F(EmulatedCable, ScanReportsTheChainAndTheDesign) {
    const HubNode signalTap{1, 0x00, 0x06E, 0}, uart{1, 0x80, 0x06E, 0}, vjtag{1, 0x08, 0x06E, 0};
    VirtualHub threeNodes;
    threeNodes.nodes = {signalTap, uart, vjtag};
    VirtualHub wide;
    wide.m = 10;
    VirtualHub forty;  // 41 words of 8 answer bytes: more than one write's 256
    forty.nodes = std::vector<HubNode>(40, vjtag);
    forty.nodes[39].instance = 39;
    struct Case {
        const char* label;
        std::vector<ChainDevice> chain;
        TdoLine line;
        int code;
        std::vector<std::string> outParts;
        std::string err;
    };
    const Case cases[] = {
        {"one FPGA", {kEp4ce22}, TdoLine::Chain, 0,
         {"device 1: 0x020F30DD, Altera, Cyclone IV E EP4CE22", "virtual JTAG hub: version 1, 1 node, widest node instruction 8 bits\n",
          "  node 1: virtual JTAG (id 0x08), instance 0, version 1\n", "the design is ready for uploads\n"}, ""},
        {"three nodes", {ChainDevice{kEp4ce22Idcode, 10, threeNodes}}, TdoLine::Chain, 5,
         {"  node 1: SignalTap (id 0x00)", "  node 2: JTAG UART (id 0x80)", "  node 3: virtual JTAG (id 0x08)"},
         "Address 1 of the design's hub is a SignalTap node, not a virtual JTAG node.\n"},
        {"40 nodes", {ChainDevice{kEp4ce22Idcode, 10, forty}}, TdoLine::Chain, 5,
         {"  node 40: virtual JTAG (id 0x08), instance 39, version 1\n"},
         "Uploads reach address 32 of the design's hub, not address 1: it holds 40 nodes.\n"},
        {"wide instructions", {ChainDevice{kEp4ce22Idcode, 10, wide}}, TdoLine::Chain, 5,
         {"widest node instruction 10 bits"}, "Uploads set only 8 of the 10 instruction bits of the design's hub.\n"},
        {"no hub", {kNoHub}, TdoLine::Chain, 5, {"device 1: 0x020F30DD"}, std::string(kReasonNoHub) + "\n"},
        {"SoC", {kArmDap, kCycloneVSoc}, TdoLine::Chain, 0,
         {"device 1: 0x4BA00477, ARM, ARM debug port, IR 4 bits (from the table)\n",
          "device 2: 0x02D020DD, Altera, Cyclone V 5CSEA6/5CSEBA6, IR 10 bits (from the table), uploads go here\n",
          "the design is ready for uploads\n"}, ""},
        {"BYPASS first", {kBypassOnly, kXilinx}, TdoLine::Chain, 5,
         {"device 1: no IDCODE (BYPASS only), IR length unknown\n", "device 2: 0x0362D093, Xilinx, unknown part, IR length unknown\n"},
         "The JTAG chain holds 2 devices: device 1, a device without IDCODE, device 2, 0x0362D093. The "
         "instruction-register lengths of device 1, a device without IDCODE and device 2, 0x0362D093 are not known, "
         "and the chain's instruction registers measure 14 bits: Tunlet cannot tell how they share them.\n"},
        {"board off", {kEp4ce22}, TdoLine::StuckHigh, 3, {}, std::string("FPGA board is not connected.\n") + kReasonNoDevice + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        FakeUsbBlaster cable;
        cable.SetChain(c.chain, c.line);
        const CliRun r = Cli({"scan"});
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_EQ(r.err, (c.code == 5 ? kRefusedFirstLine + std::string("\n") : "") + c.err);
        for (const std::string& part : c.outParts) EXPECT_NE(r.out.find(part), std::string::npos) << r.out;
        const TapDecoder tap = AtTap(cable.Received());
        EXPECT_EQ(tap.state(), TapState::RunTestIdle);
        EXPECT_FALSE(tap.outputEnable());
    }
}

// Packed uploads go out in whole USB transfers: after the check's two, every URB the
// cable gets is 16384 bytes but the last, fewer than OpenOCD's 10 and 67 for the same
// payloads; the default stream keeps one URB per write.
TEST_F(EmulatedCable, PackedTransfersFillUrbs) {
    test::TempDir dir;
    const std::string rom = dir.Write("256k.nes", test::MakeNes(16, 0));
    struct Case {
        std::string file;
        std::size_t openOcd;
    };
    for (const Case& c : {Case{test::DataFile("db_apu.nsf"), 10}, Case{rom, 67}}) {
        SCOPED_TRACE(c.file);
        FakeUsbBlaster cable;
        ASSERT_EQ(Play(c.file, {"--packed"}).code, 0);
        const std::vector<std::size_t> sizes = cable.TransferSizes();
        ASSERT_GE(sizes.size(), 3u);
        EXPECT_EQ(sizes[0], kChainReadCableBytes);
        EXPECT_EQ(sizes[1], kHubHeadCableBytes);
        const Bytes dump = Expected(c.file, {"--packed"});
        std::vector<std::size_t> expected(dump.size() / 16384, 16384);
        if (dump.size() % 16384 != 0) expected.push_back(dump.size() % 16384);
        EXPECT_EQ(std::vector<std::size_t>(sizes.begin() + 2, sizes.end()), expected);
        EXPECT_LT(sizes.size(), c.openOcd);
    }
    FakeUsbBlaster cable;
    ASSERT_EQ(Play(test::DataFile("db_apu.nsf")).code, 0);
    const std::vector<std::size_t> sizes = cable.TransferSizes();
    EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 8192u), 8);  // each block one URB
    EXPECT_EQ(sizes.size(), 2 + 8 + 2 + 1 + 8 + 4 + 1u);
}

// OpenOCD, written against real cables, drives the emulated one through its own
// usb_blaster driver over libftdi: it must find the modelled devices and their
// instruction register lengths, and all ones for a board that is off.
std::string RunOpenOcd() {
    const std::string command =
        "timeout 60 openocd -f interface/altera-usb-blaster.cfg -c 'adapter speed 1000' -c init -c scan_chain "
        "-c shutdown 2>&1";
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return output;
    std::array<char, 512> chunk{};
    while (std::fgets(chunk.data(), static_cast<int>(chunk.size()), pipe.get()) != nullptr) output += chunk.data();
    return output;
}

TEST_F(EmulatedCable, OpenOcdSeesTheModelledChain) {
    if (std::system("command -v openocd >/dev/null 2>&1") != 0) GTEST_SKIP() << "openocd not installed";
    struct Case {
        const char* label;
        std::vector<ChainDevice> chain;
        TdoLine line;
        std::vector<std::string> parts;
    };
    const Case cases[] = {
        {"one FPGA", {kEp4ce22}, TdoLine::Chain, {"tap/device found: 0x020f30dd", "jtag newtap auto0 tap -irlen 10 -expected-id 0x020f30dd"}},
        {"SoC", {kArmDap, kCycloneVSoc}, TdoLine::Chain,
         {"jtag newtap auto0 tap -irlen 4 -expected-id 0x4ba00477",
          "jtag newtap auto1 tap -irlen 10 -expected-id 0x02d020dd"}},
        {"board off", {kEp4ce22}, TdoLine::StuckHigh, {"all ones"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        FakeUsbBlaster cable;
        cable.SetChain(c.chain, c.line);
        const std::string out = RunOpenOcd();
        for (const std::string& part : c.parts) EXPECT_NE(out.find(part), std::string::npos) << out;
    }
}

// The FT2232H cables in MPSSE mode, through the real libftdi: the board's TAP gets
// the same USER0 bytes as through the USB-Blaster, and ends where they leave it.
using test::FakeFt2232h;
using Kind = FakeFt2232h::Kind;

TEST_F(EmulatedCable, Ft2232hUploadsReachUser0AsThroughTheUsbBlaster) {
    struct Case {
        Kind kind;
        const char* cable;
        const char* file;
        std::vector<std::string> extra;
        unsigned divisor;  // 60 MHz / ((1 + divisor) * 2)
    };
    const Case cases[] = {
        {Kind::Arrow, "arrow-usb-blaster", "db_apu.nsf", {}, 4},
        {Kind::Arrow, "arrow-usb-blaster:AR4711", "clip_5b.nes", {"--packed"}, 4},
        {Kind::BlasterIii, "usb-blaster-iii", "db_apu.nsf", {"--tck", "30"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cable);
        FakeFt2232h cable(c.kind);
        std::vector<std::string> extra = c.extra;
        extra.insert(extra.end(), {"--cable", c.cable});
        const CliRun r = Play(test::DataFile(c.file), extra);
        EXPECT_EQ(r.code, 0) << r.err;
        std::vector<std::string> dumpMode;
        if (!c.extra.empty() && c.extra[0] == "--packed") dumpMode = c.extra;
        const TapDecoder expected = AtTap(Expected(test::DataFile(c.file), dumpMode));
        EXPECT_EQ(cable.User0(), expected.user0());
        EXPECT_GT(cable.User0().size(), 1000u);
        EXPECT_EQ(cable.TapNow(), TapState::RunTestIdle);
        EXPECT_EQ(cable.Divisor(), c.divisor);
        // Set-up from AN_108: clock divide-by-5, adaptive and three-phase clocking, loopback
        // off, the divisor, the pins (TMS high, TCK low), then 0xAA, which must come back
        // as a bad command, and a flush.
        const Bytes arrow{0x8A, 0x97, 0x8D, 0x85, 0x86, 0x04, 0x00, 0x80, 0x08, 0x0B, 0xAA, 0x87};
        const Bytes iii{0x8A, 0x97, 0x8D, 0x85, 0x86, 0x00, 0x00, 0x80, 0x08, 0x3B, 0x82, 0x58, 0xB0, 0xAA, 0x87};
        const Bytes& setup = c.kind == Kind::Arrow ? arrow : iii;
        const Bytes got = cable.Received();
        EXPECT_TRUE(got.size() > setup.size() && std::equal(setup.begin(), setup.end(), got.begin()));
        EXPECT_EQ(cable.BadCommands(), 1u);
        // Channel A (index 1): the mode reset, then MPSSE mode (2) with the outputs as mask.
        const auto requests = cable.Requests();
        const FakeUsbBlaster::Request reset{0x0B, 0x0000, 1}, mpsse{0x0B, static_cast<std::uint16_t>(0x0200 | setup[9]), 1};
        const auto at = std::find(requests.begin(), requests.end(), reset);
        EXPECT_TRUE(at != requests.end() && std::find(at, requests.end(), mpsse) != requests.end());
    }
    FakeFt2232h cable(Kind::Arrow);
    SetCableBackend(std::make_shared<MpsseFtdiCable>(kArrowUsbBlaster));
    FT_HANDLE h = nullptr;
    ASSERT_EQ(FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    EXPECT_EQ(CableName(h), "Arrow USB Blaster (serial AR4711)");
    FT_Close(h);
    SetCableBackend(nullptr);
}

// Asked for by name, and found by the default search.
TEST_F(EmulatedCable, Ft2232hScan) {
    FakeFt2232h cable(Kind::Arrow);
    const CliRun r = Cli({"scan", "--cable", "arrow-usb-blaster"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("device 1: 0x020F30DD"), std::string::npos) << r.out;
    std::ostringstream out, err;
    CliEnvironment env;
    env.usbBlaster = std::make_shared<CableSearch>(UsbBlasterCandidates());
    EXPECT_EQ(RunCli({"scan"}, out, err, env), 0) << err.str();
    EXPECT_EQ(out.str().rfind("cable: Arrow USB Blaster (serial AR4711)\n", 0), 0u) << out.str();
    EXPECT_NE(r.out.find("the design is ready for uploads"), std::string::npos) << r.out;
    EXPECT_EQ(cable.TapNow(), TapState::RunTestIdle);
}

// A transfer that fails halfway while the cable stays, leaving the chip inside a
// command: one "write err", and the recovery walk reaches the TAP through a chip whose
// MPSSE mode was started afresh.
TEST_F(EmulatedCable, Ft2232hFailedTransferSweep) {
    std::vector<std::size_t> sizes;
    {
        FakeFt2232h cable(Kind::Arrow);
        ASSERT_EQ(Play(test::DataFile("db_apu.nsf"), {"--cable", "arrow-usb-blaster"}).code, 0);
        sizes = cable.TransferSizes();
    }
    ASSERT_GT(sizes.size(), 10u);
    for (std::size_t t = 1; t < sizes.size(); ++t) {  // transfer 0 is the open's set-up
        SCOPED_TRACE(t);
        FakeFt2232h cable(Kind::Arrow);
        cable.FailTransfer(t, sizes[t] / 2);
        const CliRun r = Play(test::DataFile("db_apu.nsf"), {"--cable", "arrow-usb-blaster"});
        EXPECT_EQ(r.code, 4);
        EXPECT_EQ(r.err, kWriteErrLines);
        EXPECT_EQ(cable.TapNow(), TapState::RunTestIdle);
    }
}

TEST_F(EmulatedCable, Ft2232hUnpluggedDuringTransfer) {
    for (std::size_t from : {std::size_t{1}, std::size_t{4}, std::size_t{12}}) {
        SCOPED_TRACE(from);
        FakeFt2232h cable(Kind::BlasterIii);
        cable.VanishFrom(from);
        const CliRun r = Play(test::DataFile("db_apu.nsf"), {"--cable", "usb-blaster-iii"});
        EXPECT_EQ(r.code, 4);
        EXPECT_EQ(r.err, kWriteErrLines);
        cable.Remove();
        const CliRun again = Play(test::DataFile("db_apu.nsf"), {"--cable", "usb-blaster-iii"});
        EXPECT_EQ(again.code, 3);
        EXPECT_NE(again.err.find("No USB-Blaster III found: the cable is not plugged in"), std::string::npos) << again.err;
    }
}

TEST_F(EmulatedCable, Ft2232hOpenFailuresSayWhy) {
    struct Case {
        FakeUsbBlaster::Plug plug;
        bool neverMpsse;
        const char* cable;
        const char* reason;
    };
    const Case cases[] = {
        {FakeUsbBlaster::Plug::Absent, false, "arrow-usb-blaster", "No Arrow USB Blaster found"},
        {FakeUsbBlaster::Plug::Present, false, "arrow-usb-blaster:XY0001", "(none with serial XY0001)"},
        {FakeUsbBlaster::Plug::Busy, false, "arrow-usb-blaster", "The Arrow USB Blaster is busy"},
        {FakeUsbBlaster::Plug::CannotOpen, false, "arrow-usb-blaster", "The Arrow USB Blaster cannot be opened"},
        {FakeUsbBlaster::Plug::Present, true, "arrow-usb-blaster", "not in MPSSE mode"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        FakeFt2232h cable(Kind::Arrow, c.plug, c.neverMpsse);
        const CliRun r = Play(test::DataFile("db_apu.nsf"), {"--cable", c.cable});
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(r.err.rfind("FPGA board is not connected.\n", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_EQ(cable.TapClocks(), 0u);
    }
}

// A USB-Blaster III driven as if it were an Arrow USB Blaster leaves its level
// shifters off: nothing reaches the board, and the check says it is not connected.
TEST_F(EmulatedCable, Ft2232hEnablesNotDriven) {
    FakeFt2232h cable(Kind::BlasterIii);
    MpsseCableModel withoutEnables = kUsbBlasterIii;
    withoutEnables.pins = kArrowUsbBlaster.pins;
    std::ostringstream out, err;
    CliEnvironment env;
    env.usbBlaster = std::make_shared<MpsseFtdiCable>(withoutEnables);
    EXPECT_EQ(RunCli({"play", test::DataFile("db_apu.nsf")}, out, err, env), 3);
    EXPECT_EQ(err.str(), std::string("FPGA board is not connected.\n") + kReasonNoDevice + "\n");
    EXPECT_EQ(cable.TapClocks(), 0u);
}


// The USB-Blaster II through the real libusb, found by the same search as
// --cable usb-blaster: no USB-Blaster on the bus, so the second candidate opens.
namespace usb2 {

using test::FakeUsbBlaster2;

// A made-up firmware: three bytes of program RAM, two of scratch RAM.
constexpr char kFirmware[] = ":0300000002000FEC\n:02E00000A1B2CB\n:00000001FF\n";
const std::vector<FakeUsbBlaster2::Load> kFirmwareLoads = {
    {0xE600, {0x01}}, {0x0000, {0x02, 0x00, 0x0F}}, {0xE000, {0xA1, 0xB2}}, {0xE600, {0x00}}};

struct Bench {
    test::TempDir home;  // no Quartus installed here
    std::string firmware = home.Write("blaster_6810.hex", Bytes(kFirmware, kFirmware + sizeof kFirmware - 1));

    CliRun Run(std::vector<std::string> args) const {
        UsbBlaster2Options options;
        options.writeTimeoutMs = options.readTimeoutMs = kTimeoutMs;
        options.comeBackMs = 400;
        options.pollMs = 20;
        options.roots = FirmwareRoots{"", "", home.path(), home.path()};
        std::vector<std::shared_ptr<CableCandidate>> candidates = {
            std::make_shared<UsbBlasterCable>(RealFtdiApi(), kTimeoutMs, kTimeoutMs),
            std::make_shared<UsbBlaster2Cable>(options)};
        std::ostringstream out, err;
        CliEnvironment env;
        env.usbBlaster = std::make_shared<CableSearch>(std::move(candidates));
        CliRun r;
        r.code = RunCli(args, out, err, env);
        r.out = out.str();
        r.err = err.str();
        return r;
    }
};

// The check's two reads each follow a 0x5F; the upload's bytes are the USB-Blaster's.
Bytes WithFlushes(const Bytes& upload) {
    Bytes b = test::kChainRead;
    b.push_back(0x5F);
    b.insert(b.end(), test::kHubHead.begin(), test::kHubHead.end());
    b.push_back(0x5F);
    return Concat(b, upload);
}

TEST_F(EmulatedCable, Blaster2LoadsItsFirmwareThenUploads) {
    for (const auto& mode : kModes) {
        SCOPED_TRACE(mode.empty() ? "" : "--packed");
        Bench bench;
        FakeUsbBlaster2 cable;
        std::vector<std::string> args = {"play", test::DataFile("db_apu.nsf"), "--firmware", bench.firmware};
        args.insert(args.end(), mode.begin(), mode.end());
        const CliRun r = bench.Run(args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "tunlet-cli: Loading the USB-Blaster II's firmware from " + bench.firmware +
                             "...\ntunlet-cli: Waiting for the USB-Blaster II to start with its firmware...\n");
        EXPECT_EQ(cable.Loads(), kFirmwareLoads);
        const Bytes dump = Expected(test::DataFile("db_apu.nsf"), mode);
        const Bytes got = cable.Received();
        EXPECT_TRUE(got == WithFlushes(dump));
        EXPECT_EQ(cable.Flushes(), 2u);
        // What the TAP saw: the stream without the two 0x5F the firmware took.
        Bytes tapBytes = got;
        if (tapBytes.size() > kBoardCheckCableBytes + 2) {
            tapBytes.erase(tapBytes.begin() + static_cast<std::ptrdiff_t>(kBoardCheckCableBytes + 1));
            tapBytes.erase(tapBytes.begin() + static_cast<std::ptrdiff_t>(kChainReadCableBytes));
        }
        const TapDecoder tap = AtTap(tapBytes);
        EXPECT_EQ(tap.state(), TapState::RunTestIdle);
        EXPECT_FALSE(tap.outputEnable());
        EXPECT_TRUE(tap.user0() == AtTap(Concat(test::kBoardCheck, dump)).user0());
        // The check's four writes, then whole transfers of whole 512-byte packets.
        const std::vector<std::size_t> sizes = cable.TransferSizes();
        ASSERT_GT(sizes.size(), 4u);
        if (!mode.empty()) {
            for (std::size_t i = 4; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], kUsbTransferBytes);
        }
    }
}

TEST_F(EmulatedCable, Blaster2FailuresSayWhy) {
    enum Knob { None, StayAway, Busy, Silent };
    struct Case {
        const char* label;
        FakeUsbBlaster2::Start start;
        Knob knob;
        bool giveFirmware;
        const char* firmwareText;  // null: the good one
        std::vector<std::string> reasonParts;
        std::size_t loads;
    };
    const Case cases[] = {
        {"no firmware anywhere", FakeUsbBlaster2::Start::Unloaded, None, false, nullptr,
         {"needs its firmware, blaster_6810.hex", "Tunlet looked in $QUARTUS_ROOTDIR/linux64 (not set)",
          "/opt/altera*/*/quartus/linux64", "tunlet-cli --firmware PATH"}, 0},
        {"damaged firmware", FakeUsbBlaster2::Start::Unloaded, None, true, ":0300000002000FEC\n:02E00000A1B2CC\n",
         {"is damaged: line 2: the checksum does not match"}, 0},
        {"never comes back", FakeUsbBlaster2::Start::Unloaded, StayAway, true, nullptr,
         {"did not come back after its firmware was loaded"}, kFirmwareLoads.size()},
        {"busy", FakeUsbBlaster2::Start::Started, Busy, false, nullptr, {"busy", "jtagd"}, 0},
        {"silent firmware", FakeUsbBlaster2::Start::Started, Silent, false, nullptr, {"firmware does not answer"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bench bench;
        FakeUsbBlaster2 cable(c.start);
        if (c.knob == StayAway) cable.StayAway();
        if (c.knob == Busy) cable.Busy();
        if (c.knob == Silent) cable.SilentVersion();
        std::vector<std::string> args = {"play", test::DataFile("db_apu.nsf")};
        if (c.giveFirmware) {
            const std::string text = c.firmwareText != nullptr ? c.firmwareText : kFirmware;
            args.insert(args.end(), {"--firmware", bench.home.Write("fw.hex", Bytes(text.begin(), text.end()))});
        }
        const CliRun r = bench.Run(args);
        EXPECT_EQ(r.code, 3);
        const std::string box = "FPGA board is not connected.\n";
        ASSERT_NE(r.err.find(box), std::string::npos) << r.err;
        const std::string reason = r.err.substr(r.err.find(box));
        for (const std::string& part : c.reasonParts) EXPECT_NE(reason.find(part), std::string::npos) << reason;
        EXPECT_EQ(cable.Loads().size(), c.loads);
        EXPECT_TRUE(cable.Received().empty());
    }
}

TEST_F(EmulatedCable, Blaster2UnpluggedDuringTransfer) {
    // At the check's first 0x5F, in the preamble, in a block: one reason each.
    struct Case {
        std::size_t from;
        int code;
        std::string err;
    };
    const Case cases[] = {
        {1, 3, "FPGA board is not connected.\nReading from the cable failed.\n"},
        {6, 4, kWriteErrLines},
        {16, 4, kWriteErrLines},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from);
        Bench bench;
        FakeUsbBlaster2 cable(FakeUsbBlaster2::Start::Started);
        cable.VanishFrom(c.from);
        const CliRun r = bench.Run({"play", test::DataFile("db_apu.nsf")});
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.err, c.err);
    }
}

TEST_F(EmulatedCable, Blaster2ScanNamesTheCableAndSerialPicksIt) {
    Bench bench;
    FakeUsbBlaster2 cable(FakeUsbBlaster2::Start::Started);
    const CliRun r = bench.Run({"scan"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("cable: USB-Blaster II (serial 91d28408)\ndevice 1: 0x020F30DD", 0), 0u) << r.out;
    EXPECT_EQ(bench.Run({"scan", "--cable", "usb-blaster:91d28408"}).code, 0);
    const CliRun other = bench.Run({"scan", "--cable", "usb-blaster:12345678"});
    EXPECT_EQ(other.code, 3);
    EXPECT_NE(other.err.find("No cable with serial number 12345678 is plugged in (Tunlet sees USB-Blaster II "
                             "(serial 91d28408))"),
              std::string::npos)
        << other.err;
}

// The same search finds a USB-Blaster first, through libftdi's listing.
TEST_F(EmulatedCable, SearchFindsTheUsbBlaster) {
    Bench bench;
    FakeUsbBlaster cable;
    const CliRun r = bench.Run({"scan"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("cable: USB-Blaster\ndevice 1: 0x020F30DD", 0), 0u) << r.out;
}

}  // namespace usb2

}  // namespace
}  // namespace tunlet
