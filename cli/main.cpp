#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    tunlet::CliEnvironment env;
    env.progressBar = ::isatty(STDERR_FILENO) == 1;
    return tunlet::RunCli(args, std::cout, std::cerr, env);
}
