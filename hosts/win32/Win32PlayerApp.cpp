#include "hosts/win32/Win32PlayerApp.h"

#include <windows.h>
#include <commctrl.h>

#include <atomic>

#include "app/PlayerDlg.h"
#include "hosts/win32/Win32PlayerWindow.h"

namespace tunlet {

void InitWin32Controls() {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
}

void StartWin32Player(CPlayerDlg& dlg, Win32PlayerWindow& window, const AppOptions& options) {
    dlg.Attach(window);
    ApplyAppOptions(dlg, options);
    dlg.OnCreate();
    if (options.board) {
        wchar_t caption[256];
        const int n = ::GetWindowTextW(window.Handle(), caption, 256);
        ::SetWindowTextW(window.Handle(), (std::wstring(caption, static_cast<std::size_t>(n)) + L" \u2013 virtual board").c_str());
        window.AddBoardPanel();
        ReportVirtualBoard(dlg, options.board, [&window](const std::string& report) { window.SetBoardReport(report); });
    }
    dlg.OnInitDialog();  // the board probe reports a missing cable before the window shows
    if (!options.file.empty()) dlg.OnDropFiles({options.file});
}

namespace {

// The window while it runs, for the console's handler.
std::atomic<HWND> g_window{nullptr};

// Set once the window has ended.
HANDLE EndedEvent() {
    static const HANDLE ended = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return ended;
}

// A console the program runs with sends its events (Ctrl-C, Ctrl-Break, its close, a
// logoff, a shutdown) on a thread of their own, and Windows ends the program once
// the handler returns: the window ends as for the session's end, and the handler
// waits for that, then never returns, so that the program ends by its own exit (and
// after 5 s Windows ends it anyway).
BOOL WINAPI OnConsoleEvent(::DWORD) {
    HWND window = g_window.load();
    if (window == nullptr) return FALSE;
    ::PostMessageW(window, Win32PlayerWindow::kEndSessionMessage, 0, 0);
    if (::WaitForSingleObject(EndedEvent(), 4500) == WAIT_OBJECT_0) ::Sleep(INFINITE);
    return TRUE;
}

}  // namespace

bool CPlayerApp::InitInstance(const AppOptions& options) {
    InitWin32Controls();
    CPlayerDlg dlg;
    Win32PlayerWindow window(dlg, [&] {
        g_window = window.Handle();
        StartWin32Player(dlg, window, options);
    });
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    window.RunModal();  // ends after Close, Escape or the close box, the transfer stopped
    g_window = nullptr;
    ::SetEvent(EndedEvent());
    return false;
}

}  // namespace tunlet
