#include "hosts/win32/Win32PlayerApp.h"

#include <windows.h>
#include <commctrl.h>

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

bool CPlayerApp::InitInstance(const AppOptions& options) {
    InitWin32Controls();
    CPlayerDlg dlg;
    Win32PlayerWindow window(dlg, [&] { StartWin32Player(dlg, window, options); });
    window.RunModal();  // ends after Close, Escape or the close box, the transfer stopped
    return false;
}

}  // namespace tunlet
