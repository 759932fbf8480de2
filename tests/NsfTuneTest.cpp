#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "media/NsfTune.h"
#include "tests/TestFiles.h"

namespace tunlet {
namespace {

using test::Bytes;
using test::MakeNsf;
using test::NsfSpec;
using test::TempDir;

std::string Summary(const NsfTune& t) {
    std::string s = "stale";
    t.Describe(s);
    return s;
}

NsfTune Fresh() {
    NsfTune t;
    t.Init();
    return t;
}

TEST(NsfTuneRead, RealTuneGivesExactSummary) {
    NsfTune t = Fresh();
    ASSERT_EQ(t.Read(test::DataFile("db_apu.nsf").c_str()), 0);
    EXPECT_EQ(t.fValid, 1);
    EXPECT_EQ(t.nFileSize, 459);
    EXPECT_STREQ(t.pszPath.get(), test::DataFile("db_apu.nsf").c_str());
    EXPECT_EQ(Summary(t),
              "SongName : db_apu test\n"
              "Artist   : Brad Smith\n"
              "Copyright: 2018 nes-audio-tests\n\n"
              "Songs: 1  StartSong: 1\n"
              "LoadAdrs: E000\n"
              "InitAdrs: E141\n"
              "PlayAdrs: E145\n\n"
              "Speed_NTSC: 40FF 16639\n"
              "Speed_PAL : 4E1D 19997\n"
              "NTSC tune\n\n"
              "BankInit: 00 00 00 00 00 00 00 00 \n"
              "ExtraSound: 00 ");
}

TEST(NsfTuneRead, VersionTwoTuneWithChip) {
    NsfTune t = Fresh();
    ASSERT_EQ(t.Read(test::DataFile("clip_5b.nsf").c_str()), 0);
    EXPECT_EQ(t.bExtraSound, 0x20);
    const std::string s = Summary(t);
    EXPECT_EQ(s.substr(s.rfind('\n') + 1), "ExtraSound: 20  SN5B");
    ASSERT_EQ(t.Read(test::DataFile("nsf2_saw_song.nsf").c_str()), 0);
    EXPECT_EQ(t.nFileSize, 8320);
}

struct FailCase {
    const char* label;
    Bytes bytes;  // empty: no file at all
    bool create;
};

TEST(NsfTuneRead, RejectsWhatIsNotATune) {
    Bytes lower = MakeNsf({});
    std::memcpy(lower.data(), "nesm", 4);
    Bytes wrongFifth = MakeNsf({});
    wrongFifth[4] = 0x1B;
    const FailCase cases[] = {
        {"lower-case magic", lower, true},
        {"fifth byte not 1A", wrongFifth, true},
        {"four bytes only", Bytes{'N', 'E', 'S', 'M'}, true},
        {"empty file", Bytes{}, true},
        {"iNES image", test::MakeNes(1, 0), true},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        NsfTune t = Fresh();
        const std::string path = dir.Write("x.nsf", c.bytes);
        EXPECT_EQ(t.Read(path.c_str()), -1);
        EXPECT_EQ(t.fValid, 0);
        EXPECT_STREQ(t.pszMessage, "no NESM");
        EXPECT_EQ(t.pszPath, nullptr);
    }
    NsfTune t = Fresh();
    EXPECT_EQ(t.Read((dir.path() + "/missing.nsf").c_str()), -1);
    EXPECT_STREQ(t.pszMessage, "no file exist");
}

TEST(NsfTuneRead, FailureKeepsEarlierRecord) {
    TempDir dir;
    NsfSpec spec;
    spec.songs = 9;
    const std::string good = dir.Write("good.nsf", MakeNsf(spec, 10));
    const std::string bad = dir.Write("bad.nsf", Bytes(200, 'x'));
    NsfTune t = Fresh();
    ASSERT_EQ(t.Read(good.c_str()), 0);
    EXPECT_EQ(t.Read(bad.c_str()), -1);
    EXPECT_EQ(t.fValid, 0);
    EXPECT_STREQ(t.pszPath.get(), good.c_str());
    EXPECT_EQ(t.nSongs, 9);
    // A later success keeps the failure text: fValid is what tells success.
    ASSERT_EQ(t.Read(good.c_str()), 0);
    EXPECT_STREQ(t.pszMessage, "no NESM");
    EXPECT_EQ(t.fValid, 1);
}

TEST(NsfTuneRead, SecondReadReplacesPath) {
    TempDir dir;
    const std::string a = dir.Write("a.nsf", MakeNsf({}));
    const std::string b = dir.Write("a-much-longer-name.nsf", MakeNsf({}));
    NsfTune t = Fresh();
    ASSERT_EQ(t.Read(a.c_str()), 0);
    ASSERT_EQ(t.Read(b.c_str()), 0);
    EXPECT_STREQ(t.pszPath.get(), b.c_str());
    t.Release();
    EXPECT_EQ(t.pszPath, nullptr);
}

TEST(NsfTuneRead, ShortFileReadsMissingHeaderAsZero) {
    TempDir dir;
    Bytes b = MakeNsf({});
    b.resize(9);  // magic, version, songs, start song, one byte of the load address
    NsfTune t = Fresh();
    std::memset(t.szArtist, 'z', sizeof t.szArtist);
    t.wSpeedPal = 0xFFFF;
    ASSERT_EQ(t.Read(dir.Write("short.nsf", b).c_str()), 0);
    EXPECT_EQ(t.nFileSize, 9);
    EXPECT_EQ(t.wLoadAdrs, 0x0000);
    EXPECT_STREQ(t.szArtist, "");
    EXPECT_EQ(t.wSpeedPal, 0);
    EXPECT_EQ(t.bExtraSound, 0);
}

TEST(NsfTuneDescribe, TextsAreCutAt31Bytes) {
    TempDir dir;
    NsfSpec spec;
    spec.name = std::string(32, 'N');
    spec.artist = "A\nB";
    spec.copyright = "";
    NsfTune t = Fresh();
    ASSERT_EQ(t.Read(dir.Write("t.nsf", MakeNsf(spec)).c_str()), 0);
    const std::string s = Summary(t);
    EXPECT_EQ(s.substr(0, 11 + 31 + 1), "SongName : " + std::string(31, 'N') + "\n");
    EXPECT_NE(s.find("Artist   : A\nB\nCopyright: \n\n"), std::string::npos);
}

struct LineCase {
    std::uint8_t value;
    const char* expected;
};

TEST(NsfTuneDescribe, VideoLine) {
    const LineCase cases[] = {
        {0x00, "NTSC tune\n\n"},          {0x01, "PAL tune\n\n"},
        {0x03, "NTSC/PAL dual tune\n\n"}, {0x02, "NTSC tune\n\n"},
        {0xFE, "NTSC tune\n\n"},          {0xFD, "PAL tune\n\n"},
    };
    for (const auto& c : cases) {
        NsfTune t = Fresh();
        t.bPalNtsc = c.value;
        SCOPED_TRACE(int{c.value});
        const std::string s = Summary(t);
        EXPECT_NE(s.find(std::string("\n") + c.expected + "BankInit: "), std::string::npos) << s;
    }
}

TEST(NsfTuneDescribe, ChipNames) {
    const LineCase cases[] = {
        {0x00, "ExtraSound: 00 "},
        {0x3F, "ExtraSound: 3F  VRC6 VRC7 FDS MMC5 N106 SN5B"},
        {0xC0, "ExtraSound: C0 "},
        {0x01, "ExtraSound: 01  VRC6"},
        {0x24, "ExtraSound: 24  FDS SN5B"},
        {0xFF, "ExtraSound: FF  VRC6 VRC7 FDS MMC5 N106 SN5B"},
    };
    for (const auto& c : cases) {
        NsfTune t = Fresh();
        t.bExtraSound = c.value;
        const std::string s = Summary(t);
        EXPECT_EQ(s.substr(s.rfind('\n') + 1), c.expected);
    }
}

TEST(NsfTuneDescribe, NumbersAndHex) {
    NsfTune t = Fresh();
    t.nSongs = 255;
    t.nStartSong = 0;
    t.wLoadAdrs = 0xabcd;
    t.wInitAdrs = 0x0001;
    t.wPlayAdrs = 0xFFFF;
    t.wSpeedNtsc = 26;
    t.wSpeedPal = 0xFFFF;
    const std::uint8_t bank[8] = {0, 1, 0x0a, 0xff, 0x10, 0x7f, 0x80, 0xc3};
    std::memcpy(t.bankInit, bank, 8);
    const std::string s = Summary(t);
    EXPECT_NE(s.find("\n\nSongs: 255  StartSong: 0\nLoadAdrs: ABCD\nInitAdrs: 0001\nPlayAdrs: FFFF\n\n"),
              std::string::npos);
    EXPECT_NE(s.find("Speed_NTSC: 001A 26\nSpeed_PAL : FFFF 65535\n"), std::string::npos);
    EXPECT_NE(s.find("BankInit: 00 01 0A FF 10 7F 80 C3 \n"), std::string::npos);
}

}  // namespace
}  // namespace tunlet
