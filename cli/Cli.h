// The command line tool: loads and sends files exactly as the window does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "cable/Crc32.h"

namespace tunlet {

class CableBackend;

// Exit codes of tunlet-cli.
enum CliExit : int {
    kExitOk = 0,
    kExitFile = 1,
    kExitUsage = 2,
    kExitNotConnected = 3,
    kExitWriteError = 4,
    kExitChainRefused = 5,  // the JTAG chain is not one Intel FPGA
    kExitSignalBase = 128,  // stopped by a signal: 128 plus its number
};

struct CliEnvironment {
    // The back end behind "--cable usb-blaster"; null: the real cable through libftdi.
    std::shared_ptr<CableBackend> usbBlaster;
    // Draw a progress bar on the error stream (it is a terminal).
    bool progressBar = false;
};

// args excludes the program name. Returns the exit code.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const CliEnvironment& env = {});

#ifdef _WIN32
// The signal a console control event stands for: Ctrl-C SIGINT, Ctrl-Break SIGBREAK,
// closing the console, logoff and shutdown SIGTERM; 0 for none.
int ConsoleEventSignal(unsigned long event);
// tunlet-cli's console control handler: false for an event it leaves to Windows.
// During a transfer an event stops it as Ctrl-C does; outside one Ctrl-C and
// Ctrl-Break are left to Windows. For a closing console it waits until the command
// has ended and then holds its thread, so that the program's own exit ends the
// process with the command's exit code.
bool OnConsoleEvent(unsigned long event);
#endif


}  // namespace tunlet
