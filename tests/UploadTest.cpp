#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "app/LoadFile.h"
#include "link/BlasterJtag.h"
#include "link/PackedShift.h"
#include "tests/LinkTestSupport.h"

namespace tunlet {
namespace {

using test::BoardSession;
using test::Bytes;
using test::FakeHost;
using test::TempDir;

constexpr std::size_t kPreambleWrites = 8;
constexpr std::size_t kFirstTuneBlockWrite = kPreambleWrites + 2 + 1;  // lead bytes, header
constexpr std::size_t kFirstRomSliceWrite = kPreambleWrites + 2 + 1;

// A tune file on disk loaded into the host as the drop flow would.
void LoadTune(FakeHost& host, const std::string& path) {
    ASSERT_EQ(host.tune.Read(path.c_str()), 0);
    if (host.tune.nFileSize < 32768) host.tune.nFileSize = 32768;
}

// The payload a full tune send must carry: the rule for short reads applied block by block.
Bytes TunePayload(const Bytes& file, std::int32_t nFileSize, std::uint8_t song, bool loaded) {
    std::vector<std::uint8_t> block(4096, 0);
    std::memcpy(block.data(), file.data(), std::min<std::size_t>(128, file.size()));
    const std::size_t blocks = (static_cast<std::size_t>(nFileSize) + 4095) / 4096;
    block[7] = song;
    if (loaded) block[126] = 1;
    block[127] = static_cast<std::uint8_t>(blocks & 0xFF);
    Bytes payload = {0x0C, 0x00};
    payload.insert(payload.end(), block.begin(), block.begin() + 128);
    if (loaded) {
        payload.insert(payload.end(), 3, 0);
        return payload;
    }
    std::size_t pos = 128;
    for (std::size_t i = 0; i < blocks; ++i) {
        const std::size_t n = pos < file.size() ? std::min<std::size_t>(4096, file.size() - pos) : 0;
        std::memcpy(block.data(), file.data() + pos, n);
        pos += n;
        payload.insert(payload.end(), block.begin(), block.end());
    }
    payload.insert(payload.end(), 4, 0);
    return payload;
}

void ExpectAtTap(const VirtualBoard::Record& r, const Bytes& payload) {
    EXPECT_TRUE(r.hasUser1);
    EXPECT_EQ(r.user1, 0x100u);
    EXPECT_EQ(r.user1Bits, 9u);
    EXPECT_TRUE(r.user0 == payload) << "USER0 got " << r.user0.size() << " bytes, expected " << payload.size();
    EXPECT_EQ(r.user0LeftoverBits, 1u);
    EXPECT_EQ(r.user0LeftoverValue, 1u);
    EXPECT_EQ(r.state, TapState::RunTestIdle);
    EXPECT_FALSE(r.outputEnable);
    if (!r.raw.empty()) {  // the raw bytes are not kept for the largest images
        ASSERT_GE(r.raw.size(), 2u);
        EXPECT_EQ(r.raw[r.raw.size() - 2], 0x0C);
        EXPECT_EQ(r.raw.back(), 0x0D);
    }
}

// A header-only send: in the default stream 334 cable bytes; packed, one write of the
// preamble, 0x2C, the lead bytes, the header, the trailer and the closing walk.
TEST(TuneUpload, HeaderOnlyIs334Bytes) {
    for (bool packed : {false, true}) {
        SCOPED_TRACE(packed ? "packed" : "default");
        TempDir dir;
        test::NsfSpec spec;
        spec.reserved126 = 0x77;
        const Bytes file = test::MakeNsf(spec, 5000);
        BoardSession s;
        FakeHost host(s.handle);
        host.packed = packed;
        LoadTune(host, dir.Write("t.nsf", file));
        host.loaded = 1;
        host.song = 3;
        SendTuneThread(host);
        const auto r = s.board->Snapshot();
        const Bytes payload = TunePayload(file, 32768, 3, true);
        if (packed) {
            Bytes header(payload.begin() + 2, payload.begin() + 130);
            Bytes expected = test::kPackedPreamble;
            expected.insert(expected.end(), {0x2C, 0x82, 0x0C, 0x00, 0xBF});
            expected.insert(expected.end(), header.begin(), header.begin() + 63);
            expected.push_back(0xBF);
            expected.insert(expected.end(), header.begin() + 63, header.begin() + 126);
            expected.push_back(0x82);
            expected.insert(expected.end(), header.begin() + 126, header.end());
            expected.insert(expected.end(), {0x83, 0x00, 0x00, 0x00});
            expected.insert(expected.end(), test::kEnding.begin(), test::kEnding.end());
            EXPECT_EQ(expected.size(), 65 + 1 + 3 + 131 + 4 + 6u);
            EXPECT_TRUE(r.raw == expected);
            EXPECT_EQ(r.writes, std::vector<DWORD>{210});
        } else {
            ASSERT_EQ(r.raw.size(), 334u);
            EXPECT_EQ(r.raw, test::ExpectedStream(payload));
        }
        EXPECT_EQ(payload[2 + 126], 1);
        EXPECT_EQ(payload[2 + 127], 8);
        ExpectAtTap(r, payload);
        EXPECT_EQ(host.progress, std::vector<int>{100});
        EXPECT_EQ(host.busy, 0);
        EXPECT_EQ(host.loaded, 1);
        EXPECT_TRUE(host.messages.empty());
    }
}

TEST(TuneUpload, FirstBytesAfterPreamble) {
    BoardSession s;
    FakeHost host(s.handle);
    LoadTune(host, test::DataFile("db_apu.nsf"));
    SendTuneThread(host);
    const auto r = s.board->Snapshot();
    const Bytes first14(r.raw.begin() + 62, r.raw.begin() + 76);
    EXPECT_EQ(first14, (Bytes{0x81, 0x0C, 0x81, 0x00, 0x81, 0x4E, 0x81, 0x45, 0x81, 0x53, 0x81, 0x4D, 0x81, 0x1A}));
}

TEST(TuneUpload, FullSendsFollowTheBlockRule) {
    struct Case {
        const char* label;
        std::size_t fileSize;
        std::uint8_t song;
        std::uint8_t reserved126;
    };
    const Case cases[] = {
        {"exactly 32768 bytes", 32768, 1, 0x00},
        {"1000 bytes, padded to 8 blocks", 1000, 2, 0x42},
        {"fewer data bytes than a header", 178, 255, 0x00},
        {"header only file", 128, 1, 0x00},
        {"40000 bytes", 40000, 7, 0x09},
        {"one byte over a block", 4096 * 9 + 1, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        test::NsfSpec spec;
        spec.reserved126 = c.reserved126;
        spec.startSong = 5;
        const Bytes file = test::MakeNsf(spec, c.fileSize - 128);
        BoardSession s;
        FakeHost host(s.handle);
        host.song = c.song;
        LoadTune(host, dir.Write("t.nsf", file));
        SendTuneThread(host);
        const auto r = s.board->Snapshot();
        const Bytes payload = TunePayload(file, host.tune.nFileSize, c.song, false);
        EXPECT_TRUE(r.raw == test::ExpectedStream(payload));
        EXPECT_EQ(r.raw.size(), 62 + 2 * payload.size() + 6);
        ExpectAtTap(r, payload);
        EXPECT_EQ(payload[2 + 126], c.reserved126);  // the file's own byte when not loaded
        EXPECT_EQ(host.loaded, 1);
        EXPECT_EQ(host.busy, 0);
        // One 8192-byte write per block.
        const std::size_t blocks = TuneBlockCount(host.tune.nFileSize);
        ASSERT_EQ(r.writes.size(), kFirstTuneBlockWrite + blocks + 4 + 1);
        for (std::size_t i = 0; i < blocks; ++i) EXPECT_EQ(r.writes[kFirstTuneBlockWrite + i], 8192u);
        EXPECT_EQ(r.writes[kFirstTuneBlockWrite - 1], 256u);
    }
}

TEST(TuneUpload, LastBlockRepeatsPreviousWherePastEnd) {
    TempDir dir;
    const Bytes file = test::MakeNsf({}, 32768 - 128);
    BoardSession s;
    FakeHost host(s.handle);
    LoadTune(host, dir.Write("t.nsf", file));
    SendTuneThread(host);
    const auto user0 = s.board->Snapshot().user0;
    const std::size_t block6 = 2 + 128 + 6 * 4096, block7 = block6 + 4096;
    EXPECT_TRUE(std::equal(user0.begin() + block7 + 3968, user0.begin() + block7 + 4096, user0.begin() + block6 + 3968));
    EXPECT_TRUE(std::equal(user0.begin() + block7, user0.begin() + block7 + 3968, file.begin() + 128 + 7 * 4096));
}

TEST(TuneUpload, ProgressSequences) {
    struct Case {
        std::size_t size;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {32768, {0, 12, 25, 37, 50, 62, 75, 87, 100}},
        {40000, {0, 10, 20, 30, 40, 51, 61, 71, 81, 92, 100}},
        {500, {0, 12, 25, 37, 50, 62, 75, 87, 100}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        BoardSession s;
        FakeHost host(s.handle);
        LoadTune(host, dir.Write("t.nsf", test::MakeNsf({}, c.size - 128)));
        SendTuneThread(host);
        EXPECT_EQ(host.progress, c.expected) << c.size;
    }
}

TEST(TuneUpload, MoreThan255Blocks) {
    TempDir dir;
    const Bytes file = test::MakeNsf({}, 4096 * 257 + 1 - 128);
    BoardSession s;
    FakeHost host(s.handle);
    LoadTune(host, dir.Write("big.nsf", file));
    SendTuneThread(host);
    const auto r = s.board->Snapshot();
    ASSERT_EQ(TuneBlockCount(host.tune.nFileSize), 258);
    const Bytes payload = TunePayload(file, host.tune.nFileSize, 1, false);
    EXPECT_EQ(payload[2 + 127], 258 & 0xFF);
    ExpectAtTap(r, payload);
    EXPECT_EQ(host.progress.size(), 259u);
    EXPECT_EQ(host.progress[257], 4096 * 257 * 100 / (4096 * 257 + 1));
}

// In the default stream and the packed one alike; packed, the whole USB transfers
// gathered up to that block go out, then the rest with the trailer and the closing walk.
TEST(TuneUpload, StopAfterChosenBlock) {
    for (bool packed : {false, true}) {
        for (int stopAt : {0, 3, 5, 7}) {
            SCOPED_TRACE(std::to_string(stopAt) + (packed ? " packed" : ""));
            TempDir dir;
            const Bytes file = test::MakeNsf({}, 32768 - 128);
            BoardSession s;
            FakeHost host(s.handle);
            host.packed = packed;
            LoadTune(host, dir.Write("t.nsf", file));
            // Stop arrives while block stopAt is being written: it still goes out whole.
            host.onProgress = [&](int) {
                if (host.progress.size() == static_cast<std::size_t>(stopAt)) host.busy = 0;
            };
            if (stopAt == 0) host.busy = 0;
            SendTuneThread(host);
            const auto r = s.board->Snapshot();
            Bytes payload = TunePayload(file, 32768, 1, false);
            const std::size_t keep = 2 + 128 + (stopAt + 1) * 4096;
            payload.resize(keep);
            payload.insert(payload.end(), 4, 0);
            ExpectAtTap(r, payload);
            if (packed) {
                EXPECT_EQ(r.writes.size(), (65 + 1 + 3 + 131 + (stopAt + 1) * 4162u) / 16384 + 1);
            }
            // No progress for the stopped block, and no 100: a stopped send never looks done.
            EXPECT_EQ(host.progress.size(), static_cast<std::size_t>(stopAt));
            EXPECT_EQ(std::count(host.progress.begin(), host.progress.end(), 100), 0);
            EXPECT_EQ(host.loaded, 0);
            EXPECT_EQ(host.busy, 0);
        }
    }
}

TEST(TuneUpload, StopThroughGateOnWorkerThread) {
    TempDir dir;
    BoardSession s;
    FakeHost host(s.handle);
    LoadTune(host, dir.Write("t.nsf", test::MakeNsf({}, 32768 - 128)));
    s.board->HoldWrite(kFirstTuneBlockWrite + 2);
    std::thread worker([&] { SendTuneThread(host); });
    ASSERT_TRUE(s.board->WaitHeld());
    host.busy = 0;
    s.board->ReleaseHeld();
    worker.join();
    const auto r = s.board->Snapshot();
    EXPECT_EQ(r.user0.size(), 2 + 128 + 3 * 4096 + 4u);
    EXPECT_EQ(host.progress, (std::vector<int>{0, 12}));
    EXPECT_EQ(r.state, TapState::RunTestIdle);
}

// An NSFe and an NSF2 go to the board exactly as the version-1 NSF they stand for:
// the same header, blocks, padding, progress and header-only resend. An NSF2's
// program length sits in bytes 0x7D-0x7F, where the board reads the reload flag (126)
// and the block count (127): a length of 384 (0x000180) would put 1 in byte 126.
TEST(TuneUpload, NsfeAndNsf2SendTheirEquivalentNsf) {
    TempDir dir;
    test::NsfSpec spec;
    spec.songs = 4;
    spec.startSong = 2;
    spec.name = "Equivalent";
    spec.bank[3] = 9;
    spec.extra = 0x10;
    struct Pair {
        std::string label;
        Bytes file, equivalent;
    };
    std::vector<Pair> pairs;
    for (const std::size_t dataBytes : {std::size_t{9000}, std::size_t{384}}) {
        const Bytes nsf = test::MakeNsf(spec, dataBytes);
        const Bytes nsfe = test::MakeNsfe({test::Chunk("INFO", test::NsfeInfo(spec)),
                                           test::Chunk("BANK", Bytes(spec.bank, spec.bank + 8)),
                                           test::Chunk("RATE", {0x1A, 0x41, 0x20, 0x4E}),
                                           test::Chunk("auth", test::Strings({spec.name, spec.artist, spec.copyright})),
                                           test::Chunk("tlbl", test::Strings({"a", "b"})),
                                           test::Chunk("DATA", test::TuneData(dataBytes)), test::Chunk("NEND", {})});
        // The NSF2: version 2, its metadata flag, its program length, then metadata
        // the board must not get.
        Bytes nsf2 = nsf;
        nsf2[5] = 2;
        nsf2[0x7C] = 0x80;
        nsf2[0x7D] = dataBytes & 0xFF;
        nsf2[0x7E] = (dataBytes >> 8) & 0xFF;
        const Bytes meta = test::Chunk("tlbl", test::Strings({"x", "y", "z", "w"}));
        nsf2.insert(nsf2.end(), meta.begin(), meta.end());
        const std::string size = " " + std::to_string(dataBytes);
        pairs.push_back({"NSFe" + size, nsfe, nsf});
        pairs.push_back({"NSF2" + size, nsf2, nsf});
    }
    for (const auto& p : pairs) {
        for (int loaded : {0, 1}) {
            SCOPED_TRACE(p.label + (loaded ? " header only" : " whole"));
            std::vector<VirtualBoard::Record> records;
            std::vector<std::vector<int>> progress;
            for (const Bytes* file : {&p.file, &p.equivalent}) {
                BoardSession s;
                FakeHost host(s.handle);
                host.song = 3;
                host.loaded = loaded;
                LoadTune(host, dir.Write(file == &p.file ? "t.nsfe" : "e.nsf", *file));
                SendTuneThread(host);
                records.push_back(s.board->Snapshot());
                progress.push_back(host.progress);
            }
            EXPECT_TRUE(records[0].raw == records[1].raw);
            EXPECT_EQ(records[0].writes, records[1].writes);
            EXPECT_EQ(progress[0], progress[1]);
            ExpectAtTap(records[0], TunePayload(p.equivalent, 32768, 3, loaded));
            ASSERT_GT(records[0].user0.size(), 2 + 127u);
            EXPECT_EQ(records[0].user0[2 + 5], 1);             // version 1
            EXPECT_EQ(records[0].user0[2 + 126], loaded);      // the reload flag is the upload's alone
        }
    }
}

// Only the file that was read goes to the board: one put in its place since (saved
// again by rename) is refused, and the next Play loads it afresh.
TEST(TuneUpload, FileReplacedSinceItWasRead) {
    TempDir dir;
    const std::string path = dir.Write("t.nsf", test::MakeNsf({}, 5000));
    BoardSession s;
    FakeHost host(s.handle);
    host.loaded = 0;
    LoadTune(host, path);
    test::NsfSpec other;
    other.songs = 9;
    const std::string replacement = dir.Write("new.nsf", test::MakeNsf(other, 70000));
    std::remove(path.c_str());  // Windows renames only onto a free name
    ASSERT_EQ(std::rename(replacement.c_str(), path.c_str()), 0);
    SendTuneThread(host);
    EXPECT_EQ(host.messages, std::vector<std::string>{"file dont open"});
    EXPECT_EQ(host.loaded, 0);
    EXPECT_TRUE(s.board->Snapshot().writes.empty());  // nothing reached the cable
}

// A tune file gone before Play: "file dont open" is the one message and nothing
// reaches the cable, in the default stream and the packed one alike. One that changes
// while it is read (here cut short as the upload starts) gets its scan closed as Stop
// closes it, without the block it could not read, and the same message.
TEST(TuneUpload, FileGoneOrCutWhileRead) {
    for (bool packed : {false, true}) {
        for (bool gone : {true, false}) {
            SCOPED_TRACE(std::string(packed ? "packed" : "default") + (gone ? " gone" : " cut"));
            TempDir dir;
            const std::string path = dir.Write("t.nsf", test::MakeNsf({}, 20 * 4096));
            BoardSession s;
            FakeHost host(s.handle);
            host.packed = packed;
            LoadTune(host, path);
            if (gone) {
                std::remove(path.c_str());
            } else {
                s.board->SetWriteFault([&](std::size_t i, DWORD) -> std::optional<DWORD> {
                    if (i == 0) std::fclose(std::fopen(path.c_str(), "wb"));  // emptied under the reader
                    return std::nullopt;
                });
            }
            SendTuneThread(host);
            const auto r = s.board->Snapshot();
            EXPECT_EQ(host.messages, std::vector<std::string>{"file dont open"});
            EXPECT_EQ(host.busy, 0);
            EXPECT_EQ(host.loaded, 0);
            if (gone) {
                EXPECT_TRUE(host.progress.empty());
                EXPECT_TRUE(r.writes.empty());
                EXPECT_EQ(r.state, TapState::TestLogicReset);
                continue;
            }
            // Packed, the first write goes out with block 3, which was read before.
            const std::size_t sent = packed ? 4 : 0;
            EXPECT_EQ(host.progress.size(), sent);
            EXPECT_EQ(std::count(host.progress.begin(), host.progress.end(), 100), 0);
            Bytes payload = TunePayload(test::MakeNsf({}, 20 * 4096), host.tune.nFileSize, 1, false);
            payload.resize(2 + 128 + sent * 4096);
            payload.insert(payload.end(), 4, 0);
            ExpectAtTap(r, payload);
        }
    }
}

// A ROM image in the host, read from a file as the drop flow does.
void LoadRom(FakeHost& host, const TempDir& dir, const Bytes& image) {
    host.rom = std::make_unique<NesRom>();
    ASSERT_EQ(host.rom->Read(dir.Write("r.nes", image).c_str()), 0);
}

Bytes RomPayload(const Bytes& image, std::uint8_t mapper, std::size_t prg, std::size_t chr, bool trainer) {
    Bytes payload = {mapper, 0x00};
    payload.insert(payload.end(), image.begin(), image.begin() + 16);
    const std::size_t start = 16 + (trainer ? 512 : 0);
    payload.insert(payload.end(), image.begin() + start, image.begin() + start + prg + chr);
    payload.insert(payload.end(), 3, 0);
    return payload;
}

TEST(RomUpload, Streams) {
    struct Case {
        const char* label;
        std::uint8_t prg, chr, f6, f7;
        std::vector<int> progress;
    };
    const Case cases[] = {
        {"2 PRG + 1 CHR", 2, 1, 0x00, 0x00, {0, 12, 25, 37, 50, 62, 75, 87, 0, 50, 100}},
        {"empty image", 0, 0, 0x00, 0x00, {100}},
        {"no CHR", 1, 0, 0x10, 0x00, {0, 25, 50, 75, 100}},
        {"trainer is not sent", 1, 1, 0x04, 0xA0, {0, 25, 50, 75, 0, 50, 100}},
        {"mapper 12", 1, 0, 0xC0, 0x00, {0, 25, 50, 75, 100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        BoardSession s;
        FakeHost host(s.handle);
        const Bytes image = test::MakeNes(c.prg, c.chr, c.f6, c.f7);
        LoadRom(host, dir, image);
        SendRomThread(host);
        const auto r = s.board->Snapshot();
        const std::uint8_t mapper = host.rom->nRomMapperType;
        const Bytes payload = RomPayload(image, mapper, c.prg * 16384u, c.chr * 8192u, (c.f6 & 4) != 0);
        EXPECT_TRUE(r.raw == test::ExpectedStream(payload));
        EXPECT_EQ(r.raw.size(), 62 + 2 * (2 + 16 + c.prg * 16384u + c.chr * 8192u + 3) + 6);
        ExpectAtTap(r, payload);
        EXPECT_EQ(host.progress, c.progress);
        EXPECT_EQ(host.busy, 0);
        const Bytes first12(r.raw.begin() + 62, r.raw.begin() + 74);
        EXPECT_EQ(first12, (Bytes{0x81, mapper, 0x81, 0x00, 0x81, 0x4E, 0x81, 0x45, 0x81, 0x53, 0x81, 0x1A}));
    }
}

TEST(RomUpload, EmptyImageIs110Bytes) {
    TempDir dir;
    BoardSession s;
    FakeHost host(s.handle);
    LoadRom(host, dir, test::MakeNes(0, 0));
    SendRomThread(host);
    EXPECT_EQ(s.board->Snapshot().raw.size(), 110u);
}

TEST(RomUpload, StopAndWriteErrorEndEachPhase) {
    struct Case {
        const char* label;
        std::size_t sliceIndex;  // counted over PRG then CHR slices
        bool fail;               // else stop
        std::size_t sentSlices;
        std::vector<int> progress;
    };
    // 2 PRG banks (8 slices) and 1 CHR bank (2 slices).
    const Case cases[] = {
        {"stop in PRG", 2, false, 3, {0, 12}},
        {"stop in CHR", 8, false, 9, {0, 12, 25, 37, 50, 62, 75, 87}},
        {"write error in PRG", 0, true, 1, {}},
        {"write error in CHR", 9, true, 10, {0, 12, 25, 37, 50, 62, 75, 87, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        BoardSession s;
        FakeHost host(s.handle);
        const Bytes image = test::MakeNes(2, 1);
        LoadRom(host, dir, image);
        if (c.fail) {
            s.board->FailWrite(kFirstRomSliceWrite + c.sliceIndex, 8191);
        } else {
            host.onProgress = [&](int) {
                if (host.progress.size() == c.sliceIndex) host.busy = 0;
            };
        }
        SendRomThread(host);
        const auto r = s.board->Snapshot();
        EXPECT_EQ(host.progress, c.progress);
        EXPECT_EQ(host.messages.size(), c.fail ? 1u : 0u);
        if (c.fail) {
            EXPECT_EQ(host.messages[0], "write err");
        }
        // A stop ends with the trailer and the closing walk, a failure with the recovery walk.
        EXPECT_EQ(r.writes.size(), kFirstRomSliceWrite + c.sentSlices + (c.fail ? 1 : 3 + 1));
        EXPECT_EQ(r.state, TapState::RunTestIdle);
        EXPECT_FALSE(r.outputEnable);
        EXPECT_EQ(host.busy, 0);
        if (!c.fail) {
            Bytes payload = RomPayload(image, 0, 32768, 8192, false);
            payload.resize(18 + c.sentSlices * 4096);
            payload.insert(payload.end(), 3, 0);
            ExpectAtTap(r, payload);
        }
    }
}

// Every write of every upload, failed in turn: one "write err", nothing sent after the
// failure but the recovery walk, the TAP back in Run-Test/Idle with the outputs released,
// no 100 on the bar and the tune not marked as loaded.
TEST(UploadFaults, EveryWriteOfEveryUpload) {
    struct Kind {
        const char* label;
        bool rom;
        bool headerOnly;
        std::size_t writes;  // of the whole upload
        bool packed = false;
    };
    const Kind kinds[] = {
        {"tune", false, false, kFirstTuneBlockWrite + 8 + 4 + 1},
        {"header-only tune", false, true, kFirstTuneBlockWrite + 3 + 1},
        {"ROM", true, false, kFirstRomSliceWrite + 10 + 3 + 1},
        // Packed: whole USB transfers of 16384 bytes, then the rest with the trailer
        // and the closing walk (200 + 8 * 4162 and 86 + 10 * 4162 bytes before it).
        {"packed tune", false, false, 2 + 1, true},
        {"packed header-only tune", false, true, 1, true},
        {"packed ROM", true, false, 2 + 1, true},
    };
    // How much of the failed write still went out: none, up to a shift command whose
    // data bytes were lost (a packed block write starts with a command owing 63), or
    // all but the last byte.
    enum Cut { kNone, kAfterShiftCommand, kAllButLast };
    TempDir dir;
    const std::string tunePath = dir.Write("t.nsf", test::MakeNsf({}, 32768 - 128));
    const Bytes image = test::MakeNes(2, 1);
    for (const auto& k : kinds) {
        for (std::size_t failAt = 0; failAt < k.writes; ++failAt) {
            for (Cut cut : {kNone, kAfterShiftCommand, kAllButLast}) {
                SCOPED_TRACE(std::string(k.label) + " write " + std::to_string(failAt) + " cut " + std::to_string(cut));
                BoardSession s;
                FakeHost host(s.handle);
                host.packed = k.packed;
                if (k.rom) {
                    LoadRom(host, dir, image);
                } else {
                    LoadTune(host, tunePath);
                    host.loaded = k.headerOnly ? 1 : 0;
                }
                s.board->SetWriteFault([&](std::size_t i, DWORD count) -> std::optional<DWORD> {
                    if (i != failAt) return std::nullopt;
                    if (cut == kNone) return 0;
                    // Byte 0 of a shift word is 0x81; the walks start with a bit-bang byte.
                    return cut == kAfterShiftCommand ? std::min<DWORD>(1, count - 1) : count - 1;
                });
                if (k.rom) {
                    SendRomThread(host);
                } else {
                    SendTuneThread(host);
                }
                const auto r = s.board->Snapshot();
                EXPECT_EQ(host.messages, std::vector<std::string>{"write err"});
                EXPECT_EQ(host.busy, 0);
                EXPECT_EQ(host.loaded, 0);
                EXPECT_EQ(std::count(host.progress.begin(), host.progress.end(), 100), 0);
                ASSERT_EQ(r.writes.size(), failAt + 2);
                EXPECT_EQ(r.writes.back(), k.packed ? kCutRecoverBytes : kRecoverTapBytes);
                EXPECT_EQ(r.state, TapState::RunTestIdle);
                EXPECT_FALSE(r.outputEnable);
            }
        }
    }
}

// A paced board asks for waits in proportion to the bytes it takes: 1 MB/s is a
// microsecond a byte, so a block write of 8192 bytes waits 8192 times a 1-byte one.
TEST(VirtualBoardPace, WaitsFollowTheBytes) {
    BoardSession s;
    std::vector<std::chrono::nanoseconds> waits;
    s.board->SetPace(1'000'000, [&](std::chrono::nanoseconds d) { waits.push_back(d); });
    DWORD written = 0;
    const Bytes bytes(8192, 0x2C);
    for (DWORD n : {1u, 62u, 8192u}) FT_Write(s.handle, bytes.data(), n, &written);
    ASSERT_EQ(waits.size(), 3u);
    EXPECT_EQ(waits[1].count(), 62 * waits[0].count());
    EXPECT_EQ(waits[2].count(), 8192 * waits[0].count());
    EXPECT_EQ(waits[0], std::chrono::microseconds(1));
    s.board->SetPace(0);
    FT_Write(s.handle, bytes.data(), 10, &written);
    EXPECT_EQ(waits.size(), 3u);  // unpaced: no wait at all
}

TEST(RomUpload, LargestImageThroughBoard) {
    TempDir dir;
    BoardSession s;
    s.board->SetKeepRaw(false);
    FakeHost host(s.handle);
    const Bytes image = test::MakeNes(255, 255);
    LoadRom(host, dir, image);
    SendRomThread(host);
    const auto r = s.board->Snapshot();
    ExpectAtTap(r, RomPayload(image, 0, 255 * 16384u, 255 * 8192u, false));
    EXPECT_EQ(r.writes.size(), kFirstRomSliceWrite + 255 * 4 + 255 * 2 + 3 + 1);
}


// Packed mode, byte for byte, from the cable's protocol: a command byte 0x80 | n, then
// n data bytes, at most 63 to a command; each run of the upload packed on its own.
TEST(PackedStream, RunsOfShiftCommands) {
    struct Case {
        std::size_t n;
        std::vector<std::uint8_t> commands;  // in order
    };
    std::vector<std::uint8_t> block(65, 0xBF);  // 65 * 63 = 4095 bytes ...
    block.push_back(0x81);                      // ... and the last partial run of 1
    const Case cases[] = {
        {0, {}},
        {1, {0x81}},
        {2, {0x82}},
        {62, {0xBE}},
        {63, {0xBF}},
        {64, {0xBF, 0x81}},
        {126, {0xBF, 0xBF}},
        {128, {0xBF, 0xBF, 0x82}},
        {4096, block},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.n);
        Bytes data(c.n);
        for (std::size_t i = 0; i < c.n; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
        CableBatch batch;  // TCK low: nothing goes before the first command
        batch.ShiftRun(data.data(), c.n);
        const Bytes& out = batch.bytes();
        ASSERT_EQ(out.size(), c.n + c.commands.size());
        EXPECT_EQ(PackedRunBytes(c.n), c.n + c.commands.size());
        // Walk the commands: each is followed by as many data bytes as it says.
        std::size_t pos = 0, next = 0;
        for (std::uint8_t command : c.commands) {
            ASSERT_EQ(out[pos], command) << "at cable byte " << pos;
            const std::size_t count = command & 0x3F;
            EXPECT_TRUE(std::equal(out.begin() + pos + 1, out.begin() + pos + 1 + count, data.begin() + next));
            pos += 1 + count;
            next += count;
        }
        EXPECT_EQ(next, c.n);
    }
    EXPECT_EQ(PackedRunBytes(4096), 4162u);
}

// Full sends: the stream goes out in writes of exactly one USB transfer (16384
// bytes) while the blocks come, the rest with the trailer and the closing walk in
// the last; progress as in the default mode.
TEST(PackedStream, FullSendsWriteWholeUsbTransfers) {
    struct Case {
        const char* label;
        bool rom;
        std::size_t size;  // tune file bytes, or PRG and CHR banks
        std::uint8_t prg, chr;
    };
    const Case cases[] = {
        {"tune of 32768 bytes", false, 32768, 0, 0},
        {"tune of 40000 bytes", false, 40000, 0, 0},
        {"ROM 2 PRG + 1 CHR", true, 0, 2, 1},
        {"ROM 16 PRG + 0 CHR", true, 0, 16, 0},
        {"ROM without banks", true, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        std::vector<int> progress[2];
        for (bool packed : {false, true}) {
            BoardSession s;
            FakeHost host(s.handle);
            host.packed = packed;
            Bytes payload;
            std::size_t head = 0;
            Bytes image;
            if (c.rom) {
                image = test::MakeNes(c.prg, c.chr);
                LoadRom(host, dir, image);
                SendRomThread(host);
                payload = RomPayload(image, 0, c.prg * 16384u, c.chr * 8192u, false);
                head = 16;
            } else {
                const Bytes file = test::MakeNsf({}, c.size - 128);
                LoadTune(host, dir.Write("t.nsf", file));
                SendTuneThread(host);
                payload = TunePayload(file, host.tune.nFileSize, 1, false);
                head = 128;
            }
            const auto r = s.board->Snapshot();
            ExpectAtTap(r, payload);
            progress[packed] = host.progress;
            if (!packed) continue;
            const std::size_t trailer = c.rom ? 3 : 4;
            const std::size_t blocks = (payload.size() - 2 - head - trailer) / 4096;
            std::vector<Bytes> runs = {Bytes(payload.begin(), payload.begin() + 2),
                                       Bytes(payload.begin() + 2, payload.begin() + 2 + head)};
            for (std::size_t b = 0; b < blocks; ++b) {
                const auto start = payload.begin() + 2 + head + b * 4096;
                runs.emplace_back(start, start + 4096);
            }
            runs.emplace_back(payload.end() - trailer, payload.end());
            // Byte for byte, so no shift command starts with TCK high: the expected
            // stream puts a 0x2C before each (kPackedPreamble).
            EXPECT_TRUE(r.raw == test::ExpectedPackedStream(runs));
            const std::size_t beforeTrailer = 65 + 1 + 3 + (head == 128 ? 131 : 17) + blocks * 4162;
            std::vector<DWORD> writes(beforeTrailer / 16384, 16384);
            writes.push_back(static_cast<DWORD>(beforeTrailer % 16384 + 1 + trailer + 6));
            EXPECT_EQ(r.writes, writes);
            EXPECT_EQ(host.busy, 0);
        }
        EXPECT_EQ(progress[0], progress[1]);
    }
}

// The board cannot tell the two streams apart: over every test tune (each song, whole
// and header only) and ROM, and the largest image, the same scans, USER1 value,
// USER0 bytes, CRC-32 and end state.
TEST(PackedStream, BoardSeesTheSameAsDefault) {
    struct Case {
        std::string file;
        std::int32_t song;
        std::int32_t loaded;
    };
    std::vector<Case> cases;
    for (const char* tune : {"db_apu.nsf", "clip_5b.nsf", "nsf2_saw_song.nsf"}) {
        for (std::int32_t song : {1, 2}) {
            for (std::int32_t loaded : {0, 1}) cases.push_back({test::DataFile(tune), song, loaded});
        }
    }
    for (const char* rom : {"clip_5b.nes", "db_apu.nes", "db_n163.nes", "db_vrc6a.nes"}) {
        cases.push_back({test::DataFile(rom), 1, 0});
    }
    TempDir dir;
    cases.push_back({dir.Write("largest.nes", test::MakeNes(255, 255)), 1, 0});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " song " + std::to_string(c.song) + (c.loaded ? " header only" : ""));
        std::string reports[2];
        Bytes user0[2];
        for (bool packed : {false, true}) {
            BoardSession s;
            s.board->SetKeepRaw(false);
            FakeHost host(s.handle);
            host.packed = packed;
            host.song = c.song;
            host.loaded = c.loaded;
            const LoadOutcome outcome = LoadFile(c.file.c_str(), host.tune, host.rom);
            ASSERT_TRUE(outcome.kind == LoadKind::Tune || outcome.kind == LoadKind::Rom);
            if (host.rom) {
                SendRomThread(host);
            } else {
                SendTuneThread(host);
            }
            const auto r = s.board->Snapshot();
            EXPECT_TRUE(host.messages.empty());
            // All but the first line, which counts cable bytes and writes.
            const std::string report = VirtualBoard::Describe(r);
            reports[packed] = report.substr(report.find('\n') + 1);
            user0[packed] = r.user0;
            EXPECT_EQ(r.scans.size(), 4u);
        }
        EXPECT_EQ(reports[0], reports[1]);
        EXPECT_TRUE(user0[0] == user0[1]);
        EXPECT_NE(reports[1].find("TAP: Run-Test/Idle, outputs released"), std::string::npos) << reports[1];
    }
}

}  // namespace
}  // namespace tunlet
