#include "cli/Cli.h"

#include <ostream>

#include "cable/Cable.h"
#include "cli/CliCommands.h"
#include "res/Version.h"

namespace tunlet {

namespace {

constexpr const char* kHelp =
    "Tunlet command line: shows and sends NSF tunes and iNES ROMs to the FPGA board\n"
    "over a USB-Blaster cable, exactly as the window does.\n"
    "\n"
    "  info FILE             print the header summary of FILE\n"
    "  play FILE             send FILE to the board\n"
    "    --song N            the song of a tune to start, 1 to its song count\n"
    "                        (default: the tune's starting song)\n"
    "    --header-only       send only the tune's header (its data is on the board)\n"
    "    --packed            data as shift commands of up to 63 bytes: the same bits,\n"
    "                        about 1.5 times sooner, for a board design that keeps up\n"
    "    --playlist          play the tune's tracks in play order: the first one whole,\n"
    "                        then each next one's header when the track before is over\n"
    "                        (its time plus fade; 2:30 when unknown); effects are skipped\n"
    "    --track-seconds S   with --playlist: S seconds per track instead\n"
    "    --cable usb-blaster the real cable (default): a USB-Blaster, an Arrow USB\n"
    "                        Blaster or a USB-Blaster III, or on Linux a USB-Blaster\n"
    "                        II; with several plugged in, the first\n"
    "    --cable usb-blaster:SERIAL  the cable with this serial number (scan shows it)\n"
    "    --cable arrow-usb-blaster[:SERIAL]\n"
    "                        the Arrow USB Blaster of CYC1000 and MAX1000 boards (the\n"
    "                        first one found, or the one with that serial number)\n"
    "    --cable usb-blaster-iii[:SERIAL]\n"
    "                        the USB-Blaster III, likewise\n"
    "    --cable virtual     a board in memory: prints what it received\n"
    "    --cable virtual:LIST  a board in memory whose JTAG chain is LIST: devices from\n"
    "                        the one nearest TDO, separated by commas, each ep4ce22 or\n"
    "                        5cseba6 (an FPGA with the player's design), nohub (an FPGA\n"
    "                        whose design has no hub), epm570 (a MAX II CPLD), dap (an\n"
    "                        SoC's ARM debug port), 0xIDCODE:IR or none:IR (a part, or a\n"
    "                        device without IDCODE, with an IR of IR bits); soc is\n"
    "                        dap,5cseba6, as on a DE10-Nano\n"
    "    --cable dump:PATH   write the raw cable bytes to PATH\n"
    "    --tck MHZ           the TCK of the Arrow USB Blaster and USB-Blaster III, above\n"
    "                        0 and up to 30 (default 6, the pace the board's design was\n"
    "                        built for)\n"
    "    --device N          send to device N of the chain, as scan numbers them (when\n"
    "                        several FPGAs take uploads)\n"
    "    --no-board-check    do not read the JTAG chain back before sending: the stream\n"
    "                        then assumes a chain of the FPGA alone (beside another\n"
    "                        10-bit device, it puts 0x001, PULSE_NCONFIG on Cyclone\n"
    "                        IV/V, into the one nearest TDO)\n"
    "  FILE may be an extended M3U playlist; one beside a tune with its base name is used.\n"
    "    --firmware PATH     the USB-Blaster II's firmware (blaster_6810.hex, from Quartus)\n"
    "                        for a cable that has none yet; else it is looked for in\n"
    "                        $QUARTUS_ROOTDIR/linux64 and the usual Quartus folders\n"
    "  scan                  name the cable and list the devices on the JTAG chain\n"
    "                        (number, IDCODE, name, IR length, the one uploads go to)\n"
    "                        and the virtual JTAG hub and nodes of that FPGA's design;\n"
    "                        it takes --cable (not dump:PATH), --tck, --firmware and\n"
    "                        --device as play does\n"
    "\n"
    "Before sending, play resets the JTAG chain, reads its IDCODEs and IR lengths, and\n"
    "sends to the one Intel FPGA whose design takes uploads, every other device in\n"
    "BYPASS. Ctrl-C, SIGTERM and SIGHUP stop a transfer as the\n"
    "window's Stop does.\n"
    "Cables: on Linux the USB-Blaster (libftdi) and the USB-Blaster II (libusb); on\n"
    "Windows the USB-Blaster through FTD2XX.dll (the USB-Blaster II not yet).\n"
    "Exit codes: 0 done, 1 file problem, 2 usage error, 3 board not connected,\n"
    "4 write error, 5 JTAG chain refused, 128 + the signal when stopped (130 Ctrl-C).\n";

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
    if (args.empty()) return cli::Usage(err, "no command given");
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "/?" || command == "help") {
        out << kHelp << "\n" << cli::kUsage;
        return kExitOk;
    }
    if (command == "--version") {
        out << "tunlet-cli " << res::kFileVersion << "\n";
        return kExitOk;
    }
    if (command == "info") return cli::Info(args, out, err);
    if (command != "play" && command != "scan") return cli::Usage(err, "unknown command '" + command + "'");
    // --firmware goes to the cable layer, which tells how the cable's start goes.
    std::vector<std::string> rest;
    std::string firmware;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--firmware") {
            rest.push_back(args[i]);
#ifdef _WIN32
        } else {
            return cli::Usage(err, "--firmware is for the USB-Blaster II, which is not supported on Windows yet");
#else
        } else if (i + 1 == args.size() || args[i + 1].empty()) {
            return cli::Usage(err, "--firmware needs the path of the USB-Blaster II's firmware file");
        } else {
            firmware = args[++i];
#endif
        }
    }
    SetCableFirmware(firmware);
    SetCableProgress([&err](const std::string& text) { err << "tunlet-cli: " << text << "\n" << std::flush; });
    const int code = command == "play" ? cli::Play(rest, out, err, env) : cli::Scan(rest, out, err, env);
    SetCableProgress(nullptr);
    SetCableFirmware("");
    return code;
}

}  // namespace tunlet
