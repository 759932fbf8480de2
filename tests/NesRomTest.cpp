#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "media/NesRom.h"
#include "tests/TestFiles.h"

namespace tunlet {
namespace {

using test::Bytes;
using test::MakeNes;
using test::TempDir;

// Runs Read and returns its code, or the raised text and its detail line.
struct ReadResult {
    std::int32_t code = 0;
    std::string raised, detail;
};

ReadResult ReadRom(NesRom& rom, const std::string& path) {
    ReadResult r;
    try {
        r.code = rom.Read(path.c_str());
    } catch (const RomReadError& e) {
        r.raised = e.what();
        r.detail = e.detail();
    }
    return r;
}

TEST(NesRomRead, RealImages) {
    struct Case {
        const char* file;
        unsigned mapper, prg, chr;
    };
    const Case cases[] = {
        {"db_apu.nes", 0, 1, 0},
        {"clip_5b.nes", 69, 1, 0},
        {"db_vrc6a.nes", 24, 1, 0},
        {"db_n163.nes", 19, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        NesRom rom;
        rom.Clear();
        const Bytes file = test::ReadAll(test::DataFile(c.file));
        ASSERT_EQ(ReadRom(rom, test::DataFile(c.file)).code, 0);
        EXPECT_EQ(rom.nRomMapperType, c.mapper);
        EXPECT_EQ(rom.n16kRomBanks, c.prg);
        EXPECT_EQ(rom.n8kVRomBanks, c.chr);
        EXPECT_EQ(0, std::memcmp(rom.header, file.data(), 16));
        EXPECT_EQ(0, std::memcmp(rom.pPrgRom.get(), file.data() + 16, rom.PrgSize()));
        ASSERT_NE(rom.pChrRom, nullptr);  // an 8192-byte buffer even without CHR banks
        EXPECT_EQ(rom.pTrainer, nullptr);
    }
}

TEST(NesRomRead, FlagsAndMapper) {
    struct Case {
        std::uint8_t f6, f7;
        unsigned mirror, battery, trainer, four, mapper;
    };
    const Case cases[] = {
        {0x1B, 0x40, 1, 1, 0, 1, 65},  {0x1B, 0x4F, 1, 1, 0, 1, 65}, {0x00, 0x00, 0, 0, 0, 0, 0},
        {0xF4, 0xF0, 0, 0, 1, 0, 255}, {0x02, 0x10, 0, 1, 0, 0, 16},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int{c.f6} << " " << int{c.f7});
        NesRom rom;
        const std::string path = dir.Write("f.nes", MakeNes(1, 1, c.f6, c.f7));
        ASSERT_EQ(ReadRom(rom, path).code, 0);
        EXPECT_EQ(rom.fMirroringType, c.mirror);
        EXPECT_EQ(rom.fBatteryBackedRAM, c.battery);
        EXPECT_EQ(rom.f512ByteTrainer, c.trainer);
        EXPECT_EQ(rom.f4ScreenVRamLayout, c.four);
        EXPECT_EQ(rom.nRomMapperType, c.mapper);
        EXPECT_EQ(rom.pTrainer != nullptr, c.trainer == 1);
    }
}

// Bytes 7 to 15 of old headers may be junk; NES 2.0 headers widen the mapper number.
TEST(NesRomRead, HeaderFormats) {
    struct Case {
        const char* label;
        std::uint8_t f6, f7;
        Bytes tail;  // header bytes 8 to 15
        std::int32_t code;
        unsigned mapper, submapper;
        const char* problem;
    };
    const Bytes clean(8, 0);
    const Case cases[] = {
        {"DiskDude! junk: byte 6 alone", 0x10, 'D', {'i', 's', 'k', 'D', 'u', 'd', 'e', '!'}, 0, 1, 0, ""},
        {"junk in byte 12 only", 0x21, 0x40, {0, 0, 0, 0, 7, 0, 0, 0}, 0, 2, 0, ""},
        {"flags 7 0x4F without junk", 0x1B, 0x4F, clean, 0, 65, 0, ""},
        {"NES 2.0, mapper 65 submapper 3", 0x10, 0x48, {0x30, 0, 0, 0, 0, 0, 0, 0}, 0, 65, 3, ""},
        {"NES 2.0 ignores bytes 12-15", 0x10, 0x48, {0, 0, 0, 0, 1, 1, 1, 1}, 0, 65, 0, ""},
        {"NES 2.0 mapper above 255", 0xC0, 0x28, {0x01, 0, 0, 0, 0, 0, 0, 0}, NesRom::kUnsupported, 300, 0,
         "its mapper 300 does not fit"},
        {"NES 2.0 size in byte 9", 0x00, 0x08, {0, 0x01, 0, 0, 0, 0, 0, 0}, NesRom::kUnsupported, 0, 0,
         "its NES 2.0 header gives PRG or CHR sizes beyond 255 banks"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Bytes image = MakeNes(1, 1, c.f6, c.f7);
        std::copy(c.tail.begin(), c.tail.end(), image.begin() + 8);
        NesRom rom;
        ASSERT_EQ(ReadRom(rom, dir.Write("h.nes", image)).code, c.code);
        EXPECT_EQ(rom.nMapper, c.mapper);
        EXPECT_EQ(rom.strProblem.rfind(c.problem, 0), 0u) << rom.strProblem;
        if (c.code != 0) continue;
        EXPECT_EQ(rom.nRomMapperType, c.mapper);  // what the board is told
        EXPECT_EQ(Bytes(rom.header, rom.header + 16), Bytes(image.begin(), image.begin() + 16));  // sent as read
        std::string s;
        rom.Describe(s);
        const bool nes20 = (c.f7 & 0x0C) == 0x08;
        EXPECT_EQ(s.find("NES 2.0 submapper\t" + std::to_string(c.submapper) + "\n") != std::string::npos, nes20);
    }
}

TEST(NesRomRead, TrainerIsSkippedBeforePrg) {
    TempDir dir;
    const Bytes file = MakeNes(2, 1, 0x04);
    NesRom rom;
    ASSERT_EQ(ReadRom(rom, dir.Write("t.nes", file)).code, 0);
    EXPECT_EQ(0, std::memcmp(rom.pTrainer.get(), file.data() + 16, 512));
    EXPECT_EQ(0, std::memcmp(rom.pPrgRom.get(), file.data() + 16 + 512, 32768));
    EXPECT_EQ(0, std::memcmp(rom.pChrRom.get(), file.data() + 16 + 512 + 32768, 8192));
}

TEST(NesRomRead, LargestImage) {
    TempDir dir;
    const Bytes file = MakeNes(255, 255);
    NesRom rom;
    ASSERT_EQ(ReadRom(rom, dir.Write("big.nes", file)).code, 0);
    EXPECT_EQ(rom.PrgSize(), 255u * 16384);
    EXPECT_EQ(rom.ChrSize(), 255u * 8192);
    EXPECT_EQ(0, std::memcmp(rom.pChrRom.get(), file.data() + 16 + rom.PrgSize(), rom.ChrSize()));
}

TEST(NesRomRead, PathAndMagic) {
    TempDir dir;
    Bytes badMagic = MakeNes(1, 0);
    badMagic[3] = 0x1B;
    struct Case {
        const char* label;
        std::string name;
        Bytes bytes;
        std::int32_t code;
    };
    const Case cases[] = {
        {"upper-case extension", "GAME.NES", MakeNes(1, 0), 0},
        {"mixed-case extension", "Game.Nes", MakeNes(1, 0), 0},
        {"no extension", "game", MakeNes(1, 0), -1},
        {".nes in a folder name", "roms.nes/game.bin", MakeNes(1, 0), 0},
        {"wrong fourth byte", "bad.nes", badMagic, -2},
        {"NSF tune", "tune.nes", test::MakeNsf({}), -2},
        {"three bytes", "tiny.nes", Bytes{'N', 'E', 'S'}, -2},
        {"empty", "empty.nes", Bytes{}, -2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        NesRom rom;
        rom.Clear();
        EXPECT_EQ(ReadRom(rom, dir.Write(c.name, c.bytes)).code, c.code);
        if (c.code != 0) {
            EXPECT_EQ(rom.pPrgRom, nullptr);
        }
    }
    NesRom rom;
    EXPECT_EQ(ReadRom(rom, dir.path() + "/missing.nes").code, -1);
}

TEST(NesRomRead, DamagedData) {
    struct Case {
        const char* label;
        Bytes bytes;
        const char* raised;
        const char* detail;  // the sizes the header gives and the file has
    };
    auto cut = [](Bytes b, std::size_t keep) {
        b.resize(keep);
        return b;
    };
    auto extra = [](Bytes b) {
        b.push_back(0);
        return b;
    };
    const Case cases[] = {
        {"one byte after CHR", extra(MakeNes(1, 1)), "EOF error", ""},
        {"one byte after PRG, no CHR", extra(MakeNes(1, 0)), "EOF error", ""},
        {"CHR cut short", cut(MakeNes(1, 1), 16 + 16384 + 100), "rom read error",
         "expected 24592 bytes, the file has 16500"},
        {"PRG cut short, no CHR", cut(MakeNes(2, 0), 16 + 16384), "rom read error",
         "expected 32784 bytes, the file has 16400"},
        {"PRG cut short, with CHR", cut(MakeNes(2, 1), 16 + 20000), "rom read error",
         "expected 40976 bytes, the file has 20016"},
        {"trainer cut short", cut(MakeNes(0, 0, 0x04), 16 + 100), "rom read error",
         "expected 528 bytes, the file has 116"},
        {"header cut after magic", cut(MakeNes(0, 0), 10), "rom read error", "expected 16 bytes, the file has 10"},
        {"magic only", cut(MakeNes(0, 0), 4), "rom read error", "expected 16 bytes, the file has 4"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        NesRom rom;
        rom.Clear();
        const ReadResult r = ReadRom(rom, dir.Write("d.nes", c.bytes));
        EXPECT_EQ(r.raised, c.raised);
        EXPECT_EQ(r.detail, c.detail);
        rom.Release();
        EXPECT_EQ(rom.pPrgRom, nullptr);
        EXPECT_EQ(rom.pChrRom, nullptr);
    }
}

TEST(NesRomRead, EmptyImageIsValid) {
    TempDir dir;
    NesRom rom;
    ASSERT_EQ(ReadRom(rom, dir.Write("e.nes", MakeNes(0, 0))).code, 0);
    EXPECT_NE(rom.pPrgRom, nullptr);
    EXPECT_NE(rom.pChrRom, nullptr);
}

TEST(NesRomDescribe, SevenLines) {
    NesRom rom;
    rom.n16kRomBanks = 2;
    rom.n8kVRomBanks = 1;
    std::string s = "stale";
    rom.Describe(s);
    EXPECT_EQ(s,
              "n16kRomBanks\t2\n"
              "n8kVRomBanks\t1\n"
              "fMirroringType\t0\tfor horizontal mirroring\n"
              "fBatteryBackedRAM\t0\n"
              "f512ByteTrainer\t0\n"
              "f4ScreenVRamLayout\t0\n"
              "nRomMapperType\t0\n");
    rom.n16kRomBanks = 255;
    rom.fMirroringType = 1;
    rom.nRomMapperType = 255;
    rom.Describe(s);
    EXPECT_NE(s.find("n16kRomBanks\t255\n"), std::string::npos);
    EXPECT_NE(s.find("fMirroringType\t1\tfor vertical mirroring\n"), std::string::npos);
    EXPECT_NE(s.find("nRomMapperType\t255\n"), std::string::npos);
}

}  // namespace
}  // namespace tunlet
