#include <gtest/gtest.h>

#include <string>

#include "app/LoadFile.h"
#include "app/MakeCrLf.h"
#include "tests/TestFiles.h"

namespace tunlet {
namespace {

using test::Bytes;
using test::TempDir;

TEST(MakeCrLf, Table) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"A\nB", "A\r\nB"},
        {"A\r\nB", "A\r\nB"},
        {"\n\n", "\r\n\r\n"},
        {"A\rB", "A\rB"},
        {"", ""},
        {"\n", "\r\n"},
        {"\r\n\n\r", "\r\n\r\n\r"},
        {"x\n", "x\r\n"},
        {"\r\r\n", "\r\r\n"},
    };
    for (const auto& c : cases) {
        std::string s = c.in;
        MakeCrLf(s);
        EXPECT_EQ(s, c.out) << testing::PrintToString(c.in);
    }
}

struct Loader {
    NsfTune tune;
    std::unique_ptr<NesRom> rom;
    Loader() { tune.Init(); }
    LoadOutcome Load(const std::string& path) { return LoadFile(path.c_str(), tune, rom); }
};

TEST(LoadFile, TuneSizeIsRaisedTo32768) {
    TempDir dir;
    struct Case {
        std::size_t size;
        std::int32_t expected;
    };
    const Case cases[] = {{1000, 32768}, {32768, 32768}, {40000, 40000}, {128, 32768}};
    for (const auto& c : cases) {
        Loader l;
        const auto out = l.Load(dir.Write("t.nsf", test::MakeNsf({}, c.size - 128)));
        ASSERT_EQ(out.kind, LoadKind::Tune);
        EXPECT_EQ(l.tune.nFileSize, c.expected);
        EXPECT_EQ(l.rom, nullptr);
    }
}

TEST(LoadFile, TuneBeforeRom) {
    // A tune whose name ends in .nes is still a tune.
    TempDir dir;
    Loader l;
    const auto out = l.Load(dir.Write("tune.nes", test::MakeNsf({})));
    EXPECT_EQ(out.kind, LoadKind::Tune);
    EXPECT_EQ(out.text.rfind("SongName : Song\n", 0), 0u);
}

TEST(LoadFile, RomThenTuneReleasesRom) {
    TempDir dir;
    Loader l;
    auto out = l.Load(test::DataFile("db_apu.nes"));
    ASSERT_EQ(out.kind, LoadKind::Rom);
    ASSERT_NE(l.rom, nullptr);
    EXPECT_EQ(out.text.rfind("n16kRomBanks\t1\n", 0), 0u);
    out = l.Load(test::DataFile("db_apu.nsf"));
    EXPECT_EQ(out.kind, LoadKind::Tune);
    EXPECT_EQ(l.rom, nullptr);
}

TEST(LoadFile, FailuresKeepNothing) {
    TempDir dir;
    Bytes extra = test::MakeNes(1, 1);
    extra.push_back(1);
    Bytes cut = test::MakeNes(1, 1);
    cut.resize(cut.size() - 1);
    struct Case {
        std::string path;
        LoadKind kind;
        std::string text;
    };
    const Case cases[] = {
        {dir.Write("extra.nes", extra), LoadKind::Damaged, "EOF error"},
        {dir.Write("cut.nes", cut), LoadKind::Damaged, "rom read error"},
        {dir.path() + "/missing.nsf", LoadKind::Unknown,
         "Not an NSF tune or iNES ROM: the file does not exist or cannot be read."},
        {dir.Write("text.txt", Bytes(300, 'a')), LoadKind::Unknown,
         "Not an NSF tune or iNES ROM: it has neither an NESM nor an NSFE header, and its name does not contain .nes."},
        {dir.Write("text.nes", Bytes(300, 'a')), LoadKind::Unknown,
         "Not an NSF tune or iNES ROM: it has none of the NESM, NSFE and NES headers."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        Loader l;
        ASSERT_EQ(l.Load(test::DataFile("db_apu.nes")).kind, LoadKind::Rom);
        const auto out = l.Load(c.path);
        EXPECT_EQ(out.kind, c.kind);
        EXPECT_EQ(out.text, c.text);
        EXPECT_EQ(l.rom, nullptr);
        EXPECT_EQ(l.tune.fValid, 0);
    }
}

}  // namespace
}  // namespace tunlet
