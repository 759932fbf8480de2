// The native window in-process: dialog 102 from the resource script, driven through
// its messages (under wine with an X server).
#include <gtest/gtest.h>

#include "hosts/win32/Win32PlayerWindow.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <vector>

#include "app/PlayerDlg.h"
#include "cable/VirtualBoard.h"
#include "link/ChainScan.h"
#include "hosts/win32/Win32PlayerApp.h"
#include "hosts/win32/Win32Text.h"
#include "tests/TestFiles.h"

namespace tunlet {
namespace {

// Every box that opens on this thread is read and closed, as a user pressing OK would.
struct Box {
    std::wstring caption, text;
};
std::vector<Box>* g_boxes = nullptr;
HWND g_main = nullptr;
// Set: the next box found gets the main window closed under it first (the taskbar's
// close, taskkill without /F), then its OK.
bool g_closeMainUnderBox = false;

BOOL CALLBACK CloseBox(HWND hwnd, LPARAM) {
    wchar_t cls[32] = {};
    ::GetClassNameW(hwnd, cls, 32);
    if (hwnd == g_main || !::IsWindowVisible(hwnd) || std::wcscmp(cls, L"#32770") != 0) return TRUE;
    wchar_t caption[256] = {}, text[1024] = {};
    ::GetWindowTextW(hwnd, caption, 256);
    ::GetDlgItemTextW(hwnd, 0xFFFF, text, 1024);  // a message box's text
    if (g_boxes != nullptr) g_boxes->push_back({caption, text});
    if (g_closeMainUnderBox) {
        g_closeMainUnderBox = false;
        ::PostMessageW(g_main, WM_CLOSE, 0, 0);
    }
    ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return TRUE;
}

void CALLBACK CloseBoxes(HWND, UINT, UINT_PTR, ::DWORD) { ::EnumThreadWindows(::GetCurrentThreadId(), CloseBox, 0); }

class Win32WindowTest : public testing::Test {
protected:
    void SetUp() override {
        InitWin32Controls();
        SetCableBackend(board);
        g_boxes = &boxes;
        timer = ::SetTimer(nullptr, 0, 20, CloseBoxes);
        ASSERT_NE(window.Create(), nullptr) << "CreateDialogParam failed, error " << ::GetLastError();
        g_main = window.Handle();
    }
    void TearDown() override {
        window.End();
        ::KillTimer(nullptr, timer);
        g_boxes = nullptr;
        g_main = nullptr;
        SetCableBackend(nullptr);
    }
    HWND Item(int id) { return ::GetDlgItem(window.Handle(), id); }
    std::wstring Text(int id) {
        wchar_t text[4096] = {};
        ::GetDlgItemTextW(window.Handle(), id, text, 4096);
        return text;
    }
    void Click(int id) {
        ::SendMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Item(id)));
    }
    // A drop as the shell makes it: DROPFILES and the wide path, in global memory.
    void Drop(const std::string& path) {
        const std::wstring wide = Widen(path);
        const std::size_t bytes = sizeof(DROPFILES) + (wide.size() + 2) * sizeof(wchar_t);
        HGLOBAL memory = ::GlobalAlloc(GHND, bytes);
        auto* files = static_cast<DROPFILES*>(::GlobalLock(memory));
        files->pFiles = sizeof(DROPFILES);
        files->fWide = TRUE;
        std::memcpy(reinterpret_cast<char*>(files) + sizeof(DROPFILES), wide.c_str(), wide.size() * sizeof(wchar_t));
        ::GlobalUnlock(memory);
        ::SendMessageW(window.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
    }
    void WaitIdle() {
        window.PumpUntil([&] { return dlg.IsIdle(); });
    }

    std::shared_ptr<VirtualBoard> board = VirtualBoard::Create();
    AppOptions options;  // what tunlet.exe's command line gave
    CPlayerDlg dlg;
    Win32PlayerWindow window{dlg, [this] { StartWin32Player(dlg, window, options); }};
    std::vector<Box> boxes;
    UINT_PTR timer = 0;
};

TEST_F(Win32WindowTest, DialogFromTheResourceScript) {
    wchar_t caption[128] = {};
    ::GetWindowTextW(window.Handle(), caption, 128);
    EXPECT_EQ(std::wstring(caption), L"NES NSF Player on FPGA");
    for (int id : {kIdCancel, kIdSend, kIdInfo, kIdPath, kIdProgress, kIdSongSlider, kIdNext}) {
        EXPECT_NE(Item(id), nullptr) << id;
    }
    EXPECT_EQ(Text(kIdSend), L"Play");
    EXPECT_FALSE(::IsWindowEnabled(Item(kIdSend)));
    EXPECT_FALSE(::IsWindowEnabled(Item(kIdNext)));
    EXPECT_FALSE(::IsWindowEnabled(Item(kIdSongSlider)));
    // The About entry at the end of the real system menu.
    HMENU menu = ::GetSystemMenu(window.Handle(), FALSE);
    ASSERT_NE(menu, nullptr);
    const int count = ::GetMenuItemCount(menu);
    EXPECT_EQ(::GetMenuItemID(menu, count - 1), 16u);
    wchar_t entry[128] = {};
    ::GetMenuStringW(menu, static_cast<UINT>(count - 1), entry, 128, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(entry), Widen("Tunlet のﾊﾞｰｼﾞｮﾝ情報(&A)..."));
    EXPECT_EQ(board->Snapshot().opens, 1);  // the start-up probe
}

TEST_F(Win32WindowTest, DropOfAJapanesePathThenPlayAndNext) {
    test::TempDir dir;
    test::NsfSpec spec;
    spec.songs = 3;
    const std::string path = dir.Write("曲/チップチューン.nsf", test::MakeNsf(spec, 1000));
    Drop(path);
    EXPECT_EQ(Text(kIdPath), Widen(path));
    EXPECT_EQ(Text(kIdInfo).rfind(L"SongName : Song\r\nArtist   : Artist\r\n", 0), 0u);
    EXPECT_TRUE(::IsWindowEnabled(Item(kIdSend)));
    EXPECT_TRUE(::IsWindowEnabled(Item(kIdNext)));

    Click(kIdSend);
    EXPECT_EQ(Text(kIdSend), L"Stop");
    WaitIdle();
    EXPECT_EQ(Text(kIdSend), L"Play");
    EXPECT_EQ(::SendMessageW(Item(kIdProgress), PBM_GETPOS, 0, 0), 100);
    EXPECT_EQ(board->Snapshot().user0.size(), 2 + 128 + 8 * 4096 + 4u);

    // Next: the second song, header only now that the tune is on the board.
    board->Reset();
    Click(kIdNext);
    WaitIdle();
    EXPECT_EQ(::SendMessageW(Item(kIdSongSlider), TBM_GETPOS, 0, 0), 1);
    const auto r = board->Snapshot();
    ASSERT_EQ(r.user0.size(), 2 + 128 + 3u);
    EXPECT_EQ(r.user0[2 + 7], 2);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(Win32WindowTest, StopThenWriteErrorBoxFromTheWorker) {
    Drop(test::DataFile("db_apu.nsf"));
    board->HoldWrite(kBoardCheckWrites + 12);
    Click(kIdSend);
    ASSERT_TRUE(board->WaitHeld());
    Click(kIdSend);  // Stop
    EXPECT_EQ(Text(kIdSend), L"Play");
    board->ReleaseHeld();
    WaitIdle();
    EXPECT_NE(::SendMessageW(Item(kIdProgress), PBM_GETPOS, 0, 0), 100);
    EXPECT_EQ(board->Snapshot().state, TapState::RunTestIdle);

    board->FailWrite(kBoardCheckWrites + 13);
    Click(kIdSend);
    WaitIdle();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"write err");
    EXPECT_EQ(boxes[0].caption, L"tunlet_win32_tests");  // the program's name
    EXPECT_FALSE(board->IsOpen());
}

// A close that reaches the window while the worker's box is up ends it once the box
// is gone, instead of waiting for a worker that waits for the box.
TEST_F(Win32WindowTest, CloseWhileTheWorkersBoxIsUp) {
    Drop(test::DataFile("db_apu.nsf"));
    board->FailWrite(13);
    g_closeMainUnderBox = true;
    Click(kIdSend);
    window.PumpUntil([&] { return window.Handle() == nullptr; });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"write err");
    EXPECT_FALSE(g_closeMainUnderBox);
    EXPECT_TRUE(dlg.IsIdle());
    EXPECT_FALSE(board->IsOpen());
}

