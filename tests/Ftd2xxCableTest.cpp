// The cable through FTD2XX.dll, loaded at run time: with a working library the board
// check reads the chain through it and the upload goes through it byte for byte; a
// board that is off is reported; a missing library or one without a call is an open
// failure that says which.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "cable/Ftd2xxCable.h"
#include "cli/Cli.h"
#include "media/WideText.h"
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

}  // namespace
}  // namespace tunlet
