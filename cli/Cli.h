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
    kExitInterrupted = 130,
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


}  // namespace tunlet
