// The application object: runs the player dialog modally and ends the program when
// the dialog closes.
#pragma once

namespace tunlet {

class CPlayerApp {
public:
    // Runs the main dialog; returns false so the program ends after it.
    bool InitInstance();
};

extern CPlayerApp theApp;

}  // namespace tunlet
