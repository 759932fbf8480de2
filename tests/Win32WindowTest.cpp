// The native window in-process: dialog 102 from the resource script, driven through
// its messages (under wine with an X server).
#include <gtest/gtest.h>

#include "hosts/win32/Win32PlayerWindow.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <dlgs.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "app/PlayerDlg.h"
#include "cable/CableChoice.h"
#include "cable/VirtualBoard.h"
#include "res/DialogTemplates.h"
#include "res/Strings.h"
#include "link/ChainScan.h"
#include "hosts/win32/Win32PlayerApp.h"
#include "hosts/win32/Win32Text.h"
#include "tests/TestFiles.h"

namespace tunlet {
namespace {

// Whether text fits width dialog units of a dialog whose font is font at dpi.
bool FitsAt(HFONT font, int dpi, const std::wstring& text, int width) {
    LOGFONTW face{};
    ::GetObjectW(font, sizeof face, &face);
    face.lfHeight = -::MulDiv(9, dpi, 72);  // the templates' 9 points
    HFONT scaled = ::CreateFontIndirectW(&face);
    HDC dc = ::GetDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, scaled);
    SIZE letters{}, extent{};
    ::GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    ::DeleteObject(scaled);
    const int baseX = (letters.cx / 26 + 1) / 2;  // the dialog manager's average character width
    return extent.cx <= ::MulDiv(width, baseX, 4);
}

// Every box that opens on this thread is read and closed, as a user pressing OK would.
struct Box {
    std::wstring caption, text;
    HWND owner = nullptr;
    RECT rect{};
    bool icon = false;        // an icon static shows an icon
    bool linesFit = true;     // every text static's text fits it at 96 and 144 dpi
    std::wstring folder;      // where the Open dialog was when the name was typed
};
std::vector<Box>* g_boxes = nullptr;
HWND g_main = nullptr;
// Set: the next box found gets the main window closed under it first (the taskbar's
// close, taskkill without /F), then its OK.
bool g_closeMainUnderBox = false;
// What a user types in the Open dialog's name box.
std::wstring g_openName;
// The row a user picks in a choice box's list (-1: the one it shows).
int g_choiceRow = -1;

// Set while Ctrl is held down for a Ctrl+O the window has not yet taken: let go once
// the Open dialog shows.
bool g_ctrlHeld = false;

BOOL CALLBACK CloseBox(HWND hwnd, LPARAM) {
    wchar_t cls[32] = {};
    ::GetClassNameW(hwnd, cls, 32);
    if (hwnd == g_main || !::IsWindowVisible(hwnd) || std::wcscmp(cls, L"#32770") != 0) return TRUE;
    wchar_t caption[256] = {}, text[1024] = {};
    ::GetWindowTextW(hwnd, caption, 256);
    if (std::wstring(caption) == L"Open" && ::GetDlgItem(hwnd, cmb13) != nullptr) {
        if (g_ctrlHeld) {
            BYTE keys[256] = {};
            ::GetKeyboardState(keys);
            keys[VK_CONTROL] = 0;
            ::SetKeyboardState(keys);
            g_ctrlHeld = false;
        }
        // A name typed before the dialog is in its folder would be looked for elsewhere
        // (or wiped as it fills its controls): wait until it says where it is.
        wchar_t folder[MAX_PATH] = {};
        if (::SendMessageW(hwnd, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder)) <= 1) return TRUE;
        // Typed once: a name it did not find there is not looked for again and again.
        if (g_boxes != nullptr && std::any_of(g_boxes->begin(), g_boxes->end(), [](const Box& b) { return !b.folder.empty(); })) {
            ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return TRUE;
        }
        Box box;
        box.caption = caption;
        box.owner = ::GetWindow(hwnd, GW_OWNER);
        box.folder = folder;
        if (g_boxes != nullptr) g_boxes->push_back(box);
        ::SetDlgItemTextW(hwnd, cmb13, g_openName.c_str());
        ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return TRUE;
    }
    ::GetDlgItemTextW(hwnd, 0xFFFF, text, 1024);  // a message box's text
    Box box;
    box.caption = caption;
    box.text = text;
    box.owner = ::GetWindow(hwnd, GW_OWNER);
    ::GetWindowRect(hwnd, &box.rect);
    const res::DialogTemplate* about = res::FindDialogTemplate(res::kIddAboutBox);
    for (HWND child = ::GetWindow(hwnd, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        ::GetClassNameW(child, cls, 32);
        if (_wcsicmp(cls, L"static") != 0) continue;
        if ((::GetWindowLongW(child, GWL_STYLE) & 0x1F) == SS_ICON) {
            box.icon |= ::SendMessageW(child, STM_GETICON, 0, 0) != 0;
            continue;
        }
        wchar_t line[256] = {};
        ::GetWindowTextW(child, line, 256);
        for (const res::ControlTemplate& c : about->controls) {
            if (Widen(c.text) != line) continue;
            const auto font = reinterpret_cast<HFONT>(::SendMessageW(child, WM_GETFONT, 0, 0));
            box.linesFit &= FitsAt(font, 96, line, c.cx) && FitsAt(font, 144, line, c.cx);
        }
    }
    if (g_boxes != nullptr) g_boxes->push_back(box);
    if (g_closeMainUnderBox) {
        g_closeMainUnderBox = false;
        ::PostMessageW(g_main, WM_CLOSE, 0, 0);
    }
    // A choice box: its rows become the box's text, one a line, and the row is picked.
    if (HWND list = ::GetDlgItem(hwnd, kIdChoiceList); list != nullptr) {
        const auto rows = static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < rows; ++i) {
            std::wstring row(static_cast<std::size_t>(::SendMessageW(list, LB_GETTEXTLEN, i, 0)), L'\0');
            ::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row.data()));
            g_boxes->back().text += row + L"\n";
        }
        if (g_choiceRow >= 0) ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(g_choiceRow), 0);
    }
    ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return TRUE;
}

