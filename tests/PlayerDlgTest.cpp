#include <gtest/gtest.h>

#include <functional>
#include <system_error>

#include "app/Boxes.h"
#include "app/PlayerDlg.h"
#include "app/SummaryTabs.h"
#include "cable/MpsseCable.h"
#include "link/ChainScan.h"
#include "tests/FakeWindow.h"
#include "tests/LinkTestSupport.h"

namespace tunlet {
namespace {

using test::Bytes;
using test::FakeWindow;
using test::TempDir;

// The board check's write, then the preamble 8, lead bytes 2, header 1.
constexpr std::size_t kFirstBlockWrite = kBoardCheckWrites + 11;

// A dialog on a fake window with a virtual board as the cable.
class PlayerDlgTest : public testing::Test {
protected:
    void SetUp() override { SetCableBackend(board); }
    void TearDown() override {
        dlg.OnDestroy();
        SetCableBackend(nullptr);
    }

    void Start(bool connected = true) {
        board->SetConnected(connected);
        win.onTimer = [this](int id) { dlg.OnTimer(id); };
        dlg.Attach(win);
        ASSERT_EQ(dlg.OnCreate(), 0);
        ASSERT_TRUE(dlg.OnInitDialog());
        board->SetConnected(true);
        board->Reset();
    }
    // The next start of the program, with the settings this one kept: check runs once
    // it is up.
    void StartAgain(const std::function<void()>& check) {
        CPlayerDlg again;
        FakeWindow other;
        other.settings = win.settings;
        again.Attach(other);
        again.OnCreate();
        again.OnInitDialog();
        check();
        again.OnDestroy();
    }
    std::string Tune(std::uint8_t songs, std::uint8_t start, std::size_t size = 32768) {
        test::NsfSpec spec;
        spec.songs = songs;
        spec.startSong = start;
        return dir.Write("tune" + std::to_string(++files) + ".nsf", test::MakeNsf(spec, size - 128));
    }
    std::string Rom(std::uint8_t prg = 2, std::uint8_t chr = 1) {
        return dir.Write("rom" + std::to_string(++files) + ".nes", test::MakeNes(prg, chr));
    }
    void Drop(const std::string& path) { dlg.OnDropFiles({path}); }
    // Lets the worker finish (answering its message boxes) and ticks the timer.
    void Finish() {
        win.PumpUntil([&] { return !dlg.WorkerRunning(); });
        dlg.OnTimer(1);
    }
    bool Enabled(int id) { return win.items[id].enabled; }
    std::string Caption() { return win.items[kIdSend].text; }
    void ExpectIdle() {
        EXPECT_EQ(dlg.fBusy, 0);
        EXPECT_FALSE(dlg.WorkerRunning());
        EXPECT_EQ(dlg.hBoard, nullptr);
        EXPECT_FALSE(board->IsOpen());
        EXPECT_EQ(win.timers.count(CPlayerDlg::kPollTimer), 0u);
        EXPECT_EQ(Caption(), "Play");
    }

