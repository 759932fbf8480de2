#include "app/PlayerApp.h"

#include <cstring>

#include "app/PlayerDlg.h"
#include "cable/MpsseCable.h"
#include "cable/VirtualBoard.h"
#include "res/Version.h"

namespace tunlet {

CPlayerApp theApp;

void ReportVirtualBoard(CPlayerDlg& dlg, std::shared_ptr<VirtualBoard> board,
                        std::function<void(const std::string&)> show) {
    dlg.SetTransferStarting([board] { board->Reset(); });
    dlg.SetTransferEnded([board, show = std::move(show)] { show(VirtualBoard::Describe(board->Snapshot())); });
}

namespace {

constexpr char kUsage[] =
    "usage: tunlet [FILE] [--cable CABLE] [--tck MHZ] [--packed] [--no-board-check]\n"
    "       tunlet --help | --version\n";

constexpr char kHelp[] =
    "Tunlet: sends NSF tunes and iNES ROMs to an FPGA board over a USB-Blaster cable.\n"
    "\n"
    "  FILE                  an NSF, NSFe or NSF2 tune, an M3U playlist of one, or an\n"
    "                        iNES ROM to load at start\n"
    "  --cable usb-blaster   the real cable (default): a USB-Blaster, an Arrow USB\n"
    "                        Blaster or a USB-Blaster III, or on Linux a USB-Blaster\n"
    "                        II; with several plugged in, the first\n"
    "  --cable usb-blaster:SERIAL  the cable with this serial number (Linux)\n"
    "  --cable arrow-usb-blaster[:SERIAL]\n"
    "                        the Arrow USB Blaster of CYC1000 and MAX1000 boards\n"
    "  --cable usb-blaster-iii[:SERIAL]\n"
    "                        the USB-Blaster III\n"
    "  --cable virtual       a board in memory at the cable's pace: try it without hardware\n"
    "  --cable dump:PATH     write the raw cable bytes of each Play to PATH\n"
    "  --tck MHZ             the TCK of those two, above 0 and up to 30 (default: the\n"
    "                        menu's \"Cable TCK...\", 6 MHz until chosen)\n"
    "  --packed              send data as shift commands of up to 63 bytes: the same bits,\n"
    "                        about 1.5 times sooner, for a board design that takes bytes\n"
    "                        as fast as TCK brings them (default: one command per byte)\n"
    "  --no-board-check      send without first reading the JTAG chain back (for a board\n"
    "                        whose chain Tunlet refuses but whose design takes uploads)\n"
    "\n"
    "The command line tool tunlet-cli shows and sends files without the window.\n";

}  // namespace

std::optional<AppOptions> ParseAppArgs(int argc, const char* const* argv, std::string& exitText, int& exitCode) {
    AppOptions options;
    bool haveFile = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            exitText = std::string(kHelp) + "\n" + kUsage;
            exitCode = 0;
            return std::nullopt;
        }
        if (a == "--version") {
            exitText = std::string("tunlet ") + res::kFileVersion + "\n";
            exitCode = 0;
            return std::nullopt;
        }
        if (a == "--cable" || a.rfind("--cable=", 0) == 0) {
            if (a == "--cable" && i + 1 == argc) {
                exitText = "tunlet: --cable needs a value\n" + std::string(kUsage);
                exitCode = 2;
                return std::nullopt;
            }
            options.cable = a == "--cable" ? argv[++i] : a.substr(std::strlen("--cable="));
            continue;
        }
        if (a == "--tck") {
            if (i + 1 == argc || !ParseTckMhz(argv[i + 1], options.tckKhz)) {
                exitText = "tunlet: " + std::string(kTckProblem) + "\n" + kUsage;
                exitCode = 2;
                return std::nullopt;
            }
            ++i;
            continue;
        }
        if (a == "--no-board-check") {
            options.boardCheck = false;
            continue;
        }
        if (a == "--packed") {
            options.packed = true;
            continue;
        }
        if (!a.empty() && a[0] == '-' && a != "-") {
            exitText = "tunlet: unknown option '" + a + "'\n" + kUsage;
            exitCode = 2;
            return std::nullopt;
        }
        if (haveFile) {
            exitText = "tunlet: one FILE at a time\n" + std::string(kUsage);
            exitCode = 2;
            return std::nullopt;
        }
        options.file = a;
        haveFile = true;
    }
    return options;
}

void ApplyAppOptions(CPlayerDlg& dlg, const AppOptions& options) {
    dlg.SetPacked(options.packed);
    dlg.SetBoardCheck(options.boardCheck);
}

}  // namespace tunlet
