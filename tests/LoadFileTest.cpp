#include <gtest/gtest.h>

#include <filesystem>
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
        {dir.Write("cut.nes", cut), LoadKind::Damaged,
         "rom read error\nexpected " + std::to_string(16 + 16384 + 8192) + " bytes, the file has " +
             std::to_string(16 + 16384 + 8192 - 1)},
        {dir.Write("short.nsf", Bytes{'N', 'E', 'S', 'M', 0x1A, 0x01}), LoadKind::Unknown,
         "This NSF tune cannot be played: the NSF header is cut short: 6 of 128 bytes."},
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

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A playlist beside a tune (same base name, .m3u in any case) or given itself: its
// order and fields reach the summary; one that makes no sense costs one line.
TEST(LoadFile, M3uPlaylists) {
    test::NsfSpec spec;
    spec.songs = 3;
    struct Case {
        const char* label;
        std::vector<std::pair<std::string, std::string>> files;  // name, text ("" for the tune)
        std::string load;
        LoadKind kind;
        std::string tuneFile;
        std::string tail;  // how the text ends
    };
    const Case cases[] = {
        {"beside, upper-case extension",
         {{"Album.nsf", ""}, {"Album.M3U", "# x\nAlbum.nsf::NSF,3,Finale\\, loud,1:00,,2\nAlbum.nsf::NSF,$0,,0:30\n"}},
         "Album.nsf", LoadKind::Tune, "Album.nsf",
#ifdef _WIN32
         // The file system ignores case: the first spelling looked for is found.
         "ExtraSound: 00 \n\nPlaylist: Album.m3u\nTracks:\n  3 Finale, loud 1:00\n  1  0:30"},
#else
         "ExtraSound: 00 \n\nPlaylist: Album.M3U\nTracks:\n  3 Finale, loud 1:00\n  1  0:30"},
#endif
        {"given itself, tune in a subfolder, a damaged line",
         {{"sub/t.nsf", ""}, {"list.m3u", "sub/t.nsf::NSF,2,Two\nrubbish\n"}}, "list.m3u", LoadKind::Tune,
         "sub/t.nsf", "\n\nPlaylist: list.m3u (1 damaged lines skipped)\nTracks:\n  2 Two 2:30"},
        {"renamed tune: the entries are its own",
         {{"new.nsf", ""}, {"new.m3u", "old.nsf::NSF,2,Two\n"}}, "new.nsf", LoadKind::Tune, "new.nsf",
         "\n\nPlaylist: new.m3u\nTracks:\n  2 Two 2:30"},
        {"beside, nothing for this tune",
         {{"b.nsf", ""}, {"b.m3u", "b.nsf::NSF,7,Seven\n"}}, "b.nsf", LoadKind::Tune, "b.nsf",
         "ExtraSound: 00 \n\nPlaylist b.m3u ignored: none of its tracks is in this tune.\n"
         "Tracks:\n  1  2:30\n  2  2:30\n  3  2:30"},
        {"given itself, names no tune", {{"empty.m3u", "# nothing\n"}}, "empty.m3u", LoadKind::Unknown, "",
         "This playlist cannot be played: it names no tune."},
        {"given itself, its tune missing", {{"gone.m3u", "gone.nsf::NSF,1\n"}}, "gone.m3u", LoadKind::Unknown,
         "gone.nsf", "The playlist's tune gone.nsf: Not an NSF tune or iNES ROM: the file does not exist or cannot be read."},
        {"given itself, an absolute path counts by its name",
         {{"abs.nsf", ""}, {"abs.m3u", "/elsewhere/abs.nsf::NSF,1,A\n"}}, "abs.m3u", LoadKind::Tune, "abs.nsf",
         "\n\nPlaylist: abs.m3u\nTracks:\n  1 A 2:30"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir d;
        std::filesystem::create_directory(d.path() + "/sub");
        for (const auto& [name, text] : c.files) d.Write(name, text.empty() ? test::MakeNsf(spec, 100) : Text(text));
        Loader l;
        const auto out = l.Load(d.path() + "/" + c.load);
        EXPECT_EQ(out.kind, c.kind);
        ASSERT_GE(out.text.size(), c.tail.size()) << out.text;
        EXPECT_EQ(out.text.substr(out.text.size() - c.tail.size()), c.tail) << out.text;
        if (!c.tuneFile.empty()) {
            EXPECT_EQ(out.filePath, d.path() + "/" + c.tuneFile);
        }
    }
}

}  // namespace
}  // namespace tunlet