    std::shared_ptr<VirtualBoard> board = VirtualBoard::Create();
    FakeWindow win;
    CPlayerDlg dlg;
    TempDir dir;
    int files = 0;
};

TEST_F(PlayerDlgTest, StartUpWithBoard) {
    Start();
    EXPECT_TRUE(win.dragAccepted);
    EXPECT_EQ(Caption(), "Play");
    EXPECT_FALSE(Enabled(kIdSend));
    EXPECT_FALSE(Enabled(kIdNext));
    EXPECT_FALSE(Enabled(kIdSongSlider));
    EXPECT_EQ(win.edits[kIdPath], "");
    EXPECT_EQ(win.edits[kIdInfo], "");
    EXPECT_TRUE(win.Boxes().empty());
    using Entry = std::pair<int, std::string>;
    EXPECT_EQ(win.systemMenu, (std::vector<Entry>{{0, ""},
                                                  {0x20, "Open...\tCtrl+O"},
                                                  {0x30, "Send whole tune"},
                                                  {0x40, "Board details..."},
                                                  {0x50, "Check the board before sending"},
                                                  {0x60, "Choose the FPGA..."},
                                                  {0x70, "USB-Blaster II firmware..."},
                                                  {0x80, "Cable TCK..."},
                                                  {0, ""},
                                                  {16, "Tunlet のﾊﾞｰｼﾞｮﾝ情報(&A)..."}}));
    EXPECT_EQ(win.menuTicks, std::set<int>{0x50});
    EXPECT_EQ(win.iconsSet, (std::vector<bool>{true, false}));
    EXPECT_EQ(dlg.hBoard, nullptr);
}

TEST_F(PlayerDlgTest, StartUpProbeOpensAndClosesOnce) {
    board->SetConnected(true);
    dlg.Attach(win);
    dlg.OnCreate();
    dlg.OnInitDialog();
    const auto r = board->Snapshot();
    EXPECT_EQ(r.opens, 1);
    EXPECT_EQ(r.closes, 1);
    // Only the board check: the IDCODEs, then the hub's head (USER1 given the 64 zero
    // bits of HUB_INFO), two reads; nothing of an upload.
    EXPECT_EQ(r.bytes, kBoardCheckCableBytes);
    EXPECT_EQ(r.reads, 2);
    ASSERT_FALSE(r.scans.empty());
    EXPECT_EQ(r.scans[0].ir, kIrIdcode);
    EXPECT_EQ(r.user1Bits, 64u);
    EXPECT_EQ(r.user1, 0u);
    EXPECT_EQ(r.state, TapState::RunTestIdle);
    EXPECT_FALSE(r.outputEnable);
    EXPECT_TRUE(win.Boxes().empty());
}

// The start-up probe and Play read the chain: a board that is off or a chain Tunlet
// does not drive is shown in a box and nothing of the upload is sent.
// (Each outcome's own text is ChainCheck.EveryOutcome's.)
TEST_F(PlayerDlgTest, BoardCheckBoxesAtStartUpAndPlay) {
    struct Case {
        const char* label;
        std::vector<ChainDevice> chain;
        TdoLine line;
        std::string text, reason, caption;
    };
    const Case cases[] = {
        {"off", DefaultBoardChain(), TdoLine::StuckHigh, "FPGA board is not connected.", Capitalised(kReasonNoDevice),
         "Ready"},
        {"two FPGAs that take uploads", {ChainDevice{0x020F30DD, 10, VirtualHub{}}, ChainDevice{0x020F70DD, 10, VirtualHub{}}},
         TdoLine::Chain, "Tunlet cannot send to this board.",
         "Several FPGAs take uploads: device 1, 0x020F30DD (Cyclone IV E EP4CE22 / Cyclone III EP3C25 / Cyclone 10 LP "
         "10CL025); device 2, 0x020F70DD (Cyclone IV E EP4CE115 / Cyclone III EP3C120 / Cyclone 10 LP 10CL120). Choose "
         "one: tunlet-cli --device N, or the window's menu entry \"Choose the FPGA...\".",
         "Tunlet"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        auto b = VirtualBoard::Create();
        b->SetChain(c.chain, c.line);
        SetCableBackend(b);
        FakeWindow w;
        CPlayerDlg d;
        w.onTimer = [&d](int id) { d.OnTimer(id); };
        d.Attach(w);
        d.OnCreate();
        d.OnInitDialog();
        d.OnDropFiles({Tune(1, 1)});
        d.OnSend();
        const auto boxes = w.Boxes();
        ASSERT_EQ(boxes.size(), 2u);  // the start-up probe, then Play
        for (const auto& box : boxes) {
            EXPECT_EQ(box.text, c.text);
            EXPECT_EQ(box.reason, c.reason);
            EXPECT_EQ(box.caption, c.caption);
            EXPECT_EQ(box.icon, BoxIcon::Warning);
        }
        EXPECT_TRUE(d.IsIdle());
        EXPECT_EQ(w.items[kIdSend].text, "Play");
        const auto r = b->Snapshot();
        EXPECT_EQ(r.opens, 2);
        EXPECT_EQ(r.closes, 2);
        // At most the last nibble read of a hub's head: nothing of the upload.
        for (const DeviceRecord& device : r.devices) EXPECT_LT(device.user0Bits, 16u);
        d.OnDestroy();
    }
}

// A board found off may have lost the tune it held: once it answers again, Play sends
// the tune whole, not only its header.
TEST_F(PlayerDlgTest, BoardFoundOffForgetsTheLoadedTune) {
    Start();
    Drop(Tune(3, 1));
    dlg.OnSend();
    Finish();
    ASSERT_EQ(dlg.fTuneLoaded.load(), 1);
    board->SetChain(DefaultBoardChain(), TdoLine::StuckHigh);
    dlg.OnNext();
    ASSERT_EQ(win.Boxes().size(), 1u);
    board->SetChain(DefaultBoardChain(), TdoLine::Chain);
    board->Reset();
    dlg.OnSend();
    Finish();
    EXPECT_EQ(board->Snapshot().user0.size(), 2 + 128 + 8 * 4096 + 4u);
}

TEST_F(PlayerDlgTest, FailedWriteDuringTheCheck) {
    Start();
    Drop(Tune(1, 1));
    board->FailWrite(0, 0);
    dlg.OnSend();
    const auto boxes = win.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "write err");
    ExpectIdle();
    const auto r = board->Snapshot();
    EXPECT_EQ(r.state, TapState::RunTestIdle);
    EXPECT_FALSE(r.outputEnable);
    EXPECT_FALSE(r.hasUser1);
}

// Without the check the bytes are exactly the upload's, even for a board that is off.
TEST_F(PlayerDlgTest, NoBoardCheck) {
    board->SetChain(DefaultBoardChain(), TdoLine::StuckHigh);
    dlg.SetBoardCheck(false);
    Start();
    EXPECT_TRUE(win.Boxes().empty());
    Drop(Tune(1, 1));
    dlg.OnSend();
    Finish();
    const auto r = board->Snapshot();
    EXPECT_EQ(r.reads, 0);
    EXPECT_EQ(r.raw.size(), 62 + 2 * (2 + 128 + 8 * 4096 + 4) + 6u);
    EXPECT_EQ(Bytes(r.raw.begin(), r.raw.begin() + 62), test::kPreamble);
    EXPECT_TRUE(win.Boxes().empty());
}

TEST_F(PlayerDlgTest, StartUpWithoutBoard) {
    Start(false);
    const auto boxes = win.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "FPGA board is not connected.");
    EXPECT_EQ(boxes[0].caption, "Ready");
    EXPECT_EQ(dlg.hBoard, nullptr);
    EXPECT_FALSE(Enabled(kIdSend));
}

TEST_F(PlayerDlgTest, DropStates) {
    Start();
    struct Case {
        const char* label;
        std::uint8_t songs, start;
        int top, pos;
        bool songControls;
    };
    const Case cases[] = {
        {"one song", 1, 1, 0, 0, false},
        {"twelve songs from 4", 12, 4, 11, 3, true},
        {"start song 0", 5, 0, 4, 0, true},
        {"start above the count", 5, 9, 4, 4, true},
        {"no songs", 0, 1, 0, 0, true},  // the top is -1: not 0, so the song controls are on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string path = Tune(c.songs, c.start, 1000);
        Drop(path);
        EXPECT_EQ(win.sliderMax, c.top);
        EXPECT_EQ(win.sliderPos, c.pos);
        EXPECT_EQ(win.ticFreq, 1);
        EXPECT_TRUE(Enabled(kIdSend));
        EXPECT_EQ(Enabled(kIdNext), c.songControls);
        EXPECT_EQ(Enabled(kIdSongSlider), c.songControls);
        EXPECT_EQ(win.edits[kIdPath], path);
        EXPECT_EQ(win.edits[kIdInfo].rfind("SongName : Song\r\nArtist   : Artist\r\n", 0), 0u);
        EXPECT_EQ(dlg.tune.nFileSize, 32768);
        EXPECT_EQ(win.ProgressPos(), 0);
    }
    Drop(Rom());
    EXPECT_NE(dlg.pRom, nullptr);
    EXPECT_EQ(win.sliderMax, 0);
    EXPECT_EQ(win.sliderPos, 0);
    EXPECT_FALSE(Enabled(kIdNext));
    EXPECT_TRUE(Enabled(kIdSend));
    EXPECT_EQ(win.edits[kIdInfo].rfind("n16kRomBanks\t2\r\nn8kVRomBanks\t1\r\n", 0), 0u);
}

TEST_F(PlayerDlgTest, DropOfUnusableFilesDisablesPlay) {
    Start();
    Bytes eof = test::MakeNes(1, 0);
    eof.push_back(0);
    struct Case {
        std::string path;
        std::string info;
    };
    const Case cases[] = {
        {dir.Write("eof.nes", eof), "EOF error"},
        {dir.Write("notes.txt", Bytes(50, 'x')),
         "Not an NSF tune or iNES ROM: it has neither an NESM nor an NSFE header, and its name does not contain .nes."},
    };
    for (const auto& c : cases) {
        Drop(Tune(3, 1));
        ASSERT_TRUE(Enabled(kIdSend));
        Drop(c.path);
        EXPECT_EQ(win.edits[kIdInfo], c.info);
        EXPECT_EQ(win.edits[kIdPath], c.path);
        EXPECT_FALSE(Enabled(kIdSend));
        EXPECT_FALSE(Enabled(kIdNext));
        EXPECT_FALSE(Enabled(kIdSongSlider));
        EXPECT_EQ(dlg.pRom, nullptr);
        EXPECT_EQ(dlg.tune.fValid, 0);
        // Even a click that reaches the handler sends nothing and opens no cable.
        dlg.OnSend();
        ExpectIdle();
        EXPECT_EQ(board->Snapshot().opens, 0);
    }
}

// Enter acts only in the path box, where it loads what was typed as a drop would.
TEST_F(PlayerDlgTest, EnterLoadsTheTypedPathAndNeverCloses) {
    Start();
    const std::string tune = Tune(3, 2);
    const std::string missing = dir.path() + "/not there.nsf";
    struct Case {
        const char* label;
        int focus;
        std::string typed;
        std::string path;  // what the path box then shows ("" when nothing happened)
        bool playable;
    };
    const Case cases[] = {
        {"path box", kIdPath, tune, tune, true},
        {"blanks and Explorer's quotes", kIdPath, " \t\"" + tune + "\"  ", tune, true},
        {"no such file: the drop's message", kIdPath, missing, missing, false},
        {"Play has the focus", kIdSend, tune, "", false},
        {"Close has the focus", kIdCancel, tune, "", false},
        {"summary box", kIdInfo, tune, "", false},
        {"nothing focused", 0, tune, "", false},
        {"empty path box", kIdPath, "", "", false},
        {"blank path box", kIdPath, "   ", "", false},
        {"only quotes", kIdPath, "\"\"", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Drop(Rom());  // a known state: a ROM loaded, its path shown
        const std::string romPath = win.edits[kIdPath];
        win.edits[kIdPath] = c.typed;
        dlg.OnOK(c.focus);
        if (c.path.empty()) {
            EXPECT_NE(dlg.pRom, nullptr);  // nothing loaded, nothing dropped
            EXPECT_EQ(win.edits[kIdInfo].rfind("n16kRomBanks\t2", 0), 0u);
            continue;
        }
        EXPECT_EQ(win.edits[kIdPath], c.path);
        EXPECT_EQ(dlg.pRom, nullptr);
        EXPECT_EQ(Enabled(kIdSend), c.playable);
        if (c.playable) {
            EXPECT_EQ(win.edits[kIdInfo].rfind("SongName : Song\r\n", 0), 0u);
            EXPECT_EQ(win.sliderPos, 1);
        } else {
            EXPECT_EQ(win.edits[kIdInfo].rfind("Not an NSF tune or iNES ROM", 0), 0u) << win.edits[kIdInfo];
        }
    }
    EXPECT_TRUE(win.Boxes().empty());

    // During a transfer the typed path is ignored, as a drop is.
    Drop(tune);
    board->HoldWrite(kFirstBlockWrite);
    dlg.OnSend();
    ASSERT_TRUE(board->WaitHeld());
    win.edits[kIdPath] = Rom();
    dlg.OnOK(kIdPath);
    EXPECT_EQ(dlg.pRom, nullptr);
    board->ReleaseHeld();
    Finish();
    ExpectIdle();
}

// The summary's columns: each starts two characters past the widest cell before it.
TEST(SummaryTabStops, Columns) {
    struct Case {
        std::string text;
        std::vector<int> stops;
    };
    const Case cases[] = {
        {"", {}},
        {"SongName : x\nArtist   : y\n", {}},
        {"a\tb\n", {3}},
        {"abc\t1\tx\nab\t12\n", {5, 8}},
        {"a\tb\r\nabcd\tc\r\n", {6}},
        {"\xE6\x9B\xB2\xE5\x90\x8D\t1\n", {4}},  // two characters in UTF-8
        {"title\nab\tc", {4}},
    };
    for (const auto& c : cases) EXPECT_EQ(SummaryTabStops(c.text), c.stops) << testing::PrintToString(c.text);
}

// The box gets the stops with each summary: a ROM's longest field name is
// "f4ScreenVRamLayout" (18 characters), its values one digit here.
TEST_F(PlayerDlgTest, SummaryTabStopsFollowTheFile) {
    Start();
    Drop(Rom());
    EXPECT_EQ(win.tabStops[kIdInfo], (std::vector<int>{18 + 2, 18 + 2 + 1 + 2}));
    Drop(Tune(2, 1));
    EXPECT_TRUE(win.tabStops[kIdInfo].empty());
}

TEST_F(PlayerDlgTest, MultiFileDropTakesTheFirst) {
    Start();
    const std::string rom = Rom(), tune = Tune(2, 1);
    dlg.OnDropFiles({rom, tune});
    EXPECT_NE(dlg.pRom, nullptr);
    EXPECT_EQ(win.edits[kIdPath], rom);
}

TEST_F(PlayerDlgTest, PlayWithoutCable) {
    Start();
    Drop(Tune(1, 1));
    board->SetConnected(false);
    dlg.OnSend();
    const auto boxes = win.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "FPGA board is not connected.");
    EXPECT_EQ(boxes[0].caption, "Ready");
    ExpectIdle();
}

TEST_F(PlayerDlgTest, PlayRomToIdle) {
    Start();
    const Bytes image = test::MakeNes(2, 1);
    Drop(dir.Write("r.nes", image));
    board->HoldWrite(kFirstBlockWrite);
    dlg.OnSend();
    EXPECT_EQ(Caption(), "Stop");
    EXPECT_EQ(dlg.fBusy, 1);
    EXPECT_EQ(win.timers, std::set<int>{1});
    ASSERT_TRUE(board->WaitHeld());
    dlg.OnTimer(1);  // sending: the tick does nothing
    EXPECT_TRUE(board->IsOpen());
    board->ReleaseHeld();
    win.PumpUntil([&] { return !dlg.WorkerRunning(); });
    // Winding down after the worker's own end: "Stop" until the tick.
    EXPECT_EQ(Caption(), "Stop");
    EXPECT_TRUE(board->IsOpen());
    dlg.OnTimer(1);
    ExpectIdle();
    const auto r = board->Snapshot();
    EXPECT_EQ(r.user0.size(), 2 + 16 + 32768 + 8192 + 3u);
    EXPECT_EQ(win.ProgressPos(), 100);
}

TEST_F(PlayerDlgTest, PlayTwiceSendsHeaderAloneSecondTime) {
    Start();
    Drop(Tune(5, 2));
    dlg.OnSend();
    Finish();
    EXPECT_EQ(dlg.nSong, 2);
    EXPECT_EQ(dlg.fTuneLoaded, 1);
    EXPECT_EQ(board->Snapshot().user0.size(), 2 + 128 + 8 * 4096 + 4u);
    board->Reset();
    win.SetSliderPos(4, true);
    dlg.OnSend();
    Finish();
    const auto r = board->Snapshot();
    ASSERT_EQ(r.user0.size(), 2 + 128 + 3u);
    EXPECT_EQ(r.user0[2 + 7], 5);
    EXPECT_EQ(r.user0[2 + 126], 1);
    // Dropping the same tune again makes the next Play send it whole.
    Drop(dlg.strPath);
    EXPECT_EQ(dlg.fTuneLoaded, 0);
    board->Reset();
    dlg.OnSend();
    Finish();
    EXPECT_EQ(board->Snapshot().user0.size(), 2 + 128 + 8 * 4096 + 4u);
}

// A tune exported again after the drop is loaded afresh by Play and sent whole; one
// that is no longer a tune is not sent at all.
TEST_F(PlayerDlgTest, TuneChangedOnDiskIsLoadedAgain) {
    Start();
    Drop(Tune(5, 2));
    win.SetSliderPos(3, true);
    dlg.OnSend();
    Finish();
    ASSERT_EQ(dlg.fTuneLoaded, 1);
    struct Case {
        const char* label;
        test::Bytes file;
        std::size_t user0;  // 0: nothing sent
        int slider;
    };
    test::NsfSpec fewer;
    fewer.songs = 3;
    fewer.startSong = 1;
    test::NsfSpec more;
    more.songs = 6;
    const Case cases[] = {
        {"longer, song kept", test::MakeNsf(more, 40000 - 128), 2 + 128 + 10 * 4096 + 4, 3},
        {"song gone: the start song", test::MakeNsf(fewer, 100), 2 + 128 + 8 * 4096 + 4, 0},
        {"no longer a tune", test::Bytes(500, 'x'), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        dir.Write(dlg.strPath.substr(dir.path().size() + 1), c.file);
        board->Reset();
        const std::size_t boxes = win.Boxes().size();
        dlg.OnSend();
        Finish();
        ExpectIdle();
        EXPECT_EQ(board->Snapshot().user0.size(), c.user0);
        EXPECT_EQ(win.sliderPos, c.slider);
        if (c.user0 == 0) {
            ASSERT_EQ(win.Boxes().size(), boxes + 1);
            EXPECT_EQ(win.Boxes().back().text, "file dont open");
            EXPECT_FALSE(Enabled(kIdSend));
            EXPECT_EQ(board->Snapshot().opens, 0);
        } else {
            EXPECT_NE(win.edits[kIdInfo].find("Songs: " + std::to_string(c.file[6])), std::string::npos);
        }
    }
}

// The session ending under a transfer stops it as Stop does and the worker ends its
// scan; no box waits for a user any more (here the worker's "write err"), nor does
// Open.
TEST_F(PlayerDlgTest, EndSessionStopsAndShowsNoBox) {
    Start();
    Drop(Tune(1, 1, 40000));
    board->HoldWrite(kFirstBlockWrite + 3);
    board->FailWrite(kFirstBlockWrite + 3, 0);  // fails once the session is ending
    dlg.OnSend();
    ASSERT_TRUE(board->WaitHeld());
    dlg.OnEndSession();
    EXPECT_TRUE(dlg.Ending());
    EXPECT_EQ(dlg.fBusy, 0);
    EXPECT_EQ(Caption(), "Play");
    EXPECT_EQ(dlg.fTuneLoaded, 0);
    board->ReleaseHeld();
    dlg.OnDestroy();
    const auto r = board->Snapshot();
    EXPECT_EQ(r.state, TapState::RunTestIdle);  // the recovery walk went out
    EXPECT_FALSE(r.outputEnable);
    EXPECT_EQ(r.closes, 1);
    dlg.OnOpen();
    EXPECT_TRUE(win.Boxes().empty());
    EXPECT_TRUE(win.openFolders.empty());
}

TEST_F(PlayerDlgTest, StopThenPlaySendsWholeTune) {
    Start();
    Drop(Tune(1, 1, 40000));
    board->HoldWrite(kFirstBlockWrite + 3);
    dlg.OnSend();
    ASSERT_TRUE(board->WaitHeld());
    dlg.OnSend();  // Stop
    EXPECT_EQ(dlg.fBusy, 0);
    EXPECT_EQ(Caption(), "Play");
    EXPECT_EQ(win.ProgressPos(), 0);
    EXPECT_EQ(dlg.fTuneLoaded, 0);
    // Winding down: Play, Next and drops are ignored; the tick leaves the cable open.
    dlg.OnSend();
    dlg.OnNext();
    const std::string other = Rom();
    Drop(other);
    dlg.OnTimer(1);
    EXPECT_TRUE(board->IsOpen());
    EXPECT_EQ(dlg.pRom, nullptr);
    EXPECT_NE(win.edits[kIdPath], other);
    EXPECT_EQ(board->Snapshot().opens, 1);
    EXPECT_TRUE(win.Boxes().empty());
    board->ReleaseHeld();
    Finish();
    ExpectIdle();
    auto r = board->Snapshot();
    EXPECT_EQ(r.user0.size(), 2 + 128 + 4 * 4096 + 4u);
    EXPECT_EQ(r.state, TapState::RunTestIdle);
    // The updates the worker posted before Stop, handled after it, do not undo Stop's 0,
    // and a stopped transfer never ends at 100.
    EXPECT_EQ(win.ProgressPos(), 0);
    EXPECT_EQ(dlg.fTuneLoaded, 0);
    board->Reset();
    dlg.OnSend();
    Finish();
    EXPECT_EQ(board->Snapshot().user0.size(), 2 + 128 + 10 * 4096 + 4u);
    EXPECT_EQ(dlg.fTuneLoaded, 1);
}

TEST_F(PlayerDlgTest, DropAfterWorkerEndedWhileWindingDown) {
    Start();
    Drop(Tune(1, 1));
    dlg.OnSend();
    win.PumpUntil([&] { return !dlg.WorkerRunning(); });
    const std::string rom = Rom();
    Drop(rom);  // the worker has returned: the drop is taken, the cable still open
    EXPECT_NE(dlg.pRom, nullptr);
    EXPECT_TRUE(board->IsOpen());
    dlg.OnTimer(1);
    ExpectIdle();
}

TEST_F(PlayerDlgTest, DropAndNextWhileSendingAreIgnored) {
    Start();
    Drop(Tune(4, 1));
    board->HoldWrite(kFirstBlockWrite);
    dlg.OnSend();
    ASSERT_TRUE(board->WaitHeld());
    win.ClearProgress();
    const std::string before = win.edits[kIdInfo];
    Drop(Rom());
    dlg.OnNext();
    EXPECT_EQ(win.sliderPos, 0);
    EXPECT_TRUE(win.Progress().empty());
    EXPECT_EQ(win.edits[kIdInfo], before);
    EXPECT_EQ(dlg.pRom, nullptr);
    board->ReleaseHeld();
    Finish();
    ExpectIdle();
}

TEST_F(PlayerDlgTest, NextWrapsAroundAndPlays) {
    Start();
    Drop(Tune(3, 2));
    const int expectedSongs[] = {3, 1, 2, 3};
    for (int song : expectedSongs) {
        board->Reset();
        dlg.OnNext();
        Finish();
        EXPECT_EQ(dlg.nSong, song);
        EXPECT_EQ(board->Snapshot().user0[2 + 7], song);
    }
    // With a ROM the slider goes to 0 and the ROM is sent again.
    Drop(Rom(1, 0));
    board->Reset();
    dlg.OnNext();
    Finish();
    EXPECT_EQ(win.sliderPos, 0);
    EXPECT_EQ(board->Snapshot().user0.size(), 2 + 16 + 16384 + 3u);
}

TEST_F(PlayerDlgTest, WriteErrorThenPlaySendsWholeTune) {
    Start();
    Drop(Tune(1, 1));
    board->FailWrite(kFirstBlockWrite + 2, 10);
    dlg.OnSend();
    Finish();
    ExpectIdle();
    const auto boxes = win.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "write err");
    EXPECT_EQ(boxes[0].caption, "Tunlet");
    EXPECT_FALSE(boxes[0].fromUiThread);
    EXPECT_EQ(dlg.fTuneLoaded, 0);
    board->SetWriteFault(nullptr);
    board->Reset();
    dlg.OnSend();
    Finish();
    EXPECT_EQ(board->Snapshot().user0.size(), 2 + 128 + 8 * 4096 + 4u);
}

TEST_F(PlayerDlgTest, TuneFileGoneBeforePlay) {
    Start();
    const std::string path = Tune(1, 1);
    Drop(path);
    std::remove(path.c_str());
    board->Reset();
    dlg.OnSend();
    Finish();
    ExpectIdle();
    const auto boxes = win.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "file dont open");
    EXPECT_EQ(board->Snapshot().opens, 0);  // the cable was left alone
}

