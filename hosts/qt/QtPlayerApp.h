// The application object's start on Qt: the dialog brought up in its Qt window.
#pragma once

#include "app/PlayerApp.h"

namespace tunlet {

class CPlayerDlg;
class QtPlayerWindow;

// Brings the dialog up in its window as the program starts it: creation, start-up
// (the board probe), the title and board panel of a virtual board, and the file given
// on the command line. False when the dialog could not be created.
bool StartQtPlayer(CPlayerDlg& dlg, QtPlayerWindow& window, const AppOptions& options);

// The whole run of the window as the program makes it: start, the window until it is
// closed or a signal ends it (QtEndSignals), then the transfer stopped and waited for.
// Returns the program's exit code: 0, 1 when the dialog could not be created, or 128
// plus the signal that ended it.
int RunQtPlayer(CPlayerDlg& dlg, QtPlayerWindow& window, const AppOptions& options);

}  // namespace tunlet
