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

// The board check's write, then the preamble 8, lead bytes 2, header 1 (packed: the
// preamble, lead bytes and header in one).
constexpr std::size_t kFirstBlockWrite = kBoardCheckWrites + 11;
constexpr std::size_t kFirstPackedBlockWrite = kBoardCheckWrites + 1;

struct Media {
    const char* label;
    bool rom;
    std::size_t blocks;
    std::size_t fullPayload;
    std::size_t trailer;
    bool packed = false;

    std::size_t FirstBlockWrite() const { return packed ? kFirstPackedBlockWrite : kFirstBlockWrite; }
    // The board check, the preamble, lead bytes, header, blocks, trailer and closing walk.
    std::size_t Writes() const { return FirstBlockWrite() + blocks + (packed ? 1 : trailer + 1); }
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
    EXPECT_EQ(cases, (kBoardCheckWrites + 11 + 10 + 4 + 1) + (kBoardCheckWrites + 11 + 12 + 3 + 1) +
                         (kBoardCheckWrites + 1 + 10 + 1) + (kBoardCheckWrites + 1 + 12 + 1));
}

TEST(FaultInjection, StopAtEveryBlock) {
    for (const Media& m : kMedia) {
        for (std::size_t block = 0; block < m.blocks; ++block) {
            SCOPED_TRACE(testing::Message() << m.label << ", block " << block);
            Rig rig;
            rig.Load(m);
            rig.board->Reset();
            rig.board->HoldWrite(m.FirstBlockWrite() + block);
            rig.dlg.OnSend();
            ASSERT_TRUE(rig.board->WaitHeld());
            rig.dlg.OnSend();  // Stop while block `block` is on its way
            EXPECT_EQ(rig.win.items[kIdSend].text, "Play");
            rig.dlg.OnTimer(1);  // the worker still runs: the cable stays open
            EXPECT_TRUE(rig.board->IsOpen());
            rig.board->ReleaseHeld();
            rig.Finish();
            EXPECT_TRUE(rig.win.Boxes().empty());
            rig.ExpectIdleWithClosingWalk();
            const std::size_t header = m.rom ? 2 + 16 : 2 + 128;
            const std::size_t trailer = m.rom ? 3 : 4;
            EXPECT_EQ(rig.board->Snapshot().user0.size(), header + (block + 1) * 4096 + trailer);
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
