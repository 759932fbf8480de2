// The cable through FTD2XX.dll, loaded at run time: with a working library the board
// check reads the chain through it and the upload goes through it byte for byte; a
// board that is off is reported; a missing library or one without a call is an open
// failure that says which.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "cable/CableChoice.h"
#include "cable/Ftd2xxCable.h"
#include "cable/Ftd2xxMpsseCable.h"
#include "cable/JtagChain.h"
#include "cable/TapDecoder.h"
#include "cli/Cli.h"
#include "media/WideText.h"
#include "link/ChainScan.h"
#include "tests/LinkTestSupport.h"
#include "tests/TestFiles.h"

namespace tunlet {
namespace {

// A DLL built beside this test program.
std::string Beside(const char* name) {
    wchar_t self[MAX_PATH];
    const ::DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self, n);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    return Narrow(dir) + name;
}

struct PlayRun {
    int code;
    std::string err;
};

PlayRun Play(std::shared_ptr<CableBackend> cable, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"play", test::DataFile("db_apu.nsf")};
    args.insert(args.end(), extra.begin(), extra.end());
    std::ostringstream out, err;
    CliEnvironment env;
    env.usbBlaster = std::move(cable);
    const int code = RunCli(args, out, err, env);
    return {code, err.str()};
}

// Both streams; packed, the same gathered writes of whole USB transfers as on Linux
// (the DLL cuts them into its own transfers).
TEST(Ftd2xxCable, UploadGoesThroughTheLibrary) {
    for (const std::vector<std::string>& mode : {std::vector<std::string>{}, std::vector<std::string>{"--packed"}}) {
        SCOPED_TRACE(mode.empty() ? "default" : "packed");
        test::TempDir dir;
        const std::string out = dir.path() + "/cable.bin", dump = dir.path() + "/dump.bin";
        ::_putenv_s("FTD2XX_STANDIN_OUT", out.c_str());
        const PlayRun r = Play(std::make_shared<Ftd2xxCable>(Beside("ftd2xx_standin.dll")), mode);
        ::_putenv_s("FTD2XX_STANDIN_OUT", "");
        EXPECT_EQ(r.code, 0) << r.err;
        std::vector<std::string> toDump = {"--cable", "dump:" + dump};
        toDump.insert(toDump.end(), mode.begin(), mode.end());
        ASSERT_EQ(Play(nullptr, toDump).code, 0);
        // The board check, then the upload exactly as the dump holds it.
        test::Bytes expected = test::kBoardCheck;
        const test::Bytes upload = test::ReadAll(dump);
        expected.insert(expected.end(), upload.begin(), upload.end());
        if (mode.empty()) {
            EXPECT_EQ(upload.size(), 62 + 2 * (2 + 128 + 8 * 4096 + 4) + 6u);
        }
        EXPECT_TRUE(test::ReadAll(out) == expected);
    }
}

// A SoC board whose debug port sits between the cable's TDI and the FPGA: the FPGA's
// design takes the stream it takes alone, one captured 0 bit later.
TEST(Ftd2xxCable, SocBoardThroughTheLibrary) {
    test::TempDir dir;
    const std::string out = dir.path() + "/cable.bin", dump = dir.path() + "/dump.bin";
    ::_putenv_s("FTD2XX_STANDIN_OUT", out.c_str());
    ::_putenv_s("FTD2XX_STANDIN_BOARD", "soc");
    const PlayRun r = Play(std::make_shared<Ftd2xxCable>(Beside("ftd2xx_standin.dll")));
    ::_putenv_s("FTD2XX_STANDIN_BOARD", "");
    ::_putenv_s("FTD2XX_STANDIN_OUT", "");
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(Play(nullptr, {"--cable", "dump:" + dump}).code, 0);
    const test::Bytes soc = test::ReadAll(out), alone = test::ReadAll(dump);
    TapDecoder socTap{JtagChain({ChainDevice{0x02D020DD, 10, VirtualHub{}}, ChainDevice{0x4BA00477, 4, std::nullopt}})};
    socTap.Feed(soc.data(), soc.size());
    TapDecoder aloneTap;
    aloneTap.Feed(alone.data(), alone.size());
    EXPECT_GT(aloneTap.chain().Record(0).user0Bits, 32902u * 8);
    EXPECT_EQ(test::User0BitsDiffer(socTap.chain().Record(0), aloneTap.chain().Record(0), 1), 0u);
    EXPECT_EQ(socTap.chain().Record(1).instructions.back(), 0xF);  // the debug port in BYPASS
}

