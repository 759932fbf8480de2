#include "cli/CliCommands.h"

#include <cerrno>
#include <cstdlib>
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

bool ParseDevice(const std::string& value, std::optional<std::size_t>& device) {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || n < 1 || n > static_cast<long>(kMaxChainDevices)) return false;
    device = static_cast<std::size_t>(n - 1);
    return true;
}

DeviceChoice Chosen(std::optional<std::size_t> device) {
    if (!device) return nullptr;
    return [device](const std::vector<ChainMember>&) { return device; };
}

}  // namespace tunlet::cli