TEST_F(PlayerDlgTest, CloseDuringTransferWithMessagePending) {
    Start();
    Drop(Rom(4, 2));
    board->FailWrite(kFirstBlockWrite + 1, 0);
    dlg.OnSend();
    ASSERT_TRUE(win.WaitForPendingBox());  // the worker waits in its "write err" box
    dlg.OnDestroy();
    EXPECT_FALSE(dlg.WorkerRunning());
    EXPECT_EQ(dlg.pRom, nullptr);
    EXPECT_EQ(dlg.hBoard, nullptr);
    EXPECT_FALSE(board->IsOpen());
    const auto r = board->Snapshot();
    EXPECT_EQ(r.state, TapState::RunTestIdle);  // the closing walk went out before the cable closed
    EXPECT_EQ(r.closes, 1);
    ASSERT_EQ(win.Boxes().size(), 1u);
    EXPECT_EQ(win.Boxes()[0].text, "write err");
}

TEST_F(PlayerDlgTest, CloseDuringTransferStopsTheWorker) {
    Start();
    Drop(Tune(1, 1, 200000));
    board->HoldWrite(kFirstBlockWrite + 5);
    dlg.OnSend();
    ASSERT_TRUE(board->WaitHeld());
    // Release the held block only once the close has asked the worker to stop.
    std::thread releaser([&] {
        while (dlg.fBusy.load() != 0) std::this_thread::yield();
        board->ReleaseHeld();
    });
    dlg.OnDestroy();
    releaser.join();
    EXPECT_FALSE(board->IsOpen());
    const auto r = board->Snapshot();
    EXPECT_EQ(r.user0.size(), 2 + 128 + 6 * 4096 + 4u);
    EXPECT_EQ(r.state, TapState::RunTestIdle);
}

