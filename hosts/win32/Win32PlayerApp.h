// The application object's start on Windows: the dialog brought up in its native window.
#pragma once

#include "app/PlayerApp.h"

namespace tunlet {

class CPlayerDlg;
class Win32PlayerWindow;

// Runs while the dialog is initialised: creation, start-up (the board probe), the
// title of a virtual board, and the file given on the command line.
void StartWin32Player(CPlayerDlg& dlg, Win32PlayerWindow& window, const AppOptions& options);

// The common controls (trackbar, progress bar) the dialog template uses.
void InitWin32Controls();

}  // namespace tunlet
