// The USB-Blaster back end end to end: the real libftdi and libusb against a cable
// emulated at the usbdevfs level, driven as a user drives tunlet-cli.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/Cli.h"
#include "link/BlasterJtag.h"
#include "cable/TapDecoder.h"
#include "cable/UsbBlasterCable.h"
#include "tests/FakeUsbBlaster.h"
#include "tests/TestFiles.h"

namespace tunlet {
namespace {

using test::Bytes;
using test::FakeUsbBlaster;

// Short, so that a transfer that never completes costs the suite little.
constexpr int kTimeoutMs = 150;

struct CliRun {
    int code = -1;
    std::string out, err;
};

CliRun Play(const std::string& file, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"play", file};
    args.insert(args.end(), extra.begin(), extra.end());
    std::ostringstream out, err;
    CliEnvironment env;
    env.usbBlaster = std::make_shared<UsbBlasterCable>(RealFtdiApi(), kTimeoutMs);
    CliRun r;
    r.code = RunCli(args, out, err, env);
    r.out = out.str();
    r.err = err.str();
    return r;
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
            EXPECT_TRUE(cable.Received() == Expected(test::DataFile(name), mode));
            const TapDecoder tap = AtTap(cable.Received());
            EXPECT_EQ(tap.state(), TapState::RunTestIdle);
            EXPECT_FALSE(tap.outputEnable());
        }
    }
}

TEST_F(EmulatedCable, SetUpRequests) {
    FakeUsbBlaster cable;
    ASSERT_EQ(Play(test::DataFile("db_apu.nsf"), {"--header-only"}).code, 0);
    // Reset, 9600 baud (libftdi's own), then ours: bit-bang off and a 2 ms latency timer.
    const std::vector<FakeUsbBlaster::Request> expected = {
        {0x00, 0x0000, 1}, {0x03, 0x4138, 0}, {0x0B, 0x0000, 1}, {0x09, 0x0002, 1}};
    EXPECT_EQ(cable.Requests(), expected);
    EXPECT_EQ(cable.Received().size(), 334u);
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
                EXPECT_EQ(r.err, "write err\n");
                const Bytes got = cable.Received();
                const TapDecoder tap = AtTap(got);
                EXPECT_EQ(tap.state(), TapState::RunTestIdle);
                EXPECT_FALSE(tap.outputEnable());
                ASSERT_GE(got.size(), kRecoverTapBytes);
                EXPECT_EQ(cable.Transfers(), t + 2);  // nothing after the failure but the recovery walk
                ++runs;
            }
        }
    }
    EXPECT_GT(runs, 40);
}

TEST_F(EmulatedCable, UnpluggedDuringTransfer) {
    // In the preamble, in a block, in the trailer.
    for (std::size_t from : {std::size_t{2}, std::size_t{14}, std::size_t{28}}) {
        SCOPED_TRACE(from);
        FakeUsbBlaster cable;
        cable.VanishFrom(from);
        const CliRun r = Play(test::DataFile("db_apu.nsf"));
        EXPECT_EQ(r.code, 4);
        EXPECT_EQ(r.err, "write err\n");
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
    EXPECT_EQ(r.err, "write err\n");
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

}  // namespace
}  // namespace tunlet
