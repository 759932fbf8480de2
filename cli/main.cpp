#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/Cli.h"
#include "media/WideText.h"

#ifdef _WIN32
// Windows hands the arguments over in UTF-16; inside they are UTF-8, as on Linux.
int wmain(int argc, wchar_t** argv) {
    // Libraries load from the program's folder and System32 only, never from the
    // current folder or PATH, where anyone could leave one.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(tunlet::Narrow(argv[i]));
    // The summary keeps its LF line ends, as on Linux; the console shows UTF-8.
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::SetConsoleOutputCP(CP_UTF8);
    tunlet::CliEnvironment env;
    env.progressBar = ::_isatty(::_fileno(stderr)) != 0;
    return tunlet::RunCli(args, std::cout, std::cerr, env);
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    tunlet::CliEnvironment env;
    env.progressBar = ::isatty(STDERR_FILENO) == 1;
    return tunlet::RunCli(args, std::cout, std::cerr, env);
}
#endif
