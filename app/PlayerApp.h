// The application object: runs the player dialog modally and ends the program when
// the dialog closes.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tunlet {

class VirtualBoard;

// What the command line asks of the window.
struct AppOptions {
    std::string file;                     // loaded as if dropped ("Open with")
    std::string cable = "usb-blaster";    // --cable
    std::shared_ptr<VirtualBoard> board;  // the board in memory of --cable virtual
    bool boardCheck = true;               // off with --no-board-check
    bool packed = false;                  // --packed: data as shift commands of up to 63 bytes
    unsigned tckKhz = 0;                  // --tck: the FT2232H cables' TCK (0: the window's setting)
};

// Reads the window's command line (after the window system took its own options).
// Returns the options, or sets exitText (help, version or a usage error) and exitCode.
std::optional<AppOptions> ParseAppArgs(int argc, const char* const* argv, std::string& exitText, int& exitCode);

class CPlayerDlg;

// Has show() given, after each transfer of the dialog, what the virtual board
// received in that transfer alone (the board forgets the one before as Play starts).
void ReportVirtualBoard(CPlayerDlg& dlg, std::shared_ptr<VirtualBoard> board,
                        std::function<void(const std::string&)> show);
// What the options ask of the dialog before it starts, the same in every window host.
void ApplyAppOptions(CPlayerDlg& dlg, const AppOptions& options);

class CPlayerApp {
public:
    // Runs the main dialog in the host's window; returns false so the program ends
    // after it. Each window host implements it.
    bool InitInstance(const AppOptions& options = {});
    // What the program exits with once InitInstance has returned: 0, or what the host
    // gives a window ended from outside (128 plus the signal on Linux).
    int exitCode = 0;
};

extern CPlayerApp theApp;

}  // namespace tunlet