TEST_F(PlayerDlgTest, ThreadThatCannotStart) {
    Start();
    Drop(Tune(1, 1));
    dlg.SetThreadLauncher([](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    dlg.OnSend();
    ExpectIdle();
    const auto boxes = win.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, CPlayerDlg::kNoThread);
    dlg.SetThreadLauncher(nullptr);
    dlg.OnSend();
    Finish();
    EXPECT_EQ(board->Snapshot().opens, 2);
}

TEST_F(PlayerDlgTest, SystemCommandsAndPainting) {
    Start();
    struct Case {
        unsigned id;
        bool about;
    };
    const Case cases[] = {{16, true}, {31, true}, {0x10 | 0x10000, true}, {15, false}, {0x90, false}, {0xF060, false}};
    for (const auto& c : cases) {
        const int before = win.modalRuns;
        EXPECT_EQ(dlg.OnSysCommand(c.id), c.about) << c.id;
        EXPECT_EQ(win.modalRuns - before, c.about ? 1 : 0);
    }
    EXPECT_FALSE(dlg.OnPaint());
    win.iconic = true;
    EXPECT_TRUE(dlg.OnPaint());
    EXPECT_EQ(win.iconDraws, (std::vector<std::pair<int, int>>{{135, 184}}));
    EXPECT_EQ(dlg.OnQueryDragIcon().resource, 128);
}

TEST_F(PlayerDlgTest, DestroyFreesRomAndNeedsNoWorker) {
    Start();
    Drop(Rom());
    dlg.OnDestroy();
    EXPECT_EQ(dlg.pRom, nullptr);
    EXPECT_EQ(board->Snapshot().opens, 0);
}

// An album on a fake clock: four songs, played in the order 3, 2, 1, 4, song 2 a
// sound effect; times 10 s, 5 s, 20 s with a 1 s fade, and none (2:30) for song 4.
class AutoAdvanceTest : public PlayerDlgTest {
protected:
    void SetUp() override {
        PlayerDlgTest::SetUp();
        dlg.SetClock([this] { return now; });
        Start();
        Drop(Album());
        win.checked.insert(kIdAutoAdvance);
    }
    std::string Album() {
        return dir.Write("album" + std::to_string(++files) + ".nsfe", test::MakeAlbumNsfe({0, 0, 1000}));
    }
    // Advances the fake clock and ticks the track timer, as the window would.
    void Tick(std::int64_t ms) {
        now += ms;
        if (win.timers.count(CPlayerDlg::kTrackTimer)) dlg.OnTimer(CPlayerDlg::kTrackTimer);
    }
    // The song the last transfer put into header byte 7, and whether it was the header alone.
    int SentSong() { return board->Snapshot().user0.at(2 + 7); }
    bool HeaderOnly() { return board->Snapshot().user0.size() == 2 + 128 + 3u; }

    std::int64_t now = 1000000;
};

TEST_F(AutoAdvanceTest, PlaysTheAlbumInOrderSkippingEffects) {
    // Each row shows its song number, as tunlet-cli info prints it.
    ASSERT_EQ(win.rows, (std::vector<std::string>{"   3  Three  0:20", "   2  Two  0:05  (sound effect)",
                                                  "   1  One  0:10", "   4  Four  2:30"}));
    dlg.OnTrackChosen(0);  // a row plays its song, the tune whole the first time
    Finish();
    EXPECT_EQ(SentSong(), 3);
    EXPECT_FALSE(HeaderOnly());
    EXPECT_EQ(dlg.PlayingEntry(), 0);
    EXPECT_EQ(win.rows[0], ">  3  Three  0:20");
    EXPECT_EQ(win.selection, 0);
    EXPECT_EQ(win.items[kIdTimeLeft].text, "0:21 left");  // time plus fade
    EXPECT_EQ(win.items[kIdSongLabel].text, "Song 3 of 4: Three");

    struct Step {
        std::int64_t after;  // ms since the track started
        int song;            // 0: nothing sent
        int playing;
    };
    const Step steps[] = {
        {20999, 0, 0},  // not yet
        {21000, 1, 2},  // the effect (song 2) is skipped
        {10000, 4, 3},
        {149999, 0, 3},
        {150000, 0, -1},  // after the last entry: idle
    };
    std::int64_t started = now;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.after);
        board->Reset();
        now = started + step.after - 1;
        Tick(1);
        if (step.song != 0) {
            EXPECT_EQ(Caption(), "Stop");
            Finish();
            EXPECT_EQ(SentSong(), step.song);
            EXPECT_TRUE(HeaderOnly());  // the tune is on the board: its header alone
            EXPECT_EQ(win.sliderPos, step.song - 1);
            started = now;
        } else {
            EXPECT_EQ(board->Snapshot().opens, 0);
        }
        EXPECT_EQ(dlg.PlayingEntry(), step.playing);
        if (step.playing >= 0) {
            EXPECT_EQ(win.selection, step.playing);  // the highlight follows
        }
        ExpectIdle();
    }
    EXPECT_EQ(win.timers.count(CPlayerDlg::kTrackTimer), 0u);
    EXPECT_EQ(win.items[kIdTimeLeft].text, "");
    EXPECT_EQ(win.rows[3], "   4  Four  2:30");
}

