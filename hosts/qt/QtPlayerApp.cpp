#include "hosts/qt/QtPlayerApp.h"

#include "app/PlayerDlg.h"
#include "hosts/qt/QtEndSignals.h"
#include "hosts/qt/QtPlayerWindow.h"

namespace tunlet {

bool StartQtPlayer(CPlayerDlg& dlg, QtPlayerWindow& window, const AppOptions& options) {
    dlg.Attach(window);
    ApplyAppOptions(dlg, options);
    if (dlg.OnCreate() == -1) return false;
    if (options.board) {
        window.setWindowTitle(window.windowTitle() + QStringLiteral(" \u2013 virtual board"));
        window.AddBoardPanel();
        ReportVirtualBoard(dlg, options.board, [&window](const std::string& report) { window.SetBoardReport(report); });
    }
    window.RestorePlace();  // so that the start-up box shows where the window will
    dlg.OnInitDialog();     // the board probe reports a missing cable before the window shows
    if (!options.file.empty()) dlg.OnDropFiles({options.file});
    return true;
}

int RunQtPlayer(CPlayerDlg& dlg, QtPlayerWindow& window, const AppOptions& options) {
    // From the start on: the start-up probe's box may be up a long time.
    const QtEndSignals ends([&window](int) { window.EndSession(); });
    if (!StartQtPlayer(dlg, window, options)) return 1;
    if (!dlg.Ending()) window.exec();  // Close, Escape and the close box end it
    window.SavePlace();
    dlg.OnDestroy();  // stops and waits for a running transfer while the UI still answers
    return ends.Caught() != 0 ? 128 + ends.Caught() : 0;
}

bool CPlayerApp::InitInstance(const AppOptions& options) {
    CPlayerDlg dlg;
    QtPlayerWindow window(dlg);
    exitCode = RunQtPlayer(dlg, window, options);
    return false;
}

}  // namespace tunlet
