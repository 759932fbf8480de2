#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "tests/TestFiles.h"

namespace tunlet {
namespace {

struct CliRun {
    int code;
    std::string out, err;
};

CliRun Cli(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int code = RunCli(args, out, err);
    return {code, out.str(), err.str()};
}

TEST(CliInfo, PrintsSummaryWithLfAndNewline) {
    const CliRun r = Cli({"info", test::DataFile("db_apu.nes")});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "n16kRomBanks\t1\nn8kVRomBanks\t0\nfMirroringType\t0\tfor horizontal mirroring\n"
              "fBatteryBackedRAM\t0\nf512ByteTrainer\t0\nf4ScreenVRamLayout\t0\nnRomMapperType\t0\n\n");
    const CliRun t = Cli({"info", test::DataFile("clip_5b.nsf")});
    EXPECT_EQ(t.code, 0);
    EXPECT_EQ(t.out.substr(t.out.size() - 21), "ExtraSound: 20  SN5B\n");
    EXPECT_EQ(t.out.find('\r'), std::string::npos);
}

TEST(CliInfo, ExitCodes) {
    test::TempDir dir;
    test::Bytes eof = test::MakeNes(1, 0);
    eof.push_back(9);
    const std::string damaged = dir.Write("eof.nes", eof);
    const std::string notMedia = dir.Write("notes.txt", test::Bytes(10, 'x'));
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string out, errStart;
    };
    const Case cases[] = {
        {{"info", damaged}, 1, "", "EOF error\n"},
        {{"info", notMedia}, 1, "", "tunlet-cli: " + notMedia + ": Not an NSF tune or iNES ROM: it has no NESM"},
        {{"info", dir.path() + "/none.nsf"}, 1, "", "tunlet-cli: " + dir.path() + "/none.nsf: Not an NSF"},
        {{}, 2, "", "tunlet-cli: no command given\nusage:"},
        {{"info"}, 2, "", "tunlet-cli: info takes exactly one FILE\nusage:"},
        {{"info", "a", "b"}, 2, "", "tunlet-cli: info takes"},
        {{"frobnicate"}, 2, "", "tunlet-cli: unknown command 'frobnicate'"},
        {{"--version"}, 0, "tunlet-cli 1.0.0.1\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const CliRun r = Cli(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err.rfind(c.errStart, 0), 0u) << r.err;
    }
    const CliRun help = Cli({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("info FILE"), std::string::npos);
}

}  // namespace
}  // namespace tunlet
