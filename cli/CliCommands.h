// What the commands of tunlet-cli share: the usage text, loading a file, the words
// of a check that did not pass; and the commands, one file each.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "app/LoadFile.h"
#include "cli/Cli.h"
#include "link/ChainScan.h"

namespace tunlet::cli {

inline constexpr const char* kUsage =
    "usage: tunlet-cli info FILE\n"
    "       tunlet-cli play FILE [--song N] [--header-only] [--packed] [--no-board-check]\n"
    "                            [--cable usb-blaster[:SERIAL]|virtual|dump:PATH] [--firmware PATH]\n"
    "       tunlet-cli play FILE --playlist [--track-seconds S] [--header-only] [--cable ...]\n"
    "       tunlet-cli scan [--cable usb-blaster[:SERIAL]|virtual] [--firmware PATH]\n"
    "       tunlet-cli --help | -h | /? | --version\n";

int Usage(std::ostream& err, const std::string& problem);
// A mistake in one option's value: what is allowed, without the whole usage text.
int BadValue(std::ostream& err, const std::string& problem);
bool Load(const std::string& path, NsfTune& tune, std::unique_ptr<NesRom>& rom, LoadOutcome& outcome,
          std::ostream& err);
// What a check that did not pass says (the text the window's box shows), and its
// exit code.
int CheckFailed(const BoardCheck& check, std::ostream& err);

int Info(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int Play(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env);
int Scan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env);

}  // namespace tunlet::cli