void CALLBACK CloseBoxes(HWND, UINT, UINT_PTR, ::DWORD) { ::EnumThreadWindows(::GetCurrentThreadId(), CloseBox, 0); }

RECT WorkArea(HWND hwnd) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
    return monitor.rcWork;
}
void ExpectSameCentre(const RECT& a, const RECT& b) {
    EXPECT_LE(std::abs((a.left + a.right) / 2 - (b.left + b.right) / 2), 1);
    EXPECT_LE(std::abs((a.top + a.bottom) / 2 - (b.top + b.bottom) / 2), 1);
}

class Win32WindowTest : public testing::Test {
protected:
    void SetUp() override {
        InitWin32Controls();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tunlet");  // no settings of an earlier test
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
    // The focus moved as Tab moves it: a push button that gets it becomes the default
    // button, which Enter would press.
    void Focus(int id) { ::SendMessageW(window.Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE); }
    // What the keyboard would queue for Enter on a control, then one round of the
    // window's message loop.
    void PressEnter(HWND control) {
        ::PostMessageW(control, WM_KEYDOWN, VK_RETURN, 1);
        ::PostMessageW(control, WM_CHAR, L'\r', 1);
        ::PostMessageW(control, WM_KEYUP, VK_RETURN, 0xC0000001);
        int rounds = 0;
        window.PumpUntil([&] { return rounds++ > 0; });
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
    EXPECT_EQ(std::wstring(caption), L"NES NSF Player on FPGA \u2013 virtual board");  // the cable the probe opened
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
    // Open and the board's entries before it, the board check ticked.
    std::vector<UINT> ids;
    for (int i = count - 10; i < count; ++i) ids.push_back(::GetMenuItemID(menu, i));
    EXPECT_EQ(ids, (std::vector<UINT>{0, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0, 16}));
    EXPECT_EQ(::GetMenuState(menu, 0x50, MF_BYCOMMAND) & MF_CHECKED, static_cast<UINT>(MF_CHECKED));
    // Resizable and maximisable.
    EXPECT_TRUE(::GetWindowLongW(window.Handle(), GWL_STYLE) & WS_THICKFRAME);
    EXPECT_TRUE(::GetWindowLongW(window.Handle(), GWL_STYLE) & WS_MAXIMIZEBOX);
    EXPECT_EQ(board->Snapshot().opens, 1);  // the start-up probe
    // A minimize box, and the window in the middle of the screen.
    EXPECT_TRUE(::GetWindowLongW(window.Handle(), GWL_STYLE) & WS_MINIMIZEBOX);
    RECT r{};
    ::GetWindowRect(window.Handle(), &r);
    ExpectSameCentre(r, WorkArea(window.Handle()));
}

TEST_F(Win32WindowTest, MinimizedAndRestoredKeepsItsState) {
    Drop(test::DataFile("db_apu.nsf"));
    ::ShowWindow(window.Handle(), SW_MINIMIZE);
    EXPECT_TRUE(::IsIconic(window.Handle()));
    // The taskbar shows the program's icon meanwhile.
    EXPECT_NE(::SendMessageW(window.Handle(), WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(::SendMessageW(window.Handle(), WM_GETICON, ICON_SMALL, 0), 0);
    ::ShowWindow(window.Handle(), SW_RESTORE);
    EXPECT_FALSE(::IsIconic(window.Handle()));
    EXPECT_TRUE(::IsWindowEnabled(Item(kIdSend)));
    EXPECT_EQ(Text(kIdInfo).rfind(L"SongName : db_apu test\r\n", 0), 0u);
}

// Enter on a focused push button presses it; in the summary box and as the dialog's
// OK command it ends nothing; in the path box it loads the typed path as a drop would.
TEST_F(Win32WindowTest, EnterLoadsTheTypedPathAndNeverCloses) {
    Drop(test::DataFile("clip_5b.nes"));
    Focus(kIdInfo);
    PressEnter(Item(kIdInfo));
    ASSERT_NE(window.Handle(), nullptr);
    EXPECT_EQ(board->Snapshot().opens, 1);  // Play was not pressed
    Focus(kIdSend);
    PressEnter(Item(kIdSend));
    WaitIdle();
    EXPECT_EQ(board->Snapshot().opens, 2);  // Play was pressed
    ASSERT_NE(window.Handle(), nullptr);
    Focus(kIdNext);
    ::SendMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_NE(window.Handle(), nullptr);

    test::TempDir dir;
    const std::string tune = dir.Write("曲 の フォルダ/チップ.nsf", test::ReadAll(test::DataFile("db_apu.nsf")));
    ::SetDlgItemTextW(window.Handle(), kIdPath, (L"\"" + Widen(tune) + L"\"").c_str());  // as Explorer copies a path
    Focus(kIdPath);
    PressEnter(Item(kIdPath));
    ASSERT_NE(window.Handle(), nullptr);
    EXPECT_EQ(Text(kIdPath), Widen(tune));
    EXPECT_EQ(Text(kIdInfo).rfind(L"SongName : db_apu test\r\n", 0), 0u);
    EXPECT_EQ(dlg.pRom, nullptr);
    // The dialog's OK command with the focus in the path box does the same.
    ::SetDlgItemTextW(window.Handle(), kIdPath, Widen(test::DataFile("clip_5b.nes")).c_str());
    ::SendMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_NE(window.Handle(), nullptr);
    EXPECT_EQ(::GetFocus(), Item(kIdPath));
    EXPECT_NE(dlg.pRom, nullptr);
    EXPECT_TRUE(boxes.empty());
    // Escape (the dialog's Cancel) still closes.
    ::SendMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ(window.Handle(), nullptr);
}

// The ROM summary's tab-separated lines line up: every value starts at one x, right
// of the longest field name.
TEST_F(Win32WindowTest, RomSummaryColumnsLineUp) {
    Drop(test::DataFile("db_apu.nes"));
    HWND box = Item(kIdInfo);
    const std::wstring text = Text(kIdInfo);
    HDC dc = ::GetDC(box);
    HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(box, WM_GETFONT, 0, 0)));
    std::set<int> valueX;
    int widestName = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) end = text.size();
        const std::size_t tab = text.find(L'\t', start);
        if (tab < end) {
            SIZE name{};
            ::GetTextExtentPoint32W(dc, text.c_str() + start, static_cast<int>(tab - start), &name);
            widestName = std::max(widestName, static_cast<int>(name.cx));
            valueX.insert(static_cast<short>(LOWORD(::SendMessageW(box, EM_POSFROMCHAR, tab + 1, 0))));
        }
        start = end + 2;
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(box, dc);
    ASSERT_EQ(valueX.size(), 1u);
    const int left = static_cast<short>(LOWORD(::SendMessageW(box, EM_POSFROMCHAR, 0, 0)));
    EXPECT_GT(*valueX.begin() - left, widestName);
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

// The track list, its rows in play order, a double-click and Enter on a row, the
// song label that follows the slider and the Auto-advance box.
TEST_F(Win32WindowTest, TrackListRowsPlayTheirSong) {
    test::TempDir dir;
    // TUNLET_SCREENSHOT_ALBUM may name a copy of this album.m3u, with its tune beside
    // it, in a tidy folder (for the README's picture).
    const char* shownAlbum = std::getenv("TUNLET_SCREENSHOT_ALBUM");
    const std::string album = test::WriteAlbumM3u(dir);
    Drop(shownAlbum ? shownAlbum : album);
    HWND list = Item(kIdTrackList);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(::SendMessageW(list, LB_GETCOUNT, 0, 0), 4);
    wchar_t row[128] = {};
    ::SendMessageW(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(row));
    EXPECT_EQ(std::wstring(row), L"   3  Overworld  1:30");
    EXPECT_EQ(Text(kIdSongLabel), L"Song 1 of 5: Title Screen");

    // A double-click on row 1 plays song 3; the row is marked as playing.
    ::SendMessageW(list, LB_SETCURSEL, 0, 0);
    ::SendMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(kIdTrackList, LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
    WaitIdle();
    ASSERT_EQ(board->Snapshot().user0.size(), 2 + 128 + 8 * 4096 + 4u);
    EXPECT_EQ(board->Snapshot().user0[2 + 7], 3);
    ::SendMessageW(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(row));
    EXPECT_EQ(std::wstring(row), L">  3  Overworld  1:30");
    EXPECT_EQ(Text(kIdSongLabel), L"Song 3 of 5: Overworld");
    EXPECT_EQ(Text(kIdTimeLeft), L"1:30 left");
    // TUNLET_SCREENSHOT_PAUSE_MS keeps the window up that long, Auto-advance ticked,
    // for a picture of the X server's screen.
    if (const char* pause = std::getenv("TUNLET_SCREENSHOT_PAUSE_MS")) {
        ::CheckDlgButton(window.Handle(), kIdAutoAdvance, BST_CHECKED);
        RECT r{};
        ::GetWindowRect(window.Handle(), &r);
        std::fprintf(stderr, "window %ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
        const ::DWORD until = ::GetTickCount() + static_cast<::DWORD>(std::atoi(pause));
        window.PumpUntil([&] { return ::GetTickCount() > until; });
        ::CheckDlgButton(window.Handle(), kIdAutoAdvance, BST_UNCHECKED);
    }

    // Enter on the list plays the selected row and leaves the window open.
    board->Reset();
    ::SetFocus(list);
    ::SendMessageW(list, LB_SETCURSEL, 1, 0);
    Click(IDOK);
    WaitIdle();
    EXPECT_NE(window.Handle(), nullptr);
    ASSERT_EQ(board->Snapshot().user0.size(), 2 + 128 + 3u);
    EXPECT_EQ(board->Snapshot().user0[2 + 7], 1);

    // The slider moved by the user updates the label.
    ::SendMessageW(Item(kIdSongSlider), TBM_SETPOS, TRUE, 1);
    ::SendMessageW(window.Handle(), WM_HSCROLL, TB_THUMBPOSITION, reinterpret_cast<LPARAM>(Item(kIdSongSlider)));
    EXPECT_EQ(Text(kIdSongLabel), L"Song 2 of 5");
    // A click ticks Auto-advance as a check box of its own.
    EXPECT_FALSE(window.IsChecked(kIdAutoAdvance));
    ::SendMessageW(Item(kIdAutoAdvance), BM_CLICK, 0, 0);
    EXPECT_TRUE(window.IsChecked(kIdAutoAdvance));
    EXPECT_EQ(Text(kIdAutoAdvance), L"Auto-advance");
    EXPECT_TRUE(boxes.empty());
}

// The controls of the original layout keep their places; the new ones lie below them.
TEST_F(Win32WindowTest, NewControlsBelowTheOriginalLayout) {
    RECT next{}, list{}, box{};
    ::GetWindowRect(Item(kIdNext), &next);
    ::GetWindowRect(Item(kIdTrackList), &list);
    ::GetWindowRect(Item(kIdAutoAdvance), &box);
    EXPECT_GT(list.top, next.bottom);
    EXPECT_GT(box.top, list.bottom);
    RECT client{};
    ::GetClientRect(window.Handle(), &client);
    ::MapWindowPoints(window.Handle(), nullptr, reinterpret_cast<POINT*>(&client), 2);
    EXPECT_LE(box.bottom, client.bottom);
    // Open... in the row below the original controls.
    RECT open{};
    ::GetWindowRect(Item(kIdOpen), &open);
    EXPECT_GT(open.top, next.bottom);
    EXPECT_LT(open.bottom, list.top);
    EXPECT_EQ(Text(kIdOpen), L"Open...");
    EXPECT_TRUE(::IsWindowVisible(Item(kIdOpen)));
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
    EXPECT_EQ(boxes[0].text.rfind(L"write err\n", 0), 0u);  // and the reason below
    EXPECT_EQ(boxes[0].owner, window.Handle());
    EXPECT_EQ(boxes[0].caption, L"Tunlet");
    EXPECT_TRUE(boxes[0].icon);
    RECT main{};
    ::GetWindowRect(window.Handle(), &main);
    ExpectSameCentre(boxes[0].rect, main);
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
    EXPECT_EQ(boxes[0].text.rfind(L"write err", 0), 0u);
    EXPECT_FALSE(g_closeMainUnderBox);
    EXPECT_TRUE(dlg.IsIdle());
    EXPECT_FALSE(board->IsOpen());
}

TEST_F(Win32WindowTest, AboutBoxFromTheSystemMenu) {
    ::SendMessageW(window.Handle(), WM_SYSCOMMAND, 16, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, Widen("Tunletのﾊﾞｰｼﾞｮﾝ情報"));
    // Owned by the window and in its middle; icon 128 shows; its lines fit at 96 and 144 dpi.
    EXPECT_EQ(boxes[0].owner, window.Handle());
    RECT main{};
    ::GetWindowRect(window.Handle(), &main);
    ExpectSameCentre(boxes[0].rect, main);
    EXPECT_TRUE(boxes[0].icon);
    EXPECT_TRUE(boxes[0].linesFit);
}

// The program's own modal loop, keys queued as the keyboard queues them: Enter on the
// focused Close button presses it, as in every dialog, and the dialog ends.
Win32PlayerWindow* g_modal = nullptr;
int g_modalSteps = 0;

void QueueKey(HWND control, WPARAM key) {
    ::PostMessageW(control, WM_KEYDOWN, key, 1);
    if (key == VK_RETURN || key == VK_ESCAPE) ::PostMessageW(control, WM_CHAR, key == VK_RETURN ? L'\r' : 0x1B, 1);
    ::PostMessageW(control, WM_KEYUP, key, 0xC0000001);
}

void CALLBACK ModalStep(HWND, UINT, UINT_PTR, ::DWORD) {
    HWND dialog = g_modal->Handle();
    if (dialog == nullptr) return;
    HWND close = ::GetDlgItem(dialog, kIdCancel);
    if (g_modalSteps == 0) {
        ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(close), TRUE);  // as Tab moves it
        QueueKey(close, VK_RETURN);
    } else if (g_modalSteps == 1) {
        QueueKey(close, VK_ESCAPE);
    } else if (g_modalSteps >= 10) {
        ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);  // the test ends, failed
    }
    ++g_modalSteps;
}

TEST(Win32Modal, EnterOnTheFocusedCloseButtonPressesIt) {
    InitWin32Controls();
    SetCableBackend(VirtualBoard::Create());
    {
        CPlayerDlg dlg;
        Win32PlayerWindow window(dlg, [&] { StartWin32Player(dlg, window, {}); });
        g_modal = &window;
        g_modalSteps = 0;
        const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, ModalStep);
        window.RunModal();
        ::KillTimer(nullptr, timer);
        g_modal = nullptr;
        // Ended by the Enter of the first step.
        EXPECT_EQ(g_modalSteps, 1);
    }
    SetCableBackend(nullptr);
}

// Ctrl+O shows the system's Open dialog, owned by the window, in the folder of the
// last file: a name typed there loads as a drop. The name is typed once the dialog
// says which folder it is in, and only once: a dialog in another folder (the last
// folder lost) shows it, where typing it again and again would never end.
TEST_F(Win32WindowTest, OpenWithCtrlO) {
    Drop(test::DataFile("clip_5b.nes"));
    g_openName = L"db_apu.nsf";
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[VK_CONTROL] = 0x80;
    ::SetKeyboardState(keys);
    g_ctrlHeld = true;
    // A dialog that never became ready, or a box left up, is cancelled after a minute:
    // the test then fails instead of waiting for ever.
    const DWORD ui = ::GetCurrentThreadId();
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool timedOut = false;
    std::thread watchdog([&] {
        if (::WaitForSingleObject(done, 60000) == WAIT_OBJECT_0) return;
        timedOut = true;
        ::EnumThreadWindows(ui, [](HWND hwnd, LPARAM) -> BOOL {
            if (hwnd != g_main) ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return TRUE;
        }, 0);
    });
    ::PostMessageW(Item(kIdPath), WM_KEYDOWN, 'O', 1);
    int rounds = 0;
    window.PumpUntil([&] { return rounds++ > 0; });  // the round that takes the key runs the dialog
    ::SetEvent(done);
    watchdog.join();
    ::CloseHandle(done);
    g_ctrlHeld = false;
    keys[VK_CONTROL] = 0;
    ::SetKeyboardState(keys);
    EXPECT_FALSE(timedOut);
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.size(), 1u);  // more: the name was not found where the dialog was
    EXPECT_EQ(boxes[0].caption, L"Open");
    EXPECT_EQ(boxes[0].owner, window.Handle());
    wchar_t data[MAX_PATH] = {};
    ::GetFullPathNameW(Widen(test::DataFile("")).c_str(), MAX_PATH, data, nullptr);
    std::wstring expected = data;
    if (!expected.empty() && expected.back() == L'\\') expected.pop_back();
    EXPECT_EQ(_wcsicmp(boxes[0].folder.c_str(), expected.c_str()), 0) << Narrow(boxes[0].folder) << " " << Narrow(expected);
    EXPECT_EQ(Text(kIdInfo).rfind(L"SongName : db_apu test", 0), 0u) << Narrow(Text(kIdInfo));
}

