// A write failure at every write of a transfer, a Stop at every block, or a vanished
// file: exactly one message, the TAP left in Run-Test/Idle with the outputs released,
// the dialog back to idle with the cable closed, and the next Play works.
#include <gtest/gtest.h>

#include "app/PlayerDlg.h"
#include "link/ChainScan.h"
#include "tests/FakeWindow.h"
#include "tests/LinkTestSupport.h"

namespace tunlet {
namespace {

using test::Bytes;
using test::TempDir;

// The board check's writes, then the preamble 8, lead bytes 2, header 1.
constexpr std::size_t kFirstBlockWrite = kBoardCheckWrites + 11;
// Packed: the stream in writes of one whole USB transfer, the rest with the trailer.
constexpr std::size_t kTransfer = 16384;
constexpr std::size_t kPackedBlock = 4162;

struct Media {
    const char* label;
    bool rom;
    std::size_t blocks;
    std::size_t fullPayload;
    std::size_t trailer;
    bool packed = false;

    // Packed: the preamble (65 bytes), 0x2C, the lead bytes' and the header's commands.
    std::size_t PackedHead() const { return 65 + 1 + 3 + (rom ? 17 : 131); }
    std::size_t FullTransfers() const { return (PackedHead() + blocks * kPackedBlock) / kTransfer; }
    // The board check, the preamble, lead bytes, header, blocks, trailer and closing walk.
    std::size_t Writes() const {
        return packed ? kBoardCheckWrites + FullTransfers() + 1 : kFirstBlockWrite + blocks + trailer + 1;
    }
    // Where a Stop can fall: after each block write, or packed after each transfer.
    std::size_t Stops() const { return packed ? FullTransfers() : blocks; }
    std::size_t StopWrite(std::size_t stop) const { return (packed ? kBoardCheckWrites : kFirstBlockWrite) + stop; }
    // The blocks sent when the Stop came during that write: packed, the block that
    // filled the transfer is the last.
    std::size_t BlocksBeforeStop(std::size_t stop) const {
        if (!packed) return stop + 1;
        return ((stop + 1) * kTransfer - PackedHead() + kPackedBlock - 1) / kPackedBlock;
    }
};

const Media kMedia[] = {
    {"tune of 10 blocks", false, 10, 2 + 128 + 10 * 4096 + 4, 4},
    {"ROM of 2 PRG and 2 CHR banks", true, 8 + 4, 2 + 16 + 2 * 16384 + 2 * 8192 + 3, 3},
    {"packed tune of 10 blocks", false, 10, 2 + 128 + 10 * 4096 + 4, 4, true},
    {"packed ROM of 2 PRG and 2 CHR banks", true, 8 + 4, 2 + 16 + 2 * 16384 + 2 * 8192 + 3, 3, true},
};

class Rig {
public:
    Rig() {
        SetCableBackend(board);
        dlg.Attach(win);
        dlg.OnCreate();
        dlg.OnInitDialog();
        board->SetKeepRaw(true);
    }
    ~Rig() {
        dlg.OnDestroy();
        SetCableBackend(nullptr);
    }
    void Load(const Media& m) {
        const std::string path = m.rom ? dir.Write("r.nes", test::MakeNes(2, 2))
                                       : dir.Write("t.nsf", test::MakeNsf({}, 10 * 4096 - 128));
        dlg.SetPacked(m.packed);
        dlg.OnDropFiles({path});
        ASSERT_TRUE(win.items[kIdSend].enabled);
    }
    void Finish() {
        win.PumpUntil([&] { return !dlg.WorkerRunning(); });
        dlg.OnTimer(1);
    }
    void ExpectIdleWithClosingWalk() {
        EXPECT_TRUE(dlg.IsIdle());
        EXPECT_FALSE(board->IsOpen());
        EXPECT_EQ(win.timers.count(CPlayerDlg::kPollTimer), 0u);
        EXPECT_EQ(win.items[kIdSend].text, "Play");
        const auto r = board->Snapshot();
        EXPECT_EQ(r.state, TapState::RunTestIdle);
        EXPECT_FALSE(r.outputEnable);
        ASSERT_GE(r.raw.size(), 2u);
        EXPECT_EQ(r.raw[r.raw.size() - 2], 0x0C);
        EXPECT_EQ(r.raw.back(), 0x0D);
    }

