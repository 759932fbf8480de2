#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "media/NsfTune.h"
#include "media/StdioFile.h"
#include "media/TextCoding.h"
#include "tests/TestFiles.h"

#ifdef _WIN32
#include <windows.h>

#include "media/WideText.h"
#else
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

#ifndef _WIN32
// What is not a regular file is refused by its type without being opened: opening a
// serial port resets the board behind it, a pipe's writer would wake up. The kernel
// reports every open of a watched path; a regular file shows the watch works.
TEST(NsfTuneRead, OnlyRegularFilesAreOpened) {
    TempDir dir;
    const std::string pipe = dir.path() + "/pipe.nsf", folder = dir.path() + "/folder.nsf";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const struct {
        std::string path;
        const char* message;
        bool opened;
    } cases[] = {
        {pipe, NsfTune::kNotRegular, false},
        {folder, NsfTune::kIsDirectory, false},
        {dir.Write("tune.nsf", MakeNsf({})), "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(::inotify_add_watch(watch, c.path.c_str(), IN_OPEN), 0);
        NsfTune t = Fresh();
        EXPECT_EQ(t.Read(c.path.c_str()), c.opened ? 0 : -1);
        EXPECT_STREQ(t.pszMessage, c.message);
        alignas(inotify_event) char events[4096];
        EXPECT_EQ(::read(watch, events, sizeof events) > 0, c.opened);
        ::close(watch);
    }
}
#else
// The stamp is the file's write time in FILETIME ticks, whole: in nanoseconds it would
// overflow 64 bits for every file written after 1893.
TEST(NsfTuneRead, StampIsTheWriteTimeInTicks) {
    TempDir dir;
    const std::string path = dir.Write("t.nsf", MakeNsf({}, 100));
    const std::uint64_t ticks = 134'100'000'000'000'000ull + 1234567;  // a day in 2026, to 100 ns
    {
        HANDLE h = ::CreateFileW(Widen(path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        const FILETIME time{static_cast<::DWORD>(ticks), static_cast<::DWORD>(ticks >> 32)};
        ASSERT_TRUE(::SetFileTime(h, nullptr, nullptr, &time));
        ::CloseHandle(h);
    }
    FileStamp byPath;
    ASSERT_EQ(StatFile(path.c_str(), &byPath), FileKind::Regular);
    EXPECT_EQ(byPath.mtime, static_cast<std::int64_t>(ticks));
    EXPECT_EQ(byPath.size, 228);
    NsfTune t = Fresh();
    ASSERT_EQ(t.Read(path.c_str()), 0);
    EXPECT_EQ(t.stamp, byPath);
}
#endif

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

// A file that ends inside its 128-byte header is no tune (sent, it would be 32 KiB
// of filler); the record keeps what it held.
TEST(NsfTuneRead, FileShorterThanItsHeaderIsNoTune) {
    TempDir dir;
    NsfSpec spec;
    spec.songs = 7;
    const std::string good = dir.Write("good.nsf", MakeNsf(spec));
    for (std::size_t size : {6, 127}) {
        Bytes cut = MakeNsf({});  // "NESM", 1A, version 1, ...
        cut.resize(size);
        NsfTune t = Fresh();
        ASSERT_EQ(t.Read(good.c_str()), 0);
        EXPECT_EQ(t.Read(dir.Write("short.nsf", cut).c_str()), -1);
        EXPECT_EQ(t.pszMessage, NsfTune::kShortHeader);
        EXPECT_EQ(t.strProblem, "the NSF header is cut short: " + std::to_string(size) + " of 128 bytes");
        EXPECT_EQ(t.fValid, 0);
        EXPECT_EQ(t.nSongs, 7);
    }
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

// Each text of the header is decoded on its own: a Shift-JIS title, a UTF-8 artist,
// a Windows-1252 copyright.
TEST(NsfTuneDescribe, EachTextInItsOwnEncoding) {
    TempDir dir;
    NsfSpec spec;
    spec.name = "\x83\x5C\x83\x8B";  // ソル in Shift-JIS
    spec.artist = "\xE4\xBD\x9C\xE8\x80\x85";  // 作者 in UTF-8
    spec.copyright = "\xA9 2026 Caf\xE9";  // © 2026 Café in Windows-1252
    NsfTune t = Fresh();
    ASSERT_EQ(t.Read(dir.Write("t.nsf", MakeNsf(spec)).c_str()), 0);
    EXPECT_STREQ(t.szSongName, "\x83\x5C\x83\x8B");  // the board gets the bytes
    EXPECT_EQ(Summary(t).rfind("SongName : \xE3\x82\xBD\xE3\x83\xAB\n"
                               "Artist   : \xE4\xBD\x9C\xE8\x80\x85\n"
                               "Copyright: \xC2\xA9 2026 Caf\xC3\xA9\n\n",
                               0),
              0u);
}

// The one decoding the summary, the window and the command line share.
TEST(TextCoding, DetectDecodeAndCut) {
    struct Case {
        std::string bytes;
        TextCoding coding;
        std::string utf8;
    };
    const Case cases[] = {
        {"\xE6\x9B\xB2", TextCoding::Utf8, "\xE6\x9B\xB2"},
        {"\x83\x5C\x95\x5C", TextCoding::ShiftJis, "\xE3\x82\xBD\xE8\xA1\xA8"},  // ソ表
        {"\xB1\xB2", TextCoding::ShiftJis, "\xEF\xBD\xB1\xEF\xBD\xB2"},            // half-width ｱｲ
        {"Caf\xE9,1", TextCoding::Windows1252, "Caf\xC3\xA9,1"},  // a comma is no second byte
        {"\x80\x9F\xFF", TextCoding::Windows1252, "\xE2\x82\xAC\xC5\xB8\xC3\xBF"},  // € Ÿ ÿ
        {"\xED\xA0\x80", TextCoding::Windows1252, "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},  // a surrogate
        // Real titles. Most Windows-1252 accents and quotes are Shift-JIS lead bytes.
        {"Pok\xC3\xA9mon \xE3\x83\xAD\xE3\x83\x83\xE3\x82\xAF", TextCoding::Utf8,
         "Pok\xC3\xA9mon \xE3\x83\xAD\xE3\x83\x83\xE3\x82\xAF"},                          // Pokémon ロック
        {"Don\x92t Stop Me Now", TextCoding::Windows1252, "Don\xE2\x80\x99t Stop Me Now"},  // not "Don稚"
        {"Pok\xE9mon", TextCoding::Windows1252, "Pok\xC3\xA9mon"},                          // not "Pok駑on"
        {"Se\xF1or", TextCoding::Windows1252, "Se\xC3\xB1or"},  // F1 6F is a private-use pair
        {"Cr\xE8me Br\xFBl\xE9" "e", TextCoding::Windows1252, "Cr\xC3\xA8me Br\xC3\xBBl\xC3\xA9" "e"},
        {"\xA9 1986 Capcom", TextCoding::Windows1252, "\xC2\xA9 1986 Capcom"},  // not a half-width kana
        // ドラゴンクエスト and 魔界村: every byte is Windows-1252 too ("ƒhƒ‰ƒS...", "–‚ŠE‘º").
        {"\x83\x68\x83\x89\x83\x53\x83\x93\x83\x4E\x83\x47\x83\x58\x83\x67", TextCoding::ShiftJis,
         "\xE3\x83\x89\xE3\x83\xA9\xE3\x82\xB4\xE3\x83\xB3\xE3\x82\xAF\xE3\x82\xA8\xE3\x82\xB9\xE3\x83\x88"},
        {"\x96\x82\x8A\x45\x91\xBA", TextCoding::ShiftJis, "\xE9\xAD\x94\xE7\x95\x8C\xE6\x9D\x91"},
        {"\x8B\xC8", TextCoding::ShiftJis, "\xE6\x9B\xB2"},  // 曲, one kanji on its own
        {"\xDB\xAF\xB8\xCF\xDD", TextCoding::ShiftJis,
         "\xEF\xBE\x9B\xEF\xBD\xAF\xEF\xBD\xB8\xEF\xBE\x8F\xEF\xBE\x9D"},  // ﾛｯｸﾏﾝ, not "Û¯¸ÏÝ"
        {"\x83\x8D\x83\x62\x83\x4E\x83\x7D\x83\x93\x32\x20\x44\x72\x2E\x83\x8F\x83\x43\x83\x8A\x81\x5B"
         "\x82\xCC\x93\xE4",
         TextCoding::ShiftJis,
         "\xE3\x83\xAD\xE3\x83\x83\xE3\x82\xAF\xE3\x83\x9E\xE3\x83\xB3\x32\x20\x44\x72\x2E\xE3\x83\xAF"
         "\xE3\x82\xA4\xE3\x83\xAA\xE3\x83\xBC\xE3\x81\xAE\xE8\xAC\x8E"},  // ロックマン2 Dr.ワイリーの謎
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_EQ(DetectCoding(c.bytes), c.coding);
        EXPECT_EQ(TextToUtf8(c.bytes), c.utf8);
    }
    EXPECT_EQ(TextToUtf8("\x83\x5C\x83", true), "\xE3\x82\xBD");  // cut to fit: the half character goes
    EXPECT_EQ(CharBoundary("\xE6\x9B\xB2\xE6\x9B\xB2", 5, TextCoding::Utf8), 3u);
    EXPECT_EQ(CharBoundary("a\x83\x5C\x83\x5C", 4, TextCoding::ShiftJis), 3u);
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

namespace tunlet {
namespace {

using test::Chunk;
using test::MakeNsfe;
using test::NsfeInfo;
using test::Strings;

using test::Le32s;

NsfSpec RichSpec() {
    NsfSpec spec;
    spec.songs = 3;
    spec.startSong = 2;
    spec.load = 0x8123;
    spec.init = 0x8456;
    spec.play = 0x8789;
    spec.name = "Nsfe Song";
    spec.artist = "Someone";
    spec.copyright = "2026 Someone";
    spec.speedNtsc = 0x1234;
    spec.speedPal = 0x5678;
    const std::uint8_t bank[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    std::memcpy(spec.bank, bank, 8);
    spec.palNtsc = 3;
    spec.extra = 0x21;
    return spec;
}

Bytes RichNsfe(const NsfSpec& spec, std::size_t dataBytes) {
    return MakeNsfe({Chunk("INFO", NsfeInfo(spec)), Chunk("BANK", Bytes(spec.bank, spec.bank + 8)),
                     Chunk("RATE", {0x34, 0x12, 0x78, 0x56}), Chunk("auth", Strings({spec.name, spec.artist, spec.copyright, "Ripper"})),
                     Chunk("tlbl", Strings({"Intro", "Battle", "End"})), Chunk("time", Le32s({65000, -1, 185500})),
                     Chunk("plst", {2, 1, 0}), Chunk("DATA", test::TuneData(dataBytes)), Chunk("NEND", {}),
                     Chunk("JUNK", {1, 2, 3})});  // after NEND: never read
}

TEST(NsfeRead, ReadsAsItsEquivalentNsf) {
    TempDir dir;
    const NsfSpec spec = RichSpec();
    NsfTune nsfe = Fresh(), nsf = Fresh();
    ASSERT_EQ(nsfe.Read(dir.Write("t.nsfe", RichNsfe(spec, 5000)).c_str()), 0) << nsfe.strProblem;
    ASSERT_EQ(nsf.Read(dir.Write("t.nsf", MakeNsf(spec, 5000)).c_str()), 0);
    const Bytes header = MakeNsf(spec);
    EXPECT_TRUE(nsfe.fBuiltHeader);
    EXPECT_EQ(Bytes(nsfe.builtHeader, nsfe.builtHeader + 128), header);
    EXPECT_EQ(nsfe.nFileSize, 128 + 5000);
    EXPECT_EQ(nsfe.nDataSize, 5000);
    // In plst's order, a track without a time at the usual 2:30.
    const std::string plain = Summary(nsf);
    EXPECT_EQ(Summary(nsfe), plain.substr(0, plain.find("\n\nTracks:")) +
                                 "\n\nTracks:\n  3 End 3:05\n  2 Battle 2:30\n  1 Intro 1:05");
}

// auth names longer than the header's fields: the summary shows them whole; the
// board's 32-byte fields end between two characters, with a NUL.
TEST(NsfeRead, LongNamesWholeInSummaryCutBetweenCharactersForBoard) {
    TempDir dir;
    std::string kanji, sjis, sjisUtf8;
    for (int i = 0; i < 11; ++i) kanji += "\xE6\x9B\xB2";  // 曲 x 11: 33 bytes in UTF-8
    for (int i = 0; i < 16; ++i) sjis += "\x83\x5C", sjisUtf8 += "\xE3\x82\xBD";  // ソ x 16: 32 bytes
    const Bytes file = MakeNsfe({Chunk("INFO", NsfeInfo(NsfSpec{})), Chunk("auth", Strings({kanji, sjis})),
                                 Chunk("DATA", test::TuneData(10)), Chunk("NEND", {})});
    NsfTune t = Fresh();
    ASSERT_EQ(t.Read(dir.Write("long.nsfe", file).c_str()), 0) << t.strProblem;
    const auto field = [&t](std::size_t at) { return std::string(reinterpret_cast<char*>(t.builtHeader) + at, 32); };
    EXPECT_EQ(field(0x0E), kanji.substr(0, 30) + std::string(2, '\0'));
    EXPECT_EQ(field(0x2E), sjis.substr(0, 30) + std::string(2, '\0'));
    EXPECT_EQ(Summary(t).rfind("SongName : " + kanji + "\nArtist   : " + sjisUtf8 + "\n", 0), 0u);
}

TEST(NsfeRead, HeaderDefaults) {
    TempDir dir;
    struct Case {
        const char* label;
        std::vector<Bytes> chunks;
        std::uint16_t ntsc, pal;
        std::string name, artist;
        std::uint8_t songs, start, bank0, bank7;
    };
    const Bytes info8 = {0, 0x80, 3, 0x80, 6, 0x80, 0, 0};
    const Case cases[] = {
        {"no RATE, no auth, INFO without counts", {Chunk("INFO", info8)}, 16639, 19997, "", "", 1, 1, 0, 0},
        {"one auth string", {Chunk("INFO", info8), Chunk("auth", Strings({"Title"}))}, 16639, 19997, "Title", "", 1, 1, 0, 0},
        {"long texts cut to 31 bytes", {Chunk("INFO", info8), Chunk("auth", Strings({std::string(40, 'n'), std::string(31, 'a')}))},
         16639, 19997, std::string(31, 'n'), std::string(31, 'a'), 1, 1, 0, 0},
        {"short BANK, unknown lower-case chunk", {Chunk("INFO", info8), Chunk("BANK", {9, 8, 7}), Chunk("zzzz", {1})},
         16639, 19997, "", "", 1, 1, 9, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<Bytes> chunks = c.chunks;
        chunks.push_back(Chunk("DATA", test::TuneData(100)));
        chunks.push_back(Chunk("NEND", {}));
        NsfTune t = Fresh();
        ASSERT_EQ(t.Read(dir.Write("t.nsfe", MakeNsfe(chunks)).c_str()), 0) << t.strProblem;
        EXPECT_EQ(t.wSpeedNtsc, c.ntsc);
        EXPECT_EQ(t.wSpeedPal, c.pal);
        EXPECT_EQ(std::string(t.szSongName), c.name);
        EXPECT_EQ(std::string(t.szArtist), c.artist);
        EXPECT_EQ(std::string(t.szCopyright), "");
        EXPECT_EQ(t.nSongs, c.songs);
        EXPECT_EQ(t.nStartSong, c.start);
        EXPECT_EQ(t.bankInit[0], c.bank0);
        EXPECT_EQ(t.bankInit[7], c.bank7);
        EXPECT_EQ(t.builtHeader[5], 1);  // version 1
        EXPECT_TRUE(t.tracks.empty());   // no names, no durations: no track list
    }
}

TEST(NsfeRead, RefusedWithTheirReason) {
    TempDir dir;
    const Bytes info = NsfeInfo(NsfSpec{});
    const Bytes data = Chunk("DATA", test::TuneData(64));
    const Bytes end = Chunk("NEND", {});
    Bytes pastEnd = Chunk("tlbl", Strings({"x"}));
    pastEnd[0] = 200;  // says 200 bytes, has 2
    struct Case {
        const char* label;
        Bytes file;
        const char* problem;
    };
    const Case cases[] = {
        {"unknown required chunk", MakeNsfe({Chunk("INFO", info), Chunk("VRC7", {1}), data, end}),
         "the chunk 'VRC7' is required but not supported"},
        {"no INFO", MakeNsfe({data, end}), "it has no INFO chunk"},
        {"no DATA", MakeNsfe({Chunk("INFO", info), end}), "it has no DATA chunk"},
        {"no NEND", MakeNsfe({Chunk("INFO", info), data}), "it has no NEND chunk"},
        {"chunk past the end", MakeNsfe({Chunk("INFO", info), data, pastEnd}), "the chunk 'tlbl' runs past the end"},
        {"cut inside a chunk header", MakeNsfe({Chunk("INFO", info), data, Bytes{1, 0, 0}}), "a chunk runs past the end"},
        {"INFO too short", MakeNsfe({Chunk("INFO", {1, 2, 3}), data, end}), "its INFO chunk is too short"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        NsfTune t = Fresh();
        EXPECT_EQ(t.Read(dir.Write("bad.nsfe", c.file).c_str()), -1);
        EXPECT_EQ(t.fValid, 0);
        EXPECT_EQ(t.pszMessage, NsfTune::kBadNsfe);
        EXPECT_EQ(t.strProblem.rfind(c.problem, 0), 0u) << t.strProblem;
    }
}

// An NSF2 whose program length is set: only that much is the tune's data; the
// metadata after it gives the track list.
TEST(Nsf2Read, ProgramLengthAndMetadata) {
    TempDir dir;
    const Bytes meta = test::Chunk("tlbl", Strings({"One", "Two"}));
    const Bytes times = test::Chunk("time", Le32s({61000}));
    const char* plain = "\n\nTracks:\n  1  2:30\n  2  2:30";
    struct Case {
        const char* label;
        std::uint32_t length;
        Bytes after;
        std::int32_t fileSize;
        const char* tracks;
    };
    const Case cases[] = {
        {"length and metadata", 3000, [&] {
             Bytes b = meta;
             b.insert(b.end(), times.begin(), times.end());
             const Bytes end = Chunk("NEND", {});
             b.insert(b.end(), end.begin(), end.end());
             return b;
         }(), 128 + 3000, "\n\nTracks:\n  1 One 1:01\n  2 Two 2:30"},
        {"length 0: the data runs to the end", 0, meta, static_cast<std::int32_t>(128 + 3000 + meta.size()), plain},
        {"damaged metadata costs only the names and times", 3000, Bytes{9, 9, 9}, 128 + 3000, plain},
        {"length past the end of the file", 5000, {}, 128 + 3000, plain},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        NsfSpec spec;
        spec.songs = 2;
        Bytes file = MakeNsf(spec, 3000);
        file[5] = 2;
        file[0x7D] = static_cast<std::uint8_t>(c.length);
        file[0x7E] = static_cast<std::uint8_t>(c.length >> 8);
        file[0x7F] = static_cast<std::uint8_t>(c.length >> 16);
        file.insert(file.end(), c.after.begin(), c.after.end());
        NsfTune t = Fresh();
        ASSERT_EQ(t.Read(dir.Write("t.nsf", file).c_str()), 0);
        EXPECT_EQ(t.nFileSize, c.fileSize);
        const std::string s = Summary(t);
        const std::size_t at = s.find("\n\nTracks:");
        EXPECT_EQ(at == std::string::npos ? "" : s.substr(at), c.tracks);
    }
}

// The tune's own playlist from its chunks: plst orders, time and fade give the
// lengths (negative: unknown), psfx marks effects, tracks beyond the song count drop out.
TEST(NsfePlaylist, OrderTimesFadesAndEffects) {
    TempDir dir;
    using E = PlaylistEntry;
    struct Case {
        const char* label;
        std::vector<Bytes> chunks;
        std::vector<E> entries;
        const char* tracks;  // the summary's lines
    };
    const Case cases[] = {
        {"no playlist chunks: the songs in order", {}, {}, "\n\nTracks:\n  1  2:30\n  2  2:30\n  3  2:30"},
        {"plst alone", {Chunk("plst", {2, 0})},
         {E{3, "", -1, -1, false}, E{1, "", -1, -1, false}},
         "\n\nTracks:\n  3  2:30\n  1  2:30"},
        {"time, fade, psfx; plst with a track the tune lacks",
         {Chunk("time", Le32s({90500, -5, 3723000})), Chunk("fade", Le32s({2000, 1000})), Chunk("psfx", {1}),
          Chunk("plst", {0, 7, 1, 2})},
         {E{1, "", 90500, 2000, false}, E{2, "", -5, 1000, true}, E{3, "", 3723000, -1, false}},
         "\n\nTracks:\n  1  1:30\n  2  2:30 (sound effect)\n  3  1:02:03"},
        {"short time and tlbl, no plst",
         {Chunk("tlbl", Strings({"A"})), Chunk("time", Le32s({1000}))},
         {E{1, "A", 1000, -1, false}, E{2, "", -1, -1, false}, E{3, "", -1, -1, false}},
         "\n\nTracks:\n  1 A 0:01\n  2  2:30\n  3  2:30"},
        {"each name in its own encoding",
         {Chunk("tlbl", Strings({"\x83\x5C", "Caf\xE9", "\xE6\x9B\xB2"}))},
         {E{1, "\xE3\x82\xBD", -1, -1, false}, E{2, "Caf\xC3\xA9", -1, -1, false}, E{3, "\xE6\x9B\xB2", -1, -1, false}},
         "\n\nTracks:\n  1 \xE3\x82\xBD 2:30\n  2 Caf\xC3\xA9 2:30\n  3 \xE6\x9B\xB2 2:30"},
    };
    NsfSpec spec;
    spec.songs = 3;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<Bytes> chunks = {Chunk("INFO", NsfeInfo(spec))};
        chunks.insert(chunks.end(), c.chunks.begin(), c.chunks.end());
        chunks.push_back(Chunk("DATA", test::TuneData(100)));
        chunks.push_back(Chunk("NEND", {}));
        NsfTune t = Fresh();
        ASSERT_EQ(t.Read(dir.Write("t.nsfe", MakeNsfe(chunks)).c_str()), 0) << t.strProblem;
        EXPECT_EQ(t.tracks.entries, c.entries);
        const std::string s = Summary(t);
        const std::size_t at = s.find("\n\nTracks:");
        EXPECT_EQ(at == std::string::npos ? "" : s.substr(at), c.tracks);
    }
}

TEST(M3uPlaylist, TimeField) {
    struct Case {
        const char* text;
        std::int32_t ms;
        bool ok;
    };
    const Case cases[] = {
        {"", -1, true},          {"  ", -1, true},       {"45", 45000, true},      {"2:05", 125000, true},
        {"1:02:03", 3723000, true}, {"0:10.5", 10500, true}, {"1.25", 1250, true},   {"3.1234", 3123, true},
        {"90:00", 5400000, true}, {"1:2:3:4", -1, false}, {"1:", -1, false},        {":30", -1, false},
        {"-5", -1, false},       {"1:xx", -1, false},    {"1.", -1, false},        {"999999:00:00", -1, false},
    };
    for (const auto& c : cases) {
        bool ok = !c.ok;
        EXPECT_EQ(ParseM3uTime(c.text, ok), c.ms) << c.text;
        EXPECT_EQ(ok, c.ok) << c.text;
    }
}

TEST(M3uPlaylist, LineParser) {
    struct Case {
        const char* line;
        M3uLine kind;
        M3uEntry entry;
    };
    const Case cases[] = {
        {"album.nsf::NSF,1,Title Screen,1:30,,5", M3uLine::Entry, {"album.nsf", 1, "Title Screen", 90000, 5000}},
        {"album.nsf::NSF,$0A,Boss\\, Part 2,0:02:03.25,0:02:00,0:10,1", M3uLine::Entry,
         {"album.nsf", 11, "Boss, Part 2", 123250, 10000}},
        {"album.nsf::nsf,$ff", M3uLine::Entry, {"album.nsf", 256, "", -1, -1}},
        {"Some Dir\\album.nsfe::NSFE,3,,,,\r", M3uLine::Entry, {"Some Dir\\album.nsfe", 3, "", -1, -1}},
        {"  other.nsf::NSF, 2 , Spaced ,1:00  ", M3uLine::Entry, {"other.nsf", 2, "Spaced", 60000, -1}},
        {"a.nsf::NSF,4,Back\\slash,", M3uLine::Entry, {"a.nsf", 4, "Back\\slash", -1, -1}},
        {"a.nsf::NSF,5,Ends in a backslash\\", M3uLine::Entry, {"a.nsf", 5, "Ends in a backslash\\", -1, -1}},
        {"a.nsf::NSF,6,", M3uLine::Entry, {"a.nsf", 6, "", -1, -1}},
        {"# comment::NSF,1", M3uLine::Skip, {}},
        {"", M3uLine::Skip, {}},
        {"\r", M3uLine::Skip, {}},
        {"game.gbs::GBS,1,Other kind", M3uLine::Skip, {}},
        {"album.nsf", M3uLine::Damaged, {}},
        {"::NSF,1", M3uLine::Damaged, {}},
        {"album.nsf::NSF", M3uLine::Damaged, {}},
        {"album.nsf::NSF,0,Zero", M3uLine::Damaged, {}},
        {"album.nsf::NSF,x", M3uLine::Damaged, {}},
        {"album.nsf::NSF,$", M3uLine::Damaged, {}},
        {"album.nsf::NSF,$1G", M3uLine::Damaged, {}},
        {"album.nsf::NSF,1,T,1:xx", M3uLine::Damaged, {}},
        {"album.nsf::NSF,1,T,1:00,,bad", M3uLine::Damaged, {}},
        {"album.nsf::NSF,1,a,b,c,d,e,f", M3uLine::Damaged, {}},  // an unescaped comma too many
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        M3uEntry got{"untouched", 99, "", 0, 0};
        EXPECT_EQ(ParseM3uLine(c.line, got), c.kind);
        if (c.kind == M3uLine::Entry) {
            EXPECT_EQ(got, c.entry);
        }
    }
    // Titles come out in UTF-8. "ソ" (83 5C) and "表" (95 5C) end in the backslash's
    // byte and escape nothing in Shift-JIS; in UTF-8, a backslash is one.
    struct Coded {
        const char* line;
        TextCoding coding;
        const char* title;
        std::int32_t ms;
    };
    const Coded coded[] = {
        {"a.nsf::NSF,1,\x83\x5C,1:00", TextCoding::ShiftJis, "\xE3\x82\xBD", 60000},
        {"a.nsf::NSF,1,\x95\x5C\\,x,1:00", TextCoding::ShiftJis, "\xE8\xA1\xA8,x", 60000},
        {"a.nsf::NSF,1,\xE3\x82\xBD\\,x,1:00", TextCoding::Utf8, "\xE3\x82\xBD,x", 60000},
        {"a.nsf::NSF,1,Caf\xE9\\,\x80,1:00", TextCoding::Windows1252, "Caf\xC3\xA9,\xE2\x82\xAC", 60000},
    };
    for (const auto& c : coded) {
        SCOPED_TRACE(c.line);
        M3uEntry got;
        ASSERT_EQ(ParseM3uLine(c.line, got, c.coding), M3uLine::Entry);
        EXPECT_EQ(got.title, c.title);
        EXPECT_EQ(got.ms, c.ms);
    }
    // A file's encoding is judged on all of it: a Shift-JIS lead byte pairs only with a
    // valid second byte, never a comma.
    const M3uFile sjis = ParseM3u("a.nsf::NSF,1,\x83\x5C,0:05\n");
    ASSERT_EQ(sjis.entries.size(), 1u);
    EXPECT_EQ(sjis.entries[0].ms, 5000);
    const M3uFile latin = ParseM3u("album.nsf::NSF,1,Caf\xE9,1:30,,5\n");
    ASSERT_EQ(latin.entries.size(), 1u);
    EXPECT_EQ(latin.entries[0], (M3uEntry{"album.nsf", 1, "Caf\xC3\xA9", 90000, 5000}));
    // Well formed in Shift-JIS too, but a Western title.
    const M3uFile western = ParseM3u("album.nsf::NSF,2,Pok\xE9mon,1:30\n");
    ASSERT_EQ(western.entries.size(), 1u);
    EXPECT_EQ(western.entries[0].title, "Pok\xC3\xA9mon");

    const M3uFile file = ParseM3u("\xEF\xBB\xBF# Album\r\nx.nsf::NSF,2,B\r\nbroken\n\nx.nsf::NSF,1,A");
    ASSERT_EQ(file.entries.size(), 2u);
    EXPECT_EQ(file.entries[0].song, 2);
    EXPECT_EQ(file.entries[1].title, "A");
    EXPECT_EQ(file.damaged, 1);
}

// The M3U's order and fields win for the tracks it lists; what it leaves empty comes
// from the tune; lines for other files count only when none names the tune.
TEST(M3uPlaylist, MergeWithTheTunesOwn) {
    Playlist own;
    own.songs = {{1, "Intro", 10000, 1000, false}, {2, "Jingle", -1, -1, true}, {3, "Battle", 20000, -1, false}};
    own.entries = own.songs;
    using E = PlaylistEntry;
    struct Case {
        const char* label;
        std::vector<M3uEntry> m3u;
        int damaged;
        std::vector<E> entries;
        const char* why;
    };
    const Case cases[] = {
        {"order and overrides", {{"Tune.NSF", 3, "Boss", 60000, -1}, {"tune.nsf", 1, "", -1, 3000}},
         0, {E{3, "Boss", 60000, -1, false}, E{1, "Intro", 10000, 3000, false}}, ""},
        {"other files skipped", {{"b.nsf", 1, "B1", -1, -1}, {"dir/tune.nsf", 2, "", 5000, -1}},
         0, {E{2, "Jingle", 5000, -1, true}}, ""},
        {"renamed tune: every entry", {{"old.nsf", 2, "", -1, -1}, {"old.nsf", 3, "", -1, -1}},
         0, {E{2, "Jingle", -1, -1, true}, E{3, "Battle", 20000, -1, false}}, ""},
        {"tracks beyond the tune dropped", {{"tune.nsf", 4, "X", -1, -1}, {"tune.nsf", 1, "", -1, -1}},
         0, {E{1, "Intro", 10000, 1000, false}}, ""},
        {"nothing for this tune", {{"tune.nsf", 9, "X", -1, -1}}, 0, own.entries, "none of its tracks is in this tune"},
        {"no entries", {}, 0, own.entries, "it has no entries"},
        {"only damaged lines", {}, 3, own.entries, "none of its lines can be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        M3uFile m3u;
        m3u.entries = c.m3u;
        m3u.damaged = c.damaged;
        std::string why = "stale";
        const Playlist merged = MergeM3u(own, 3, m3u, "tune.nsf", why);
        EXPECT_EQ(merged.entries, c.entries);
        EXPECT_EQ(merged.songs, own.songs);
        EXPECT_EQ(why, c.why);
    }
    // A tune without a playlist of its own plays its songs in order at 2:30.
    const std::vector<PlaylistEntry> plain = PlayEntries(Playlist{}, 2);
    EXPECT_EQ(plain, (std::vector<E>{E{1, "", -1, -1, false}, E{2, "", -1, -1, false}}));
    EXPECT_EQ(PlayEntries(own, 3), own.entries);
}

// A play order is cut at 1024 entries, and the summary says how many were left out:
// from a plst, and from the entry lines of an M3U. A tlbl keeps 1024 names at most.
// Nothing a file says can make the lists or the summary grow beyond that.
TEST(M3uPlaylist, PlayOrderIsCutAt1024Entries) {
    NsfeChunks chunks;
    const Bytes big = MakeNsfe({Chunk("INFO", NsfeInfo(NsfSpec{})), Chunk("plst", Bytes(3000, 0)),
                                Chunk("tlbl", Bytes(5000, 0)), Chunk("NEND", {})});
    ASSERT_EQ(ReadNsfeChunks(big.data() + 4, big.size() - 4, chunks), "");
    EXPECT_EQ(chunks.labels.size(), 1024u);
    const Playlist fromPlst = chunks.Tracks(1);
    EXPECT_EQ(fromPlst.entries.size(), 1024u);
    std::string text;
    DescribeTracks(fromPlst, 1, text);
    const std::string said = "\n  1  2:30\n(the play order is cut at 1024 entries: 1976 more left out)";
    EXPECT_EQ(text.substr(text.size() - said.size()), said);

    // A name is cut after 1024 bytes, between two characters: 341 of 400 曲.
    std::string kanji;
    for (int i = 0; i < 400; ++i) kanji += "\xE6\x9B\xB2";
    const Bytes tlbl = Chunk("tlbl", Strings({kanji}));
    ASSERT_EQ(ReadNsfeChunks(tlbl.data(), tlbl.size(), chunks), "");
    EXPECT_EQ(chunks.labels, std::vector<std::string>{kanji.substr(0, 341 * 3)});

    std::string lines;
    for (int i = 0; i < 1030; ++i) lines += "t.nsf::NSF,1\n";
    const M3uFile m3u = ParseM3u(lines);
    EXPECT_EQ(m3u.entries.size(), 1024u);
    EXPECT_EQ(m3u.leftOut, 6u);
    std::string why;
    const Playlist merged = MergeM3u(fromPlst, 1, m3u, "t.nsf", why);
    EXPECT_EQ(merged.entries.size(), 1024u);
    EXPECT_EQ(merged.nLeftOut, 6u);
}

}  // namespace
}  // namespace tunlet