TEST_F(AutoAdvanceTest, WaitsForATransferAndEndsOnDropFailureOrUntick) {
    dlg.OnTrackChosen(2);  // song 1, 10 s
    Finish();
    ASSERT_EQ(dlg.PlayingEntry(), 2);

    // Time is up while Play sends another song: nothing fires until it is idle.
    board->Reset();
    board->HoldWrite(9);
    win.SetSliderPos(0, true);
    dlg.OnSend();
    ASSERT_TRUE(board->WaitHeld());
    Tick(60000);
    EXPECT_EQ(board->Snapshot().opens, 1);
    board->ReleaseHeld();
    Finish();
    EXPECT_EQ(dlg.PlayingEntry(), 2);  // song 1 again, its clock from now
    Tick(9999);
    EXPECT_EQ(board->Snapshot().opens, 1);

    // Unticked, the run ends at once: no mark, no clock, and ticking again later
    // starts nothing.
    win.checked.clear();
    dlg.OnAutoAdvance();
    EXPECT_EQ(dlg.PlayingEntry(), -1);
    EXPECT_EQ(win.rows[2], "   1  One  0:10");
    EXPECT_EQ(win.items[kIdTimeLeft].text, "");
    EXPECT_EQ(win.timers.count(CPlayerDlg::kTrackTimer), 0u);
    EXPECT_EQ(win.settings[CPlayerDlg::kAutoAdvanceSetting], "0");
    win.checked.insert(kIdAutoAdvance);
    dlg.OnAutoAdvance();
    Tick(5000);
    EXPECT_EQ(board->Snapshot().opens, 1);

    // A failed transfer ends it: nothing advances from there.
    dlg.OnTrackChosen(2);
    Finish();
    ASSERT_EQ(dlg.PlayingEntry(), 2);
    board->Reset();
    board->FailWrite(9, 0);
    Tick(10001);
    Finish();
    ASSERT_EQ(win.Boxes().size(), 1u);
    EXPECT_EQ(win.Boxes()[0].text, "write err");
    EXPECT_EQ(dlg.PlayingEntry(), -1);
    EXPECT_EQ(win.timers.count(CPlayerDlg::kTrackTimer), 0u);
    board->SetWriteFault(nullptr);

    // A new drop ends it too.
    dlg.OnTrackChosen(3);
    Finish();
    ASSERT_EQ(dlg.PlayingEntry(), 3);
    Drop(Album());
    EXPECT_EQ(dlg.PlayingEntry(), -1);
    EXPECT_EQ(win.rows[3], "   4  Four  2:30");
    board->Reset();
    Tick(200000);
    EXPECT_EQ(board->Snapshot().opens, 0);
    ExpectIdle();
}

