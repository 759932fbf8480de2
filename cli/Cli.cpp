#include "cli/Cli.h"

#include <memory>
#include <ostream>

#include "app/LoadFile.h"
#include "res/Version.h"

namespace tunlet {

namespace {

constexpr const char* kUsage =
    "usage: tunlet-cli info FILE\n"
    "       tunlet-cli --help | --version\n";

constexpr const char* kHelp =
    "Tunlet command line: shows the header summary of an NSF tune or iNES ROM.\n"
    "\n"
    "  tunlet-cli info FILE   print the summary of FILE\n"
    "  tunlet-cli --help      show this help\n"
    "  tunlet-cli --version   show the version\n"
    "\n"
    "Exit codes: 0 done, 1 file problem, 2 usage error.\n";

int Usage(std::ostream& err, const std::string& problem) {
    err << "tunlet-cli: " << problem << "\n" << kUsage;
    return kExitUsage;
}

// Loads path as the window does; prints the reader's text on failure.
// Returns the outcome, or nothing when the file cannot be used.
bool Load(const std::string& path, NsfTune& tune, std::unique_ptr<NesRom>& rom, LoadOutcome& outcome,
          std::ostream& err) {
    outcome = LoadFile(path.c_str(), tune, rom);
    switch (outcome.kind) {
        case LoadKind::Tune:
        case LoadKind::Rom:
            return true;
        case LoadKind::Damaged:
            err << outcome.text << "\n";
            return false;
        case LoadKind::Unknown:
            err << "tunlet-cli: " << path << ": " << outcome.text << "\n";
            return false;
    }
    return false;
}

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

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) return Usage(err, "no command given");
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        out << kHelp << kUsage;
        return kExitOk;
    }
    if (command == "--version") {
        out << "tunlet-cli " << res::kFileVersion << "\n";
        return kExitOk;
    }
    if (command == "info") return Info(args, out, err);
    return Usage(err, "unknown command '" + command + "'");
}

}  // namespace tunlet