TEST_F(Win32WindowTest, AboutBoxFromTheSystemMenu) {
    ::SendMessageW(window.Handle(), WM_SYSCOMMAND, 16, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, Widen("Tunletのﾊﾞｰｼﾞｮﾝ情報"));
}

// Play reads the chain first: a board that is off gets the not-connected box with
// its reason on a second line, a chain Tunlet does not drive a box of its own, and
// nothing of the upload is sent; without the check the upload goes.
TEST_F(Win32WindowTest, BoardCheckBoxes) {
    Drop(test::DataFile("db_apu.nsf"));
    struct Case {
        std::vector<ChainDevice> chain;
        TdoLine line;
        std::wstring caption, text;
    };
    const Case cases[] = {
        {DefaultBoardChain(), TdoLine::StuckLow, L"Ready", L"FPGA board is not connected.\nTDO is stuck low"},
        {{ChainDevice{0x0362D093, 6, std::nullopt}}, TdoLine::Chain, L"",
         L"the JTAG chain holds 1 device: 0x0362D093; Tunlet drives a chain of one Intel FPGA"},
    };
    for (const Case& c : cases) {
        board->SetChain(c.chain, c.line);
        boxes.clear();
        Click(kIdSend);
        window.PumpUntil([&] { return !boxes.empty(); });
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.text);
        if (!c.caption.empty()) {
            EXPECT_EQ(boxes[0].caption, c.caption);
        }
        EXPECT_TRUE(dlg.IsIdle());
        EXPECT_EQ(Text(kIdSend), L"Play");
        EXPECT_FALSE(board->Snapshot().hasUser1);  // nothing of the upload
    }
    boxes.clear();
    dlg.SetBoardCheck(false);
    Click(kIdSend);
    WaitIdle();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(board->Snapshot().user0.size(), 2 + 128 + 8 * 4096 + 4u);
}