// The session ending during a transfer (a logout, a shutdown): WM_QUERYENDSESSION
// lets it end and stops nothing; WM_ENDSESSION stops the transfer as Stop does, and
// ends the window once the block under way and the closing walk are out.
TEST_F(Win32WindowTest, EndSessionStopsTheTransferFirst) {
    Drop(test::DataFile("db_apu.nsf"));
    board->HoldWrite(kBoardCheckWrites + 13);  // the third block's
    Click(kIdSend);
    ASSERT_TRUE(board->WaitHeld());
    EXPECT_EQ(::SendMessageW(window.Handle(), WM_QUERYENDSESSION, 0, 0), TRUE);
    EXPECT_EQ(dlg.fBusy, 1);
    std::thread release([&] {
        // The held write goes on once Stop has been asked for (or after 20 s, failing).
        for (int i = 0; i < 20000 && dlg.fBusy.load() != 0; ++i) ::Sleep(1);
        board->ReleaseHeld();
    });
    ::SendMessageW(window.Handle(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    release.join();
    EXPECT_EQ(window.Handle(), nullptr);
    const auto r = board->Snapshot();
    EXPECT_EQ(r.user0.size(), 2 + 128 + 3 * 4096 + 4u);
    EXPECT_EQ(r.state, TapState::RunTestIdle);
    EXPECT_FALSE(r.outputEnable);
    EXPECT_FALSE(board->IsOpen());
}

// Larger than the template: the summary and the list take the height, Close keeps to
// the right edge; the smallest size the frame allows is the template's.
TEST_F(Win32WindowTest, Resizing) {
    RECT window0{}, summary0{}, close0{};
    ::GetWindowRect(window.Handle(), &window0);
    ::GetWindowRect(Item(kIdInfo), &summary0);
    ::GetWindowRect(Item(kIdCancel), &close0);
    ::SetWindowPos(window.Handle(), nullptr, 0, 0, window0.right - window0.left + 100,
                   window0.bottom - window0.top + 200, SWP_NOMOVE | SWP_NOZORDER);
    RECT summary{}, close{};
    ::GetWindowRect(Item(kIdInfo), &summary);
    ::GetWindowRect(Item(kIdCancel), &close);
    EXPECT_EQ(summary.right - summary.left, summary0.right - summary0.left + 100);
    EXPECT_EQ(summary.bottom - summary.top, summary0.bottom - summary0.top + 100);
    EXPECT_EQ(close.left - close0.left, 100);
    EXPECT_EQ(close.top - close0.top, 100);
    MINMAXINFO info{};
    ::SendMessageW(window.Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, window0.right - window0.left);
    EXPECT_EQ(info.ptMinTrackSize.y, window0.bottom - window0.top);
}

// tunlet --cable virtual: a panel under the controls shows what the board received
// after each Play; the summary box keeps the file's summary.
TEST(Win32AppStart, VirtualBoardPanel) {
    InitWin32Controls();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tunlet");
    const CableChoice cable = ChooseCable("virtual");
    AppOptions options;
    options.file = test::DataFile("db_apu.nsf");
    options.cable = "virtual";
    options.board = cable.board;
    SetCableBackend(cable.backend);
    {
        CPlayerDlg dlg;
        Win32PlayerWindow window(dlg, [&] { StartWin32Player(dlg, window, options); });
        ASSERT_NE(window.Create(), nullptr);
        wchar_t caption[128] = {};
        ::GetWindowTextW(window.Handle(), caption, 128);
        EXPECT_EQ(std::wstring(caption), L"NES NSF Player on FPGA \u2013 virtual board");
        HWND panel = window.BoardPanel();
        ASSERT_NE(panel, nullptr);
        RECT p{}, play{}, client{};
        ::GetWindowRect(panel, &p);
        ::GetWindowRect(::GetDlgItem(window.Handle(), kIdSend), &play);
        EXPECT_GT(p.top, play.bottom);
        ::MapWindowPoints(nullptr, window.Handle(), reinterpret_cast<POINT*>(&p), 2);
        ::GetClientRect(window.Handle(), &client);
        EXPECT_LE(p.bottom, client.bottom);  // the window grew to hold it

        ::SendMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(kIdSend, BN_CLICKED), 0);
        window.PumpUntil([&] { return dlg.IsIdle(); });
        wchar_t report[2048] = {};
        ::GetWindowTextW(panel, report, 2048);
        const std::wstring shown = report;
        EXPECT_EQ(shown.rfind(L"virtual board received ", 0), 0u) << Narrow(shown);
        EXPECT_NE(shown.find(L"\r\nUSER0: 32902 bytes"), std::wstring::npos);
        EXPECT_NE(shown.find(L"TAP: Run-Test/Idle, outputs released"), std::wstring::npos);
        wchar_t info[64] = {};
        ::GetDlgItemTextW(window.Handle(), kIdInfo, info, 64);
        EXPECT_EQ(std::wstring(info).rfind(L"SongName : db_apu test", 0), 0u);
        window.End();
    }
    SetCableBackend(nullptr);
}

// A damaged store is ignored; the window opens where the last run left it, its
// start-up box centred there; a place saved larger than the screen comes back fitting it.
TEST(Win32AppStart, PlaceComesBackWithTheStartUpBoxOnIt) {
    InitWin32Controls();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tunlet");
    const auto board = VirtualBoard::Create();
    SetCableBackend(board);
    std::vector<Box> boxes;
    g_boxes = &boxes;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, CloseBoxes);
    const RECT work = WorkArea(nullptr);
    // The first run finds values of the wrong type, as a damaged store would hold.
    const DWORD junk = 0xFFFFFFFF;
    for (const wchar_t* name : {L"Window", L"AutoAdvance", L"LastFolder"}) {
        ::RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Tunlet", name, REG_DWORD, &junk, sizeof junk);
    }
    const auto run = [&](const std::function<void(HWND)>& use) {
        CPlayerDlg dlg;
        Win32PlayerWindow window(dlg, [&] { StartWin32Player(dlg, window, {}); });
        ASSERT_NE(window.Create(), nullptr);
        g_main = window.Handle();
        use(window.Handle());
        window.End();
        g_main = nullptr;
    };
    RECT left{};
    run([&](HWND hwnd) {
        RECT r{};
        ::GetWindowRect(hwnd, &r);
        ::SetWindowPos(hwnd, nullptr, work.left + 200, work.top + 40, r.right - r.left + 50, r.bottom - r.top + 20,
                       SWP_NOZORDER);
        ::GetWindowRect(hwnd, &left);
        EXPECT_TRUE(boxes.empty());
    });
    board->SetConnected(false);
    run([&](HWND hwnd) {
        RECT r{};
        ::GetWindowRect(hwnd, &r);
        EXPECT_TRUE(::EqualRect(&r, &left));
        ASSERT_EQ(boxes.size(), 1u);
        ExpectSameCentre(boxes[0].rect, r);
        ::SetWindowPos(hwnd, nullptr, 0, 0, 2 * (work.right - work.left), 2 * (work.bottom - work.top),
                       SWP_NOMOVE | SWP_NOZORDER);
    });
    run([&](HWND hwnd) {
        RECT r{};
        ::GetWindowRect(hwnd, &r);
        RECT inside{};
        ::IntersectRect(&inside, &r, &work);
        EXPECT_TRUE(::EqualRect(&inside, &r));
    });
    ::KillTimer(nullptr, timer);
    g_boxes = nullptr;
    SetCableBackend(nullptr);
}