// A file dropped after the worker returned but before the tick that ends the
// transfer: the track sent belongs to the file before, so nothing of the new one plays.
TEST_F(AutoAdvanceTest, DropWhileWindingDownStartsNoTrack) {
    dlg.OnTrackChosen(3);
    win.PumpUntil([&] { return !dlg.WorkerRunning(); });
    Drop(Tune(1, 1));
    dlg.OnTimer(1);
    ExpectIdle();
    EXPECT_EQ(dlg.PlayingEntry(), -1);
    EXPECT_EQ(win.rows, std::vector<std::string>{"   1  Song 1  2:30"});
    EXPECT_EQ(win.timers.count(CPlayerDlg::kTrackTimer), 0u);
    Tick(200000);
    EXPECT_EQ(board->Snapshot().opens, 1);
}

TEST_F(AutoAdvanceTest, SongLabelFollowsSliderAndNext) {
    EXPECT_EQ(win.items[kIdSongLabel].text, "Song 1 of 4: One");
    win.SetSliderPos(3, true);
    dlg.OnSongSlider();
    EXPECT_EQ(win.items[kIdSongLabel].text, "Song 4 of 4: Four");
    dlg.OnNext();  // song 4 is the last entry: Next wraps to the first, song 3
    EXPECT_EQ(win.items[kIdSongLabel].text, "Song 3 of 4: Three");
    Finish();
    EXPECT_EQ(dlg.PlayingEntry(), 0);
    // Rows are ignored while a transfer runs, as Next is.
    board->HoldWrite(9);
    dlg.OnSend();
    ASSERT_TRUE(board->WaitHeld());
    dlg.OnTrackChosen(3);
    EXPECT_EQ(win.sliderPos, 2);
    board->ReleaseHeld();
    Finish();
    // A ROM has no tracks and no song label.
    Drop(Rom());
    EXPECT_TRUE(win.rows.empty());
    EXPECT_EQ(win.items[kIdSongLabel].text, "");
    // Labels from the dialog's own texts.
    EXPECT_EQ(Album::SongLabel(3, 5, ""), "Song 3 of 5");
    EXPECT_EQ(Album::RowText(PlaylistEntry{7, "", 3723000, -1, false}, true), ">  7  Song 7  1:02:03");
}

// Next, Previous, rows and the slider over the album's play order (3, 2, 1, 4), and
// over a tune without one: what is sent, which entry is playing, marked and selected.
TEST_F(AutoAdvanceTest, NavigationFollowsThePlayOrder) {
    enum Action { kRow, kNext, kPrevious, kSlider, kDrop };
    struct Step {
        const char* label;
        Action action;
        int arg;      // the row, the slider's position
        int song;     // sent in header byte 7
        int playing;  // -1: none
    };
    const Step steps[] = {
        {"a row", kRow, 0, 3, 0},
        {"Next", kNext, 0, 2, 1},  // the sound effect too: Next skips nothing
        {"Next", kNext, 0, 1, 2},
        {"Next", kNext, 0, 4, 3},
        {"Next wraps", kNext, 0, 3, 0},
        {"Previous wraps", kPrevious, 0, 4, 3},
        {"Previous", kPrevious, 0, 1, 2},
        {"the slider picks any song", kSlider, 1, 2, 1},
        {"Next from there", kNext, 0, 1, 2},
        {"no play order", kDrop, 0, 0, -1},
        {"Next steps the songs", kNext, 0, 3, 2},
        {"Next wraps to song 1", kNext, 0, 1, 0},
        {"Previous wraps to the last song", kPrevious, 0, 3, 2},
        {"Previous", kPrevious, 0, 2, 1},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.label);
        board->Reset();
        switch (step.action) {
            case kRow: dlg.OnTrackChosen(step.arg); break;
            case kNext: dlg.OnNext(); break;
            case kPrevious: dlg.OnPrevious(); break;
            case kSlider:
                win.SetSliderPos(step.arg, true);
                dlg.OnSend();
                break;
            case kDrop: Drop(Tune(3, 2)); break;
        }
        if (step.action == kDrop) continue;
        Finish();
        EXPECT_EQ(SentSong(), step.song);
        EXPECT_EQ(dlg.PlayingEntry(), step.playing);
        EXPECT_EQ(win.selection, step.playing);
        for (std::size_t i = 0; i < win.rows.size(); ++i) {
            EXPECT_EQ(win.rows[i][0] == '>', static_cast<int>(i) == step.playing) << i;
        }
    }
}