    std::shared_ptr<VirtualBoard> board = VirtualBoard::Create();
    test::FakeWindow win;
    CPlayerDlg dlg;
    TempDir dir;
};

TEST(FaultInjection, WriteFailureAtEveryWrite) {
    int cases = 0;
    for (const Media& m : kMedia) {
        const std::size_t writes = m.Writes();
        for (std::size_t write = 0; write < writes; ++write) {
            SCOPED_TRACE(testing::Message() << m.label << ", write " << write);
            Rig rig;
            rig.Load(m);
            rig.board->Reset();
            rig.board->FailWrite(write, static_cast<DWORD>(write * 97 % 2));
            rig.dlg.OnSend();
            rig.Finish();
            const auto boxes = rig.win.Boxes();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, "write err");
            rig.ExpectIdleWithClosingWalk();
            EXPECT_EQ(rig.dlg.fTuneLoaded, 0);
            EXPECT_NE(rig.win.ProgressPos(), 100);
            // The next Play works and sends everything again.
            rig.board->SetWriteFault(nullptr);
            rig.board->Reset();
            rig.dlg.OnSend();
            rig.Finish();
            EXPECT_EQ(rig.board->Snapshot().user0.size(), m.fullPayload);
            rig.ExpectIdleWithClosingWalk();
            EXPECT_EQ(rig.win.Boxes().size(), 1u);
            ++cases;
        }
    }
    // Packed: 200 + 10 * 4162 and 86 + 12 * 4162 bytes before the trailer.
    EXPECT_EQ(cases, (kBoardCheckWrites + 11 + 10 + 4 + 1) + (kBoardCheckWrites + 11 + 12 + 3 + 1) +
                         (kBoardCheckWrites + 2 + 1) + (kBoardCheckWrites + 3 + 1));
}

TEST(FaultInjection, StopAtEveryBlock) {
    for (const Media& m : kMedia) {
        for (std::size_t stop = 0; stop < m.Stops(); ++stop) {
            SCOPED_TRACE(testing::Message() << m.label << ", stop " << stop);
            Rig rig;
            rig.Load(m);
            rig.board->Reset();
            rig.board->HoldWrite(m.StopWrite(stop));
            rig.dlg.OnSend();
            ASSERT_TRUE(rig.board->WaitHeld());
            rig.dlg.OnSend();  // Stop while that write is on its way
            EXPECT_EQ(rig.win.items[kIdSend].text, "Play");
            rig.dlg.OnTimer(1);  // the worker still runs: the cable stays open
            EXPECT_TRUE(rig.board->IsOpen());
            rig.board->ReleaseHeld();
            rig.Finish();
            EXPECT_TRUE(rig.win.Boxes().empty());
            rig.ExpectIdleWithClosingWalk();
            const std::size_t header = m.rom ? 2 + 16 : 2 + 128;
            const std::size_t trailer = m.rom ? 3 : 4;
            EXPECT_EQ(rig.board->Snapshot().user0.size(), header + m.BlocksBeforeStop(stop) * 4096 + trailer);
            EXPECT_EQ(rig.dlg.fTuneLoaded, 0);
            rig.board->Reset();
            rig.dlg.OnSend();
            rig.Finish();
            EXPECT_EQ(rig.board->Snapshot().user0.size(), m.fullPayload);
        }
    }
}

TEST(FaultInjection, TuneFileDeletedBetweenDropAndPlay) {
    Rig rig;
    const std::string path = rig.dir.Write("gone.nsf", test::MakeNsf({}, 5000));
    rig.dlg.OnDropFiles({path});
    std::remove(path.c_str());
    rig.dlg.OnSend();
    rig.Finish();
    const auto boxes = rig.win.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "file dont open");
    EXPECT_TRUE(rig.dlg.IsIdle());
    EXPECT_FALSE(rig.board->IsOpen());
    // The file comes back: the next Play resets the TAP and sends it whole.
    rig.dir.Write("gone.nsf", test::MakeNsf({}, 5000));
    rig.board->Reset();
    rig.dlg.OnSend();
    rig.Finish();
    EXPECT_EQ(rig.board->Snapshot().user0.size(), 2 + 128 + 8 * 4096 + 4u);
    rig.ExpectIdleWithClosingWalk();
}

}  // namespace
}  // namespace tunlet