// The FPGA chosen from the menu's list box: its rows name every FPGA, the one picked
// is kept for the chain.
TEST_F(Win32WindowTest, ChooseTheFpgaFromItsList) {
    board->SetChain({ChainDevice{0x020F30DD, 10, VirtualHub{}}, ChainDevice{0x02D020DD, 10, VirtualHub{}}});
    g_choiceRow = 2;
    dlg.OnSysCommand(CPlayerDlg::kChooseFpgaCommand);
    g_choiceRow = -1;
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Choose the FPGA");
    EXPECT_NE(boxes[0].text.find(L"\nDevice 2, 0x02D020DD (Cyclone V 5CSEA6/5CSEBA6): its design takes uploads\n"),
              std::wstring::npos);
    EXPECT_EQ(window.ReadSetting("Fpga-020F30DD-02D020DD"), "2");
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
        {DefaultBoardChain(), TdoLine::StuckLow, L"Ready", L"FPGA board is not connected.\nTDO is stuck low."},
        {{ChainDevice{0x0362D093, 6, std::nullopt}}, TdoLine::Chain, L"Tunlet",
         L"Tunlet cannot send to this board.\nThe JTAG chain holds 1 device: device 1, 0x0362D093; none is an Intel "
         L"FPGA."},
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

TEST_F(Win32PackedWindowTest, PlayWritesWholeUsbTransfers) {
    Drop(test::DataFile("db_apu.nsf"));
    Click(kIdSend);
    WaitIdle();
    auto r = board->Snapshot();
    EXPECT_EQ(r.user0.size(), 2 + 128 + 8 * 4096 + 4u);
    // The start-up probe's board check, Play's board check, then whole USB transfers
    // of the 200 + 8 * 4162 bytes before the trailer, and the rest.
    const std::vector<tunlet::DWORD> writes = {kChainReadCableBytes, kHubHeadCableBytes, kChainReadCableBytes,
                                               kHubHeadCableBytes,   16384,              16384,
                                               65 + 1 + 3 + 131 + 8 * 4162 - 2 * 16384 + 5 + 6};
    EXPECT_EQ(r.writes, writes);
    EXPECT_EQ(::SendMessageW(Item(kIdProgress), PBM_GETPOS, 0, 0), 100);

    board->Reset();
    Click(kIdSend);  // the tune is on the board: its header alone, in one write
    WaitIdle();
    r = board->Snapshot();
    EXPECT_EQ(r.writes,
              (std::vector<tunlet::DWORD>{kChainReadCableBytes, kHubHeadCableBytes, 65 + 1 + 3 + 131 + 4 + 6}));
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
