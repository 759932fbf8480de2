// What the commands of tunlet-cli share: the usage text, loading a file, the words
// of a check that did not pass; and the commands, one file each.
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/LoadFile.h"
#include "cli/Cli.h"
#include "link/ChainScan.h"

namespace tunlet::cli {

inline constexpr const char* kUsage =
    "usage: tunlet-cli info FILE\n"
    "       tunlet-cli play FILE [--song N] [--header-only] [--packed] [--device N | --no-board-check]\n"
    "                            [--cable CABLE] [--tck MHZ] [--firmware PATH]\n"
    "       tunlet-cli play FILE --playlist [--track-seconds S] [--header-only] [--cable ...]\n"
    "       tunlet-cli scan [--device N] [--cable CABLE] [--tck MHZ] [--firmware PATH]\n"
    "       tunlet-cli --help | -h | /? | --version\n";

int Usage(std::ostream& err, const std::string& problem);
// A mistake in one option's value: what is allowed, without the whole usage text.
int BadValue(std::ostream& err, const std::string& problem);
bool Load(const std::string& path, NsfTune& tune, std::unique_ptr<NesRom>& rom, LoadOutcome& outcome,
          std::ostream& err);
// What a check that did not pass says (the text the window's box shows), and its
// exit code.
int CheckFailed(const BoardCheck& check, std::ostream& err);

// --device N: the FPGA uploads go to, numbered from 1 as scan lists the chain.
inline constexpr const char* kDeviceUsage = "--device needs a device number from 1 to 8, as scan lists the chain, not ";
bool ParseDevice(const std::string& value, std::optional<std::size_t>& device);
// The choice of --device for the board's selection (none: the check decides alone).
DeviceChoice Chosen(std::optional<std::size_t> device);

int Info(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int Play(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env);
int Scan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env);

}  // namespace tunlet::cli
