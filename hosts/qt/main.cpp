// tunlet: the player window.
#include <QApplication>
#include <cstdio>
#include <memory>
#include <string>

#include "app/PlayerApp.h"
#include "cable/CableChoice.h"
#include "res/Version.h"

int main(int argc, char** argv) {
    std::string text;
    int code = 0;
    // Help and version need no desktop: answered before the window system starts.
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h" || a == "--version") {
            const char* const only[] = {argv[0], argv[i]};
            tunlet::ParseAppArgs(2, only, text, code);
            std::fputs(text.c_str(), stdout);
            return code;
        }
    }
    QApplication app(argc, argv);  // takes the window system's own options out of argv
    QApplication::setApplicationVersion(QString::fromUtf8(tunlet::res::kFileVersion));
    std::optional<tunlet::AppOptions> options = tunlet::ParseAppArgs(argc, argv, text, code);
    if (!options) {
        std::fputs(text.c_str(), code == 0 ? stdout : stderr);
        return code;
    }
    const tunlet::CableChoice cable = tunlet::ChooseWindowCable(options->cable, options->tckKhz);
    if (!cable.backend) {
        std::fprintf(stderr, "tunlet: unknown cable '%s': use %s\n", options->cable.c_str(), tunlet::kCableChoices);
        return 2;
    }
    options->board = cable.board;
    tunlet::SetCableBackend(cable.backend);
    tunlet::theApp.InitInstance(*options);
    tunlet::SetCableBackend(nullptr);
    return tunlet::theApp.exitCode;
}