// tunlet.exe --packed: whole blocks per write, a song change in one write, the same
// bits at the board.
class Win32PackedWindowTest : public Win32WindowTest {
protected:
    Win32PackedWindowTest() { options.packed = true; }
};

TEST_F(Win32PackedWindowTest, PlayWritesWholeBlocks) {
    Drop(test::DataFile("db_apu.nsf"));
    Click(kIdSend);
    WaitIdle();
    auto r = board->Snapshot();
    EXPECT_EQ(r.user0.size(), 2 + 128 + 8 * 4096 + 4u);
    // The start-up probe's board check, Play's board check, then the upload.
    std::vector<tunlet::DWORD> writes = {kChainReadCableBytes, kChainReadCableBytes, 62 + 1 + 3 + 131};
    writes.insert(writes.end(), 8, 4162);
    writes.push_back(5 + 6);
    EXPECT_EQ(r.writes, writes);
    EXPECT_EQ(::SendMessageW(Item(kIdProgress), PBM_GETPOS, 0, 0), 100);

    board->Reset();
    Click(kIdSend);  // the tune is on the board: its header alone, in one write
    WaitIdle();
    r = board->Snapshot();
    EXPECT_EQ(r.writes, (std::vector<tunlet::DWORD>{kChainReadCableBytes, 62 + 1 + 3 + 131 + 4 + 6}));
    EXPECT_EQ(r.user0.size(), 2 + 128 + 3u);
    EXPECT_EQ(r.state, TapState::RunTestIdle);
    EXPECT_TRUE(boxes.empty());
}

}  // namespace
}  // namespace tunlet

int wmain(int argc, wchar_t** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
