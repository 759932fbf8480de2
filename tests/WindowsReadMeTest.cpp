// The Windows read-me (res/win32/README.txt) must not fall behind the programs: it
// names every command, option, cable and exit code that tunlet-cli --help and
// tunlet --help print.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "app/PlayerApp.h"
#include "cli/Cli.h"

namespace tunlet {
namespace {

TEST(WindowsReadMe, NamesEveryCommandOptionCableAndExitCodeOfTheHelp) {
    std::ifstream in(std::string(TUNLET_SOURCE_DIR) + "/res/win32/README.txt", std::ios::binary);
    std::stringstream readMe;
    readMe << in.rdbuf();
    std::ostringstream cliHelp, err;
    RunCli({"--help"}, cliHelp, err);
    const char* argv[] = {"tunlet", "--help"};
    std::string windowHelp;
    int code = -1;
    ParseAppArgs(2, argv, windowHelp, code);

    // Options ("--song"), cables ("--cable virtual"), the usage lines' commands
    // ("tunlet-cli scan"), and the codes after "Exit codes:" ("0 done, 1 file problem").
    static const std::regex named(R"(--cable [a-z][a-zA-Z:-]*|--[a-z][a-z-]*|^\s*(usage: )?tunlet-cli [a-z]+)");
    static const std::regex exitCode(R"((\d+) [a-zA-Z])");
    int seen = 0;
    for (const std::string& help : {cliHelp.str(), windowHelp}) {
        std::istringstream lines(help);
        bool codes = false;
        for (std::string line; std::getline(lines, line);) {
            for (std::sregex_iterator m(line.begin(), line.end(), named), end; m != end; ++m, ++seen) {
                const std::string name = std::regex_replace((*m)[0].str(), std::regex(R"(^\s*(usage: )?)"), "");
                EXPECT_NE(readMe.str().find(name), std::string::npos) << "--help names " << name;
            }
            codes = line.rfind("Exit codes:", 0) == 0 || (codes && !line.empty());
            for (std::sregex_iterator m(line.begin(), line.end(), exitCode), end; codes && m != end; ++m, ++seen) {
                EXPECT_TRUE(std::regex_search(readMe.str(), std::regex("\n  " + (*m)[1].str() + " +[a-z]")))
                    << "exit code " << (*m)[1];
            }
        }
    }
    EXPECT_GE(seen, 30) << cliHelp.str() << windowHelp;
}

}  // namespace
}  // namespace tunlet
