#include "hosts/qt/QtPlayerApp.h"

#include "app/PlayerDlg.h"
#include "cable/VirtualBoard.h"
#include "hosts/qt/QtPlayerWindow.h"

namespace tunlet {

bool StartQtPlayer(CPlayerDlg& dlg, QtPlayerWindow& window, const AppOptions& options) {
    dlg.Attach(window);
    dlg.SetBoardCheck(options.boardCheck);
    if (dlg.OnCreate() == -1) return false;
    if (options.board) {
        window.setWindowTitle(window.windowTitle() + QStringLiteral(" \u2013 virtual board"));
        window.AddBoardPanel();
        dlg.SetTransferEnded([&window, board = options.board] { window.SetBoardReport(VirtualBoard::Describe(board->Snapshot())); });
    }
    dlg.OnInitDialog();  // the board probe reports a missing cable before the window shows
    if (!options.file.empty()) dlg.OnDropFiles({options.file});
    return true;
}

bool CPlayerApp::InitInstance(const AppOptions& options) {
    CPlayerDlg dlg;
    QtPlayerWindow window(dlg);
    if (!StartQtPlayer(dlg, window, options)) return false;
    window.exec();    // Close, Escape, the close box and Enter all end it
    dlg.OnDestroy();  // stops and waits for a running transfer while the UI still answers
    return false;
}

}  // namespace tunlet
