#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/Cli.h"
#include "cli/ConsoleStream.h"
#include "media/WideText.h"
#ifdef _WIN32
#include "res/RunningMark.h"
#endif

#ifdef _WIN32
// Windows hands the arguments over in UTF-16; inside they are UTF-8, as on Linux.
int wmain(int argc, wchar_t** argv) {
    // Tells the setup program and the uninstaller that Tunlet runs.
    const tunlet::res::RunningMark running;
    // Libraries load from the program's folder and System32 only, never from the
    // current folder or PATH, where anyone could leave one.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(tunlet::Narrow(argv[i]));
    // Both streams: UTF-16 to a console, UTF-8 with LF line ends to a file or pipe.
    tunlet::ConsoleStreamBuf outBuf(::GetStdHandle(STD_OUTPUT_HANDLE));
    tunlet::ConsoleStreamBuf errBuf(::GetStdHandle(STD_ERROR_HANDLE));
    std::ostream out(&outBuf);
    std::ostream err(&errBuf);
    err.setf(std::ios::unitbuf);
    tunlet::CliEnvironment env;
    env.progressBar = ::_isatty(::_fileno(stderr)) != 0;
    const int code = tunlet::RunCli(args, out, err, env);
    out.flush();
    return code;
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    tunlet::CliEnvironment env;
    env.progressBar = ::isatty(STDERR_FILENO) == 1;
    return tunlet::RunCli(args, std::cout, std::cerr, env);
}
#endif
