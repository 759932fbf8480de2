// tunlet.exe: the player window on Windows.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/PlayerApp.h"
#include "cable/CableChoice.h"
#include "hosts/win32/Win32Boxes.h"
#include "hosts/win32/Win32Text.h"
#include "res/RunningMark.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Tells the setup program and the uninstaller that Tunlet runs.
    const tunlet::res::RunningMark running;
    // Libraries load from the program's folder and System32 only, never from the
    // current folder or PATH, where anyone could leave one.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    // The arguments in UTF-8, as on Linux.
    int argc = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(tunlet::Narrow(wide[i]));
    ::LocalFree(wide);
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());

    std::string text;
    int code = 0;
    std::optional<tunlet::AppOptions> options =
        tunlet::ParseAppArgs(static_cast<int>(argv.size()), argv.data(), text, code);
    if (!options) {
        // A window program has no console: help and version show in a box that keeps
        // their columns (a fixed-width font), usage errors in a message box.
        if (code == 0) {
            tunlet::ShowTextBox(::GetModuleHandleW(nullptr), nullptr, L"Tunlet", text);
        } else {
            tunlet::ShowMessageBox(nullptr, tunlet::Widen(text), L"Tunlet", MB_ICONERROR);
        }
        return code;
    }
    const tunlet::CableChoice cable = tunlet::ChooseWindowCable(options->cable, options->tckKhz);
    if (!cable.backend) {
        tunlet::ShowMessageBox(nullptr, tunlet::Widen("Unknown cable '" + options->cable + "': use " + tunlet::kCableChoices),
                               L"Tunlet", MB_ICONERROR);
        return 2;
    }
    options->board = cable.board;
    tunlet::SetCableBackend(cable.backend);
    tunlet::theApp.InitInstance(*options);
    tunlet::SetCableBackend(nullptr);
    return 0;
}