// A song the order holds twice keeps the entry last started, playing or not: with
// the order 3, 1, 3, 2 and entry 2 (song 3) ended, Next goes to entry 3, Previous to 1.
TEST(AlbumTest, ARepeatedSongKeepsItsEntry) {
    Album album;
    std::vector<PlaylistEntry> entries;
    for (const int song : {3, 1, 3, 2}) entries.push_back(PlaylistEntry{song, "", 1000, -1, song == 1});
    album.Load(entries, true);
    EXPECT_EQ(album.AdvanceEntry(), 0);  // nothing playing: the first music entry
    album.Start(2, 0);
    EXPECT_EQ(album.AdvanceEntry(), 3);
    for (const bool ended : {false, true}) {
        SCOPED_TRACE(ended);
        if (ended) album.End();
        EXPECT_EQ(album.Current(3), 2);
        EXPECT_EQ(album.NextEntry(3), 3);
        EXPECT_EQ(album.PreviousEntry(3), 1);
        EXPECT_EQ(album.Current(2), 3);  // another song: its first entry
    }
    album.Load(entries, true);
    EXPECT_EQ(album.Current(3), 0);  // a new file forgets it
}

// Auto-advance off: when the track's time is over, its mark and time left go.
TEST_F(AutoAdvanceTest, MarkGoesWhenTheTimeIsOverWithoutAutoAdvance) {
    win.checked.clear();
    dlg.OnTrackChosen(2);  // song 1, 10 s
    Finish();
    Tick(9000);
    EXPECT_EQ(win.items[kIdTimeLeft].text, "0:01 left");
    EXPECT_EQ(win.rows[2], ">  1  One  0:10");
    Tick(1000);
    EXPECT_EQ(dlg.PlayingEntry(), -1);
    EXPECT_EQ(win.rows[2], "   1  One  0:10");
    EXPECT_EQ(win.items[kIdTimeLeft].text, "");
    EXPECT_EQ(win.timers.count(CPlayerDlg::kTrackTimer), 0u);
}

// A box's message loop runs the window's timers. The cable gone at an advance: the
// run ends before its one box shows, and no box opens inside it; a box of the window
// (About) keeps the timers from acting while it is up.
TEST_F(AutoAdvanceTest, NoTimerActsWhileABoxIsUp) {
    dlg.OnTrackChosen(2);  // song 1, 10 s, then song 4
    Finish();
    now += 10000;
    dlg.OnSysCommand(CPlayerDlg::kAboutCommand);  // the track's time is over while About is up
    EXPECT_EQ(win.modalRuns, 1);
    EXPECT_EQ(dlg.PlayingEntry(), 2);
    EXPECT_EQ(board->Snapshot().opens, 1);

    board->SetConnected(false);
    Tick(1);
    const auto boxes = win.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "FPGA board is not connected.");
    EXPECT_EQ(win.maxBoxDepth, 1);
    EXPECT_EQ(dlg.PlayingEntry(), -1);
    EXPECT_EQ(win.timers.count(CPlayerDlg::kTrackTimer), 0u);
    ExpectIdle();
}

// Every box's first line, its reason below, its caption and its icon.
TEST(BoxTexts, FirstLineReasonCaptionIcon) {
    struct Case {
        const char* label;
        BoxText box;
        std::string text, caption;
        BoxIcon icon;
    };
    const TempDir dir;
    const std::string gone = dir.path() + "/gone.nsf";
    const Case cases[] = {
        {"no driver", NotConnectedBox("the cable driver FTD2XX.dll is not installed: Tunlet looks for it in X"),
         "FPGA board is not connected.\nThe cable driver FTD2XX.dll is not installed: Tunlet looks for it in X", "Ready",
         BoxIcon::Warning},
        {"no reason", NotConnectedBox(""), "FPGA board is not connected.", "Ready", BoxIcon::Warning},
        {"refused", RefusedBox("The FPGA's design has no virtual JTAG hub: it cannot take uploads."),
         "Tunlet cannot send to this board.\nThe FPGA's design has no virtual JTAG hub: it cannot take uploads.",
         "Tunlet", BoxIcon::Warning},
        {"unplugged", WriteErrorBox("the cable stopped taking data"), "write err\nThe cable stopped taking data", "Tunlet",
         BoxIcon::Error},
        {"write err alone", WriteErrorBox(""), "write err", "Tunlet", BoxIcon::Error},
        {"file gone", FileBox(gone),
         "file dont open\nTunlet cannot open " + gone + ": it is not there any more, or cannot be read", "Tunlet",
         BoxIcon::Error},
        {"a folder", FileBox(dir.path()), "file dont open\nTunlet cannot open " + dir.path() + ": it is a directory", "Tunlet", BoxIcon::Error},
        {"own text", PlainBox("the transfer could not start."), "The transfer could not start.", "Tunlet",
         BoxIcon::Error},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.box, (BoxText{c.text, c.caption, c.icon}));
    }
}

// Wired to the boxes: a write that fails says why, a tune gone says which file.
TEST_F(PlayerDlgTest, BoxesSayWhy) {
    Start();
    const std::string path = Tune(1, 1);
    Drop(path);
    board->FailWrite(kFirstBlockWrite + 2, 10);
    dlg.OnSend();
    Finish();
    std::remove(path.c_str());
    board->SetWriteFault(nullptr);
    dlg.OnSend();
    Finish();
    const auto boxes = win.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].reason, "The cable stopped taking data: was the USB-Blaster unplugged during the transfer?");
    EXPECT_EQ(boxes[1].text, "file dont open");
    EXPECT_NE(boxes[1].reason.find(path), std::string::npos) << boxes[1].reason;
    Drop(Tune(1, 1));
    board->SetConnected(false);
    dlg.OnSend();
    EXPECT_EQ(win.Boxes().back().reason, Capitalised(CableOpenFailure()));
    EXPECT_FALSE(CableOpenFailure().empty());
}