TEST(Ftd2xxCable, BoardThatIsOff) {
    test::TempDir dir;
    const std::string out = dir.path() + "/cable.bin";
    struct Case {
        const char* board;
        const char* reason;
    };
    const Case cases[] = {{"off-high", "no JTAG device does"}, {"off-low", "TDO is stuck low"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.board);
        ::_putenv_s("FTD2XX_STANDIN_OUT", out.c_str());
        ::_putenv_s("FTD2XX_STANDIN_BOARD", c.board);
        const PlayRun r = Play(std::make_shared<Ftd2xxCable>(Beside("ftd2xx_standin.dll")));
        ::_putenv_s("FTD2XX_STANDIN_BOARD", "");
        ::_putenv_s("FTD2XX_STANDIN_OUT", "");
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(r.err.rfind("FPGA board is not connected.\n", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_TRUE(test::ReadAll(out) == test::kChainRead);  // nothing of the upload
    }
}

TEST(Ftd2xxCable, OpenFailuresSayWhy) {
    struct Case {
        std::string library;
        const char* reason;
    };
    const Case cases[] = {
        {"no-such-driver.dll", "The cable driver no-such-driver.dll is not installed"},
        {Beside("ftd2xx_nowrite.dll"), "lacks FT_Write"},
        {Beside("ftd2xx_noread.dll"), "lacks FT_Read"},
        {Beside("ftd2xx_standin.dll"), "not plugged in"},  // the library says: no cable
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.library);
        const PlayRun r = Play(std::make_shared<Ftd2xxCable>(c.library));
        EXPECT_EQ(r.code, 3);
        EXPECT_EQ(r.err.rfind("FPGA board is not connected.\n", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    }
}

// The library is looked for in the program's folder and System32 only: one left in the
// current folder or on PATH, where the user opens tunes from, is never loaded. A
// library that was missing is looked for again at each open, so a driver installed
// while the program runs is found without a restart.
TEST(Ftd2xxCable, LoadedFromTrustedFoldersOnlyAndFoundOnceInstalled) {
    test::TempDir dir;
    const std::wstring folder = Widen(dir.path());
    const std::wstring standIn = Widen(Beside("ftd2xx_standin.dll"));
    ASSERT_TRUE(::CopyFileW(standIn.c_str(), (folder + L"\\planted_ftd2xx.dll").c_str(), FALSE));
    wchar_t before[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, before);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ASSERT_TRUE(::SetCurrentDirectoryW(folder.c_str()));
    ::_putenv_s("PATH", (dir.path() + ";" + path).c_str());
    const PlayRun planted = Play(std::make_shared<Ftd2xxCable>("planted_ftd2xx.dll"));
    ::SetCurrentDirectoryW(before);
    ::_putenv_s("PATH", path.c_str());
    EXPECT_EQ(planted.code, 3);
    EXPECT_NE(planted.err.find("planted_ftd2xx.dll is not installed"), std::string::npos) << planted.err;

    const std::string later = dir.path() + "\\later_ftd2xx.dll";
    auto cable = std::make_shared<Ftd2xxCable>(later);
    EXPECT_NE(Play(cable).err.find("is not installed"), std::string::npos);
    ASSERT_TRUE(::CopyFileW(standIn.c_str(), Widen(later).c_str(), FALSE));
    const PlayRun installed = Play(cable);
    EXPECT_EQ(installed.code, 3);
    EXPECT_NE(installed.err.find("not plugged in"), std::string::npos) << installed.err;
    EXPECT_NE(installed.err.find("USB-Blaster II, as on the SoC boards, is not supported on Windows yet"), std::string::npos);
}

// The FT2232H cables through the same library in MPSSE mode: the stand-in's chip runs
// the commands into its TAP, which gets the USER0 bytes the USB-Blaster would give it.
struct StandInTapNow {
    TapState state;
    test::Bytes user0;
    unsigned long long clocks;
};
StandInTapNow StandInTap() {
    using Fn = int (*)(unsigned char*, ::DWORD, ::DWORD*, unsigned long long*);
    const HMODULE module = ::GetModuleHandleW(Widen(Beside("ftd2xx_standin.dll")).c_str());
    const auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, "StandInTap")));
    StandInTapNow now{};
    if (fn == nullptr) return now;
    now.user0.resize(1 << 16);
    ::DWORD got = 0;
    now.state = static_cast<TapState>(fn(now.user0.data(), static_cast<::DWORD>(now.user0.size()), &got, &now.clocks));
    now.user0.resize(got);
    return now;
}

