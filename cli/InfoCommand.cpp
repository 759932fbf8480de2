// tunlet-cli info: the header summary of a file.
#include <memory>
#include <ostream>

#include "cli/CliCommands.h"

namespace tunlet::cli {

int Info(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2) return Usage(err, "info takes exactly one FILE");
    NsfTune tune;
    tune.Init();
    std::unique_ptr<NesRom> rom;
    LoadOutcome outcome;
    if (!Load(args[1], tune, rom, outcome, err)) return kExitFile;
    out << outcome.text << "\n";
    out.flush();
    return kExitOk;
}

}  // namespace tunlet::cli
