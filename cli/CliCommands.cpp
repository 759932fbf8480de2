#include "cli/CliCommands.h"

#include <ostream>

#include "app/Boxes.h"

namespace tunlet::cli {

int Usage(std::ostream& err, const std::string& problem) {
    err << "tunlet-cli: " << problem << "\n" << kUsage;
    return kExitUsage;
}

bool Load(const std::string& path, NsfTune& tune, std::unique_ptr<NesRom>& rom, LoadOutcome& outcome,
          std::ostream& err) {
    outcome = LoadFile(path.c_str(), tune, rom);
    switch (outcome.kind) {
        case LoadKind::Tune:
        case LoadKind::Rom:
            return true;
        case LoadKind::Damaged:  // the reader's own text, "rom read error" or "EOF error"
        case LoadKind::Unknown:
            err << "tunlet-cli: " << path << ": " << outcome.text << "\n";
            return false;
    }
    return false;
}

int BadValue(std::ostream& err, const std::string& problem) {
    err << "tunlet-cli: " << problem << "\n";
    return kExitUsage;
}

int CheckFailed(const BoardCheck& check, std::ostream& err) {
    if (check.result == BoardCheck::Result::Ready) return kExitOk;
    err << CheckBox(check).text << "\n";
    switch (check.result) {
        case BoardCheck::Result::NotConnected: return kExitNotConnected;
        case BoardCheck::Result::Refused: return kExitChainRefused;
        default: return kExitWriteError;
    }
}

}  // namespace tunlet::cli