TEST(Ftd2xxMpsseCable, UploadReachesUser0AsThroughTheUsbBlaster) {
    test::TempDir dir;
    const std::string dump = dir.path() + "/dump.bin";
    ASSERT_EQ(Play(nullptr, {"--cable", "dump:" + dump}).code, 0);
    TapDecoder expected;
    const test::Bytes bytes = test::ReadAll(dump);
    expected.Feed(bytes.data(), bytes.size());
    ::_putenv_s("FTD2XX_STANDIN_FT2232H", "Arrow USB Blaster");
    for (const char* serial : {"", "AR4711"}) {
        SCOPED_TRACE(serial);
        const PlayRun r = Play(std::make_shared<Ftd2xxMpsseCable>(kArrowUsbBlaster, serial, mpsse::kDefaultTckKhz,
                                                                  Beside("ftd2xx_standin.dll")));
        EXPECT_EQ(r.code, 0) << r.err;
        const StandInTapNow tap = StandInTap();
        EXPECT_EQ(tap.state, TapState::RunTestIdle);
        EXPECT_TRUE(tap.user0 == expected.user0());
        EXPECT_GT(tap.user0.size(), 1000u);
    }
    SetCableBackend(std::make_shared<Ftd2xxMpsseCable>(kArrowUsbBlaster, "", mpsse::kDefaultTckKhz,
                                                       Beside("ftd2xx_standin.dll")));
    FT_HANDLE h = nullptr;
    ASSERT_EQ(FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    EXPECT_EQ(CableName(h), "Arrow USB Blaster (serial AR4711)");
    FT_Close(h);
    SetCableBackend(nullptr);
    const PlayRun other = Play(std::make_shared<Ftd2xxMpsseCable>(kArrowUsbBlaster, "XY0001", mpsse::kDefaultTckKhz,
                                                                  Beside("ftd2xx_standin.dll")));
    EXPECT_EQ(other.code, 3);
    EXPECT_NE(other.err.find("No Arrow USB Blaster found: the cable is not plugged in (none with serial XY0001)"),
              std::string::npos) << other.err;
    // The default finds it when no USB-Blaster is there.
    SetCableBackend(Ftd2xxCables(Beside("ftd2xx_standin.dll")));
    ASSERT_EQ(FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
    EXPECT_EQ(CableName(h), "Arrow USB Blaster (serial AR4711)");
    FT_Close(h);
    SetCableBackend(nullptr);
    ::_putenv_s("FTD2XX_STANDIN_FT2232H", "");
}

TEST(Ftd2xxMpsseCable, UnpluggedDuringTransfer) {
    ::_putenv_s("FTD2XX_STANDIN_FT2232H", "Arrow USB Blaster");
    ::_putenv_s("FTD2XX_STANDIN_UNPLUG_AT", "4");
    const PlayRun r = Play(std::make_shared<Ftd2xxMpsseCable>(kArrowUsbBlaster, "", mpsse::kDefaultTckKhz,
                                                              Beside("ftd2xx_standin.dll")));
    ::_putenv_s("FTD2XX_STANDIN_UNPLUG_AT", "");
    ::_putenv_s("FTD2XX_STANDIN_FT2232H", "");
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.err, "write err\nThe cable stopped taking data: was the USB-Blaster unplugged during the transfer?\n");
}

// A USB-Blaster III driven as if it were an Arrow USB Blaster leaves its level
// shifters off: nothing reaches the board.
TEST(Ftd2xxMpsseCable, EnablesNotDriven) {
    MpsseCableModel withoutEnables = kUsbBlasterIii;
    withoutEnables.pins = kArrowUsbBlaster.pins;
    ::_putenv_s("FTD2XX_STANDIN_FT2232H", "USB-Blaster III");
    const PlayRun r = Play(std::make_shared<Ftd2xxMpsseCable>(withoutEnables, "", mpsse::kDefaultTckKhz,
                                                              Beside("ftd2xx_standin.dll")));
    ::_putenv_s("FTD2XX_STANDIN_FT2232H", "");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, std::string("FPGA board is not connected.\n") + kReasonNoDevice + "\n");
    EXPECT_EQ(StandInTap().clocks, 0u);
}

}  // namespace
}  // namespace tunlet