// Open: the system's dialog from the folder of the last file, loading as a drop
// does, refused during a transfer; the settings kept between runs come back.
TEST_F(PlayerDlgTest, OpenAndSettings) {
    win.settings[CPlayerDlg::kAutoAdvanceSetting] = "1";
    win.settings[CPlayerDlg::kBoardCheckSetting] = "0";
    Start();
    EXPECT_TRUE(win.IsChecked(kIdAutoAdvance));
    EXPECT_FALSE(dlg.BoardCheckOn());
    EXPECT_TRUE(win.menuTicks.empty());
    dlg.OnSysCommand(CPlayerDlg::kBoardCheckCommand);
    EXPECT_TRUE(dlg.BoardCheckOn());
    EXPECT_EQ(win.settings[CPlayerDlg::kBoardCheckSetting], "1");

    dlg.OnOpen();  // nothing chosen: nothing changes
    win.fileToChoose = Tune(3, 1);
    dlg.OnSysCommand(CPlayerDlg::kOpenCommand);
    EXPECT_EQ(win.edits[kIdPath], win.fileToChoose);
    EXPECT_EQ(win.openFolders, (std::vector<std::string>{"", ""}));
    EXPECT_EQ(win.settings[CPlayerDlg::kFolderSetting], dir.path());

    board->HoldWrite(kFirstBlockWrite);
    dlg.OnSend();
    ASSERT_TRUE(board->WaitHeld());
    win.fileToChoose = Rom();
    dlg.OnOpen();
    EXPECT_EQ(win.openFolders.size(), 2u);
    EXPECT_EQ(dlg.pRom, nullptr);
    board->ReleaseHeld();
    Finish();
    dlg.OnOpen();
    EXPECT_EQ(win.openFolders.back(), dir.path());
    EXPECT_NE(dlg.pRom, nullptr);
}

// The board from the window: its scan in a fixed-width box, and the tune sent whole
// again once it is on the board.
TEST_F(PlayerDlgTest, BoardMenuEntries) {
    Start();
    dlg.OnSysCommand(CPlayerDlg::kBoardDetailsCommand);
    ASSERT_EQ(win.texts.size(), 1u);
    EXPECT_EQ(win.texts[0].first, "Board details");
    EXPECT_EQ(win.texts[0].second.rfind("cable: virtual board\ndevice 1: 0x020F30DD, Altera, ", 0), 0u)
        << win.texts[0].second;
    EXPECT_EQ(win.cableTexts.back(), "virtual board");  // the title names the cable
    EXPECT_FALSE(board->IsOpen());

    Drop(Tune(2, 1));
    dlg.OnSend();
    Finish();
    board->Reset();
    dlg.OnSysCommand(CPlayerDlg::kSendWholeCommand);
    Finish();
    EXPECT_EQ(board->Snapshot().user0.size(), 2 + 128 + 8 * 4096 + 4u);
    EXPECT_TRUE(win.Boxes().empty());
}

// Two FPGAs whose designs take uploads: the menu's choice is kept for that chain, and
// Play sends to the FPGA chosen.
TEST_F(PlayerDlgTest, ChooseTheFpga) {
    Start();
    board->SetChain({ChainDevice{0x020F30DD, 10, VirtualHub{}}, ChainDevice{0x02D020DD, 10, VirtualHub{}}});
    win.entryToChoose = 2;
    dlg.OnSysCommand(CPlayerDlg::kChooseFpgaCommand);
    ASSERT_EQ(win.choices.size(), 1u);
    EXPECT_EQ(win.choices[0],
              (std::vector<std::string>{
                  "The one FPGA whose design takes uploads",
                  "Device 1, 0x020F30DD (Cyclone IV E EP4CE22 / Cyclone III EP3C25 / Cyclone 10 LP 10CL025): its design "
                  "takes uploads",
                  "Device 2, 0x02D020DD (Cyclone V 5CSEA6/5CSEBA6): its design takes uploads"}));
    EXPECT_EQ(win.settings["Fpga-020F30DD-02D020DD"], "2");
    EXPECT_FALSE(board->IsOpen());

    board->Reset();
    Drop(Tune(2, 1));
    dlg.OnSend();
    Finish();
    EXPECT_TRUE(win.Boxes().empty());
    const auto r = board->Snapshot();
    EXPECT_EQ(r.devices[1].user0Bits, (2 + 128 + 8 * 4096 + 4u) * 8 + 1);  // the tune, and the last walk's bit
    EXPECT_EQ(r.devices[0].instructions.back(), 0x3FF);
}

// "Cable TCK...": the FT2232H cables open at the TCK chosen, kept for the next start.
TEST_F(PlayerDlgTest, TckMenuEntry) {
    Start();
    win.entryToChoose = 4;
    dlg.OnSysCommand(CPlayerDlg::kTckCommand);
    ASSERT_EQ(win.choices.size(), 1u);
    EXPECT_EQ(win.choices[0].size(), 5u);
    EXPECT_EQ(win.choices[0][4], "30 MHz (the chip's limit)");
    EXPECT_EQ(win.settings[CPlayerDlg::kTckSetting], "30");
    EXPECT_EQ(OpenTckKhz(0), 30000u);
    EXPECT_EQ(OpenTckKhz(12000), 12000u);  // --tck wins
    SetWindowTckKhz(0);
    StartAgain([] { EXPECT_EQ(OpenTckKhz(0), 30000u); });
    SetWindowTckKhz(0);
    EXPECT_EQ(OpenTckKhz(0), 6000u);
}

// "USB-Blaster II firmware...": a sound file is kept and given to the cable layer,
// a damaged one refused with its line; the next start takes the kept one.
TEST_F(PlayerDlgTest, FirmwareMenuEntry) {
    Start();
#ifdef _WIN32
    dlg.OnSysCommand(CPlayerDlg::kFirmwareCommand);
    ASSERT_EQ(win.Boxes().size(), 1u);
    EXPECT_EQ(win.Boxes()[0].text, "The USB-Blaster II is not supported on Windows yet: Tunlet drives the USB-Blaster here.");
    EXPECT_TRUE(win.firmwareFolders.empty());
    return;
#endif
    win.firmwareToChoose = dir.Write("bad.hex", {':', '0', '0'});
    dlg.OnSysCommand(CPlayerDlg::kFirmwareCommand);
    ASSERT_EQ(win.Boxes().size(), 1u);
    EXPECT_NE(win.Boxes()[0].text.find("bad.hex is damaged: line 1: the record is cut short"), std::string::npos);
    EXPECT_EQ(win.settings.count(CPlayerDlg::kFirmwareSetting), 0u);
    const std::string good = ":00000001FF\n";
    win.firmwareToChoose = dir.Write("fw/blaster_6810.hex", test::Bytes(good.begin(), good.end()));
    dlg.OnSysCommand(CPlayerDlg::kFirmwareCommand);
    EXPECT_EQ(win.settings[CPlayerDlg::kFirmwareSetting], win.firmwareToChoose);
    EXPECT_EQ(CableFirmware(), win.firmwareToChoose);
    dlg.OnSysCommand(CPlayerDlg::kFirmwareCommand);
    EXPECT_EQ(win.firmwareFolders, (std::vector<std::string>{"", "", dir.path() + "/fw"}));
    SetCableFirmware("");
    StartAgain([&] { EXPECT_EQ(CableFirmware(), win.firmwareToChoose); });
    SetCableFirmware("");
}

}  // namespace
}  // namespace tunlet
