// The command line tool: loads and sends files exactly as the window does.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tunlet {

// Exit codes of tunlet-cli.
enum CliExit : int {
    kExitOk = 0,
    kExitFile = 1,
    kExitUsage = 2,
    kExitNotConnected = 3,
    kExitWriteError = 4,
    kExitInterrupted = 130,
};

// args excludes the program name. Returns the exit code.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tunlet
