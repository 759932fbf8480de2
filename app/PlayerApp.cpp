#include "app/PlayerApp.h"

#include "app/PlayerDlg.h"
#include "platform/qt/QtPlayerWindow.h"

namespace tunlet {

CPlayerApp theApp;

bool CPlayerApp::InitInstance() {
    CPlayerDlg dlg;
    QtPlayerWindow window(dlg);
    dlg.Attach(window);
    if (dlg.OnCreate() == -1) return false;
    dlg.OnInitDialog();  // the board probe reports a missing cable before the window shows
    window.exec();       // Close, Escape, the close box and Enter all end it
    dlg.OnDestroy();     // stops and waits for a running transfer while the UI still answers
    return false;
}

}  // namespace tunlet
