// The Windows read-me (res/win32/README.txt) must not fall behind the programs: it
// names every command, option, cable and exit code that tunlet-cli --help and
// tunlet --help print.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>

#include "app/PlayerApp.h"
#include "cli/Cli.h"

namespace tunlet {
namespace {

std::string ReadMe() {
    std::ifstream in(std::string(TUNLET_SOURCE_DIR) + "/res/win32/README.txt", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string CliHelp() {
    std::ostringstream out, err;
    RunCli({"--help"}, out, err);
    return out.str();
}

std::string WindowHelp() {
    const char* argv[] = {"tunlet", "--help"};
    std::string text;
    int code = -1;
    ParseAppArgs(2, argv, text, code);
    return text;
}

// The options ("--song"), cables ("--cable virtual") and commands of the usage
// lines ("tunlet-cli scan") a help text names.
std::set<std::string> Named(const std::string& help) {
    static const std::regex option(R"(--[a-z][a-z-]*)");
    static const std::regex cable(R"(--cable ([a-z][a-zA-Z:-]*))");
    static const std::regex command(R"(^\s*(usage: )?tunlet-cli ([a-z]+))");
    std::set<std::string> names;
    for (std::sregex_iterator m(help.begin(), help.end(), option), end; m != end; ++m) names.insert((*m)[0]);
    for (std::sregex_iterator m(help.begin(), help.end(), cable), end; m != end; ++m) names.insert((*m)[0]);
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_search(line, m, command)) names.insert("tunlet-cli " + m[2].str());
    }
    return names;
}

TEST(WindowsReadMe, NamesEveryCommandOptionAndCableOfTheHelp) {
    const std::string readMe = ReadMe();
    ASSERT_FALSE(readMe.empty());
    for (const auto& [program, help] : {std::pair{"tunlet-cli", CliHelp()}, std::pair{"tunlet", WindowHelp()}}) {
        const std::set<std::string> names = Named(help);
        EXPECT_GE(names.size(), 6u) << program << " --help printed:\n" << help;
        for (const std::string& name : names) EXPECT_NE(readMe.find(name), std::string::npos) << program << " --help names " << name;
    }
}

// "Exit codes: 0 done, 1 file problem, ..." in the help; a row "  0  sent" in the read-me.
TEST(WindowsReadMe, ListsEveryExitCodeOfTheHelp) {
    const std::string help = CliHelp();
    const std::size_t from = help.find("Exit codes:");
    ASSERT_NE(from, std::string::npos) << help;
    const std::string codes = help.substr(from, help.find("\n\n", from) - from);
    const std::string readMe = ReadMe();
    static const std::regex code(R"((\d+) [a-zA-Z])");
    int seen = 0;
    for (std::sregex_iterator m(codes.begin(), codes.end(), code), end; m != end; ++m, ++seen) {
        EXPECT_TRUE(std::regex_search(readMe, std::regex("\n  " + (*m)[1].str() + " +[a-z]"))) << "exit code " << (*m)[1];
    }
    EXPECT_GE(seen, 7);
}

}  // namespace
}  // namespace tunlet
