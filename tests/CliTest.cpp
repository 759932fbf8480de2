#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/ConsoleStream.h"
#ifdef _WIN32
#include "media/WideText.h"
#endif
#include "tests/TestFiles.h"

namespace tunlet {
namespace {

// A lost write, as the window's box says it: the old first line, then why.
constexpr char kWriteErrLines[] =
    "write err\nThe cable stopped taking data: was the USB-Blaster unplugged during the transfer?\n";

struct CliRun {
    int code;
    std::string out, err;
};

CliRun Cli(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int code = RunCli(args, out, err);
    return {code, out.str(), err.str()};
}

TEST(CliInfo, PrintsSummaryWithLfAndNewline) {
    const CliRun r = Cli({"info", test::DataFile("db_apu.nes")});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "n16kRomBanks\t1\nn8kVRomBanks\t0\nfMirroringType\t0\tfor horizontal mirroring\n"
              "fBatteryBackedRAM\t0\nf512ByteTrainer\t0\nf4ScreenVRamLayout\t0\nnRomMapperType\t0\n"
              "NES 2.0 submapper\t0\n\n");
    const CliRun t = Cli({"info", test::DataFile("clip_5b.nsf")});
    EXPECT_EQ(t.code, 0);
    EXPECT_EQ(t.out.substr(t.out.size() - 21), "ExtraSound: 20  SN5B\n");
    EXPECT_EQ(t.out.find('\r'), std::string::npos);
}

TEST(CliInfo, ExitCodes) {
    test::TempDir dir;
    test::Bytes eof = test::MakeNes(1, 0);
    eof.push_back(9);
    const std::string damaged = dir.Write("eof.nes", eof);
    const std::string notMedia = dir.Write("notes.txt", test::Bytes(10, 'x'));
    const std::string folder = dir.path() + "/songs.nes";
    std::filesystem::create_directory(folder);
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string out, errStart;
    };
    std::vector<Case> cases = {
        {{"info", damaged}, 1, "", "tunlet-cli: " + damaged + ": EOF error\n"},
        {{"info", notMedia}, 1, "", "tunlet-cli: " + notMedia + ": Not an NSF tune or iNES ROM: it has neither an NESM"},
        {{"info", folder}, 1, "", "tunlet-cli: " + folder + ": Not an NSF tune or iNES ROM: it is a directory."},
        {{"info", dir.path() + "/none.nsf"}, 1, "", "tunlet-cli: " + dir.path() + "/none.nsf: Not an NSF"},
        {{}, 2, "", "tunlet-cli: no command given\nusage:"},
        {{"info"}, 2, "", "tunlet-cli: info takes exactly one FILE\nusage:"},
        {{"info", "a", "b"}, 2, "", "tunlet-cli: info takes"},
        {{"frobnicate"}, 2, "", "tunlet-cli: unknown command 'frobnicate'"},
        {{"--version"}, 0, "tunlet-cli 1.0.0.1\n", ""},
    };
#ifndef _WIN32
    // Nothing that is not a regular file is waited on: a pipe without a writer would
    // block any read for ever.
    const std::string pipe = dir.path() + "/tune.nsf";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    cases.push_back({{"info", pipe}, 1, "", "tunlet-cli: " + pipe + ": Not an NSF tune or iNES ROM: it is not a regular file"});
    cases.push_back(
        {{"info", "/dev/null"}, 1, "", "tunlet-cli: /dev/null: Not an NSF tune or iNES ROM: it is not a regular file"});
#endif
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const CliRun r = Cli(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err.rfind(c.errStart, 0), 0u) << r.err;
    }
    for (const char* asked : {"--help", "-h", "/?"}) {
        const CliRun help = Cli({asked});
        EXPECT_EQ(help.code, 0) << asked;
        EXPECT_NE(help.out.find("info FILE"), std::string::npos) << asked;
    }
}

}  // namespace
}  // namespace tunlet

#include <csignal>

#include "cable/VirtualBoard.h"
#include "link/ChainScan.h"
#include "tests/LinkTestSupport.h"

namespace tunlet {
namespace {

CliRun CliWith(std::vector<std::string> args, std::shared_ptr<CableBackend> cable) {
    std::ostringstream out, err;
    CliEnvironment env;
    env.usbBlaster = std::move(cable);
    const int code = RunCli(args, out, err, env);
    return {code, out.str(), err.str()};
}

TEST(CliPlay, DumpHoldsTheWindowsStream) {
    test::TempDir dir;
    const std::string dump = dir.path() + "/cable.bin";
    // The same upload through the virtual board, as the window would send it.
    auto board = VirtualBoard::Create();
    struct Case {
        std::vector<std::string> extra;
        std::int32_t song;
        std::int32_t loaded;
    };
    const Case cases[] = {{{}, 1, 0}, {{"--song", "1", "--header-only"}, 1, 1}};
    for (const auto& c : cases) {
        std::vector<std::string> args = {"play", test::DataFile("db_apu.nsf"), "--cable", "dump:" + dump};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const CliRun r = Cli(args);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err, "");  // no progress bar off a terminal

        test::BoardSession s;
        test::FakeHost host(s.handle);
        ASSERT_EQ(host.tune.Read(test::DataFile("db_apu.nsf").c_str()), 0);
        host.tune.nFileSize = 32768;
        host.song = c.song;
        host.loaded = c.loaded;
        SendTuneThread(host);
        EXPECT_TRUE(test::ReadAll(dump) == s.board->Snapshot().raw);
        EXPECT_EQ(test::ReadAll(dump).size(), c.loaded ? 334u : 62 + 2 * (2 + 128 + 8 * 4096 + 4) + 6u);
    }
    const CliRun rom = Cli({"play", test::DataFile("clip_5b.nes"), "--cable", "dump:" + dump});
    ASSERT_EQ(rom.code, 0);
    EXPECT_EQ(test::ReadAll(dump).size(), 62 + 2 * (2 + 16 + 16384 + 3) + 6u);
}

TEST(CliPlay, VirtualBoardReport) {
    const CliRun r = Cli({"play", test::DataFile("db_apu.nes"), "--cable", "virtual"});
    ASSERT_EQ(r.code, 0);
    const test::Bytes image = test::ReadAll(test::DataFile("db_apu.nes"));
    test::Bytes payload = {0x00, 0x00};
    payload.insert(payload.end(), image.begin(), image.end());
    payload.insert(payload.end(), 3, 0);
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08X", Crc32(payload.data(), payload.size()));
    EXPECT_NE(r.out.find("USER1: 0x100 (9 bits)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("USER0: " + std::to_string(payload.size()) + " bytes, CRC-32 " + crc), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("TAP: Run-Test/Idle, outputs released"), std::string::npos);
}

TEST(CliPlay, Crc32KnownValue) {
    const std::string s = "123456789";
    EXPECT_EQ(Crc32(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()), 0xCBF43926u);
}

TEST(CliPlay, FailuresAndExitCodes) {
    auto unplugged = VirtualBoard::Create();
    unplugged->SetConnected(false);
    const CliRun nc = CliWith({"play", test::DataFile("db_apu.nsf")}, unplugged);
    EXPECT_EQ(nc.code, 3);
    EXPECT_EQ(nc.err.rfind("FPGA board is not connected.\nNo USB-Blaster found", 0), 0u) << nc.err;

    // A lost write anywhere is exit 4: in a block, in the preamble, in the closing walk,
    // in the board check before them; packed, a transfer's write cut after its first byte.
    struct Lost {
        std::size_t write;
        DWORD written;
        bool packed;
    };
    for (const Lost& l : {Lost{kBoardCheckWrites + 12, 0, false}, Lost{kBoardCheckWrites + 3, 0, false},
                          Lost{kBoardCheckWrites + 23, 0, false}, Lost{0, 0, false}, Lost{kBoardCheckWrites + 1, 1, true}}) {
        SCOPED_TRACE(std::to_string(l.write) + (l.packed ? " packed" : ""));
        auto failing = VirtualBoard::Create();
        failing->FailWrite(l.write, l.written);
        std::vector<std::string> args = {"play", test::DataFile("db_apu.nsf")};
        if (l.packed) args.push_back("--packed");
        const CliRun we = CliWith(args, failing);
        EXPECT_EQ(we.code, 4);
        EXPECT_EQ(we.err, kWriteErrLines);
        EXPECT_EQ(failing->Snapshot().state, TapState::RunTestIdle);
        EXPECT_FALSE(failing->Snapshot().outputEnable);
        EXPECT_FALSE(failing->IsOpen());
    }

    // Ctrl-C, SIGTERM or SIGHUP during a block: the block finishes, the closing walk
    // goes out, the exit status is 128 plus the signal; packed too, during the first
    // transfer, which block 3 fills. On Windows, Ctrl-Break and a closing console
    // arrive as console events. During the closing walk nothing is left to stop: the
    // upload is sent.
    struct Stop {
        int signal;
        bool packed;
        unsigned long consoleEvent;  // 0: raised as a signal
        bool atClosingWalk = false;
    };
    std::vector<Stop> stops = {{SIGINT, false, 0}, {SIGINT, true, 0}, {SIGTERM, false, 0}, {SIGTERM, false, 0, true}};
#ifdef _WIN32
    stops.push_back({SIGBREAK, false, CTRL_BREAK_EVENT});
    EXPECT_EQ(ConsoleEventSignal(CTRL_CLOSE_EVENT), SIGTERM);
    EXPECT_EQ(ConsoleEventSignal(CTRL_C_EVENT), SIGINT);
    EXPECT_FALSE(OnConsoleEvent(CTRL_C_EVENT));  // no transfer: Windows' own Ctrl-C
#else
    stops.push_back({SIGHUP, true, 0});
#endif
    for (const Stop& stop : stops) {
        SCOPED_TRACE(std::to_string(stop.signal) + (stop.packed ? " packed" : "") + (stop.atClosingWalk ? " late" : ""));
        const std::size_t at = kBoardCheckWrites + (stop.atClosingWalk ? 23 : stop.packed ? 0 : 13);
        auto interrupted = VirtualBoard::Create();
        interrupted->SetWriteFault([stop, at](std::size_t index, DWORD) -> std::optional<DWORD> {
            if (index != at) return std::nullopt;
#ifdef _WIN32
            if (stop.consoleEvent != 0) {
                OnConsoleEvent(stop.consoleEvent);
                return std::nullopt;
            }
#endif
            std::raise(stop.signal);
            return std::nullopt;
        });
        std::vector<std::string> args = {"play", test::DataFile("db_apu.nsf")};
        if (stop.packed) args.push_back("--packed");
        const CliRun ir = CliWith(args, interrupted);
        const auto rec = interrupted->Snapshot();
        EXPECT_EQ(rec.state, TapState::RunTestIdle);
        if (stop.atClosingWalk) {
            EXPECT_EQ(ir.code, 0);
            EXPECT_EQ(ir.err, "");
            EXPECT_NE(ir.out.find("sent " + args[1] + ", song 1 of 1: 32902 bytes\n"), std::string::npos) << ir.out;
            EXPECT_EQ(rec.user0.size(), 2 + 128 + 8 * 4096 + 4u);
            continue;
        }
        EXPECT_EQ(ir.code, 128 + stop.signal);
        EXPECT_EQ(ir.err, "tunlet-cli: stopped\n");
        EXPECT_EQ(rec.user0.size(), 2 + 128 + (stop.packed ? 4 : 3) * 4096 + 4u);
    }

    struct Case {
        std::vector<std::string> args;
        int code;
        std::string errPart;
    };
    const std::string apu = test::DataFile("db_apu.nsf");
    const Case cases[] = {
        {{"play"}, 2, "play needs a FILE"},
        {{"play", apu, "--song"}, 2, "--song needs a value"},
        {{"play", apu, "--loud"}, 2, "unknown option '--loud'"},
        {{"play", "/nonexistent/x.nsf", "--cable", "virtual"}, 1, "Not an NSF tune or iNES ROM"},
        {{"play", apu, "--cable", "dump:/nonexistent/dir/f"}, 3, "Cannot create the dump"},
        {{"play", apu, "--cable", "dump:/tmp"}, 3, "Cannot create the dump file /tmp: Is a directory"},
#ifdef _WIN32
        {{"play", apu, "--cable", "dump:/dev/full"}, 4, "write err"},
#else
        {{"play", apu, "--cable", "dump:/dev/full"}, 4, "write err\nCannot write the dump file /dev/full: No space left on device\n"},
#endif
        {{"play", apu, "--track-seconds", "5"}, 2, "--track-seconds goes with --playlist"},
        {{"play", apu, "--playlist", "--song", "2"}, 2, "--song and --playlist do not go together"},
        {{"play", apu, "--playlist", "--track-seconds", "-1"}, 2, "--track-seconds needs a number of seconds"},
        {{"play", apu, "--playlist", "--track-seconds", "x"}, 2, "--track-seconds needs a number of seconds"},
        {{"play", test::DataFile("db_apu.nes"), "--playlist"}, 2, "--playlist is for tunes"},
        {{"play", apu, "--tck", "31"}, 2, "--tck needs a TCK in MHz, above 0 and at most 30, not '31'"},
        {{"play", apu, "--tck", "0"}, 2, "--tck needs a TCK in MHz"},
        {{"scan", "--tck", "6x"}, 2, "--tck needs a TCK in MHz"},
        {{"play", apu, "--cable", "arrow-usb-blaster:"}, 2, "unknown cable 'arrow-usb-blaster:'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const CliRun r = CliWith(c.args, unplugged);
        EXPECT_EQ(r.code, c.code);
        EXPECT_NE(r.err.find(c.errPart), std::string::npos) << r.err;
    }

    // A wrong value of one option says what is allowed, in one line, without the usage
    // text (exit 2); a damaged ROM names its file (exit 1).
    test::TempDir dir;
    test::Bytes eof = test::MakeNes(1, 0);
    eof.push_back(9);
    const std::string damaged = dir.Write("eof.nes", eof);
    test::Bytes cut = test::MakeNes(1, 1);
    cut.resize(cut.size() - 100);  // CHR data shorter than the header says
    const std::string shortChr = dir.Write("short.nes", cut);
    struct ValueCase {
        std::vector<std::string> args;
        int code;
        std::string err;
    };
    const std::string oneSong = "tunlet-cli: --song: this tune has one song, not ";
    test::NsfSpec twelve;
    twelve.songs = 12;
    const std::string multi = dir.Write("multi.nsf", test::MakeNsf(twelve, 10));
    test::NsfSpec two;
    two.songs = 2;
    const std::string effects = dir.Write("effects.nsfe", test::MakeNsfe({test::Chunk("INFO", test::NsfeInfo(two)),
                                                                          test::Chunk("psfx", {0, 1}),
                                                                          test::Chunk("DATA", test::TuneData(100)),
                                                                          test::Chunk("NEND", {})}));
    const ValueCase values[] = {
        {{"play", apu, "--song", "2"}, 2, oneSong + "'2'\n"},
        {{"play", apu, "--song", "0"}, 2, oneSong + "'0'\n"},
        {{"play", apu, "--song", "x"}, 2, oneSong + "'x'\n"},
        {{"play", apu, "--song", ""}, 2, oneSong + "''\n"},
        {{"play", multi, "--song", "13"}, 2, "tunlet-cli: --song must be a number from 1 to 12 for this tune, not '13'\n"},
        {{"play", test::DataFile("db_apu.nes"), "--song", "2"}, 2, "tunlet-cli: --song: a ROM has no songs to choose (only --song 1)\n"},
        {{"play", test::DataFile("db_apu.nes"), "--header-only"}, 2, "tunlet-cli: --header-only is for tunes; a ROM is always sent whole\n"},
        {{"play", apu, "--cable", "serial"}, 2, "tunlet-cli: unknown cable 'serial': use usb-blaster, usb-blaster:SERIAL, arrow-usb-blaster[:SERIAL], usb-blaster-iii[:SERIAL], virtual, virtual:LIST or dump:PATH\n"},
        {{"play", apu, "--cable", "virtual:ep4ce22,xc7"}, 2,
         "tunlet-cli: unknown cable 'virtual:ep4ce22,xc7': 'xc7' is no device of a virtual chain: use ep4ce22, "
         "5cseba6, nohub, epm570, dap, 0xIDCODE:IR (an odd IDCODE, IR 2 to 32 bits) or none:IR\n"},
        {{"play", effects, "--playlist"}, 2,
         "tunlet-cli: --playlist: every track of this tune is a sound effect; play one with --song\n"},
        {{"play", damaged, "--cable", "virtual"}, 1, "tunlet-cli: " + damaged + ": EOF error\n"},
        {{"play", shortChr, "--cable", "virtual"}, 1,
         "tunlet-cli: " + shortChr + ": rom read error\nexpected 24592 bytes, the file has 24492\n"},
    };
    for (const auto& c : values) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const CliRun r = CliWith(c.args, unplugged);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
}

// A successful send ends with one line: the file, the song, and the bytes the board's
// USER0 register took (counted by the virtual board).
TEST(CliPlay, SuccessEndsWithWhatWasSent) {
    test::TempDir dir;
    test::NsfSpec spec;
    spec.songs = 12;
    spec.startSong = 4;
    const std::string tune = dir.Write("チップ チューン.nsf", test::MakeNsf(spec, 40000));
    const std::string rom = test::DataFile("clip_5b.nes");
    struct Case {
        std::vector<std::string> args;
        std::string line;
    };
    const Case cases[] = {
        {{"play", tune, "--cable", "virtual"}, "sent " + tune + ", song 4 of 12: "},
        {{"play", tune, "--song", "12", "--cable", "virtual"}, "sent " + tune + ", song 12 of 12: "},
        {{"play", tune, "--header-only", "--cable", "virtual"}, "sent " + tune + " (header only), song 4 of 12: "},
        {{"play", rom, "--cable", "virtual"}, "sent " + rom + " (ROM): "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const CliRun r = Cli(c.args);
        ASSERT_EQ(r.code, 0) << r.err;
        ASSERT_EQ(r.out.back(), '\n');
        const std::string last = r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1);
        EXPECT_EQ(last.rfind(c.line, 0), 0u) << last;
        // The count the line gives is the count the board's report gives.
        const std::size_t at = r.out.find("USER0: ");
        ASSERT_NE(at, std::string::npos);
        const std::string count = r.out.substr(at + 7, r.out.find(' ', at + 7) - at - 7);
        EXPECT_EQ(last, c.line + count + " bytes\n");
    }
    // Through a dump too: the one line, nothing else.
    const CliRun d = Cli({"play", tune, "--cable", "dump:" + dir.path() + "/d.bin"});
    EXPECT_EQ(d.out, "sent " + tune + ", song 4 of 12: " + std::to_string(2 + 128 + 10 * 4096 + 4) + " bytes\n");
}

TEST(CliPlay, CompleteUtf8Prefix) {
    struct Case {
        std::string bytes;
        std::size_t complete;
    };
    const Case cases[] = {
        {"", 0},
        {"abc\n", 4},
        {"\xE6\x9B\xB2", 3},              // 曲, whole
        {"a\xE6\x9B", 1},                  // its last byte still to come
        {"a\xE6", 1},
        {"\xF0\x9F\x8E\xB5", 4},          // a four-byte character, whole
        {"\xF0\x9F\x8E", 0},
        {"\xC3", 0},
        {"a\x80", 2},                       // a stray continuation byte: nothing to wait for
        {"\xFF", 1},
    };
    for (const auto& c : cases) EXPECT_EQ(CompleteUtf8Prefix(c.bytes), c.complete) << testing::PrintToString(c.bytes);
}

#ifdef _WIN32
// To a file (or a pipe) the streams write the UTF-8 bytes as they are, with LF line
// ends, a character split across two writes included.
TEST(CliPlay, StreamToAFileStaysUtf8) {
    test::TempDir dir;
    const std::string path = dir.path() + "/out.txt";
    const std::string text = "sent \xE6\x9B\xB2.nsf\nwrite err\n";
    {
        HANDLE file = ::CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        {
            ConsoleStreamBuf buf(file);
            std::ostream out(&buf);
            out << text.substr(0, 7) << std::flush;  // ends inside the three bytes of the character
            out << text.substr(7);
        }
        ::CloseHandle(file);
    }
    const test::Bytes bytes = test::ReadAll(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), text);
}
#endif
// The check's outcomes on the command line: exit 3 with the reason, exit 5 with the
// chain, --device choosing among FPGAs, and --no-board-check sending anyway.
TEST(CliPlay, BoardCheckExitCodes) {
    const ChainDevice dap{0x4BA00477, 4, {}}, cv{0x02D020DD, 10, VirtualHub{}}, c4{0x020F30DD, 10, VirtualHub{}};
    struct Case {
        const char* label;
        std::vector<ChainDevice> chain;
        TdoLine line;
        std::vector<std::string> extra;
        int code;
        std::string err;
        int reads;                     // the chain, then each FPGA's hub
        std::optional<std::size_t> to;  // the device that took the upload
    };
    const Case cases[] = {
        {"off", DefaultBoardChain(), TdoLine::StuckHigh, {}, 3,
         std::string("FPGA board is not connected.\n") + kReasonNoDevice + "\n", 1, {}},
        {"a SoC board", {dap, cv}, TdoLine::Chain, {}, 0, "", 2, 1},
        {"two FPGAs", {c4, cv}, TdoLine::Chain, {}, 5,
         "Tunlet cannot send to this board.\nSeveral FPGAs take uploads: device 1, 0x020F30DD (Cyclone IV E EP4CE22 / "
         "Cyclone III EP3C25 / Cyclone 10 LP 10CL025); device 2, 0x02D020DD (Cyclone V 5CSEA6/5CSEBA6). Choose one: "
         "tunlet-cli --device N, or the window's menu entry \"Choose the FPGA...\".\n", 3, {}},
        {"two FPGAs, one chosen", {c4, cv}, TdoLine::Chain, {"--device", "2"}, 0, "", 2, 1},
        {"off, unchecked", DefaultBoardChain(), TdoLine::StuckLow, {"--no-board-check"}, 0, "", 0, 0},
        {"chosen, unchecked", {c4, cv}, TdoLine::Chain, {"--device", "2", "--no-board-check"}, 2, "", 0, {}},
        {"no such device", {c4, cv}, TdoLine::Chain, {"--device", "9"}, 2, "", 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        auto board = VirtualBoard::Create();
        board->SetChain(c.chain, c.line);
        std::vector<std::string> args = {"play", test::DataFile("db_apu.nsf")};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const CliRun r = CliWith(args, board);
        EXPECT_EQ(r.code, c.code);
        if (c.code != 2) {
            EXPECT_EQ(r.err, c.err);
        }
        const auto rec = board->Snapshot();
        EXPECT_EQ(rec.reads, c.reads);
        for (std::size_t i = 0; i < rec.devices.size(); ++i) {
            // The whole tune went to the one device, as its header says: 32902 bytes.
            EXPECT_EQ(rec.devices[i].user0Bits > 32902 * 8, c.to == i) << "device " << i + 1;
        }
    }
    // A device between the cable's TDI and the FPGA: the line that says what the design sees.
    const CliRun r = Cli({"play", test::DataFile("db_apu.nsf"), "--header-only", "--cable", "virtual:5cseba6,dap"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("The device between the cable's TDI and the FPGA hands the FPGA its captured 0 bit ahead of "
                          "every upload: the design sees one 0 bit before the data.\n",
                          0),
              0u)
        << r.out;
}

TEST(CliPlay, VirtualBoardReportListsTheCheck) {
    const CliRun r = Cli({"play", test::DataFile("db_apu.nsf"), "--cable", "virtual", "--header-only"});
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("virtual board received " + std::to_string(kBoardCheckCableBytes + 334) +
                              " cable bytes in 17 writes\n  DR scan: 289 bits into IDCODE",
                          0),
              0u)
        << r.out;
}

TEST(CliScan, VirtualBoardAndUsage) {
    const CliRun r = Cli({"scan", "--cable", "virtual"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "cable: virtual board\n"
              "device 1: 0x020F30DD, Altera, Cyclone IV E EP4CE22 / Cyclone III EP3C25 / Cyclone 10 LP 10CL025, IR 10 bits "
              "(from the table), uploads go here\n"
              "virtual JTAG hub: version 1, 1 node, widest node instruction 8 bits\n"
              "  node 1: virtual JTAG (id 0x08), instance 0, version 1\n"
              "the design is ready for uploads\n");
    EXPECT_EQ(Cli({"scan", "--cable", "dump:/tmp/x"}).code, 2);
    EXPECT_EQ(Cli({"scan", "extra"}).code, 2);
    auto unplugged = VirtualBoard::Create();
    unplugged->SetConnected(false);
    EXPECT_EQ(CliWith({"scan"}, unplugged).code, 3);
    auto failing = VirtualBoard::Create();
    failing->FailWrite(0, 0);
    const CliRun f = CliWith({"scan"}, failing);
    EXPECT_EQ(f.code, 4);
    EXPECT_EQ(f.err, kWriteErrLines);
}

TEST(CliPlay, SongChoosesHeaderByte7) {
    test::TempDir dir;
    test::NsfSpec spec;
    spec.songs = 12;
    spec.startSong = 4;
    const std::string tune = dir.Write("multi.nsf", test::MakeNsf(spec, 100));
    const std::string dump = dir.path() + "/d.bin";
    struct Case {
        std::vector<std::string> extra;
        std::uint8_t byte7;
    };
    const Case cases[] = {{{}, 4}, {{"--song", "12"}, 12}, {{"--song", "1"}, 1}};
    for (const auto& c : cases) {
        std::vector<std::string> args = {"play", tune, "--cable", "dump:" + dump};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        ASSERT_EQ(Cli(args).code, 0);
        const test::Bytes bytes = test::ReadAll(dump);
        // Shift word of header byte 7: after the preamble, two lead words and seven header words.
        EXPECT_EQ(bytes[62 + 2 * (2 + 7) + 1], c.byte7);
    }
}

// --playlist: the first track whole, then each next one's header alone, effects
// skipped, one line per track; FILE may be the playlist itself.
TEST(CliPlay, PlaylistPlaysTheTracksInOrder) {
    test::TempDir dir;
    test::NsfSpec spec;
    spec.songs = 4;
    const std::string album = dir.Write("album.nsfe", test::MakeAlbumNsfe());
    dir.Write("plain.nsf", test::MakeNsf(spec, 100));
    const std::string m3u = dir.Write("list.m3u", [] {
        const std::string text = "plain.nsf::NSF,4,Last,0:07\nplain.nsf::NSF,$1,Second\n";
        return test::Bytes(text.begin(), text.end());
    }());
    const std::string dump = dir.path() + "/d.bin";
    constexpr std::size_t kWhole = 62 + 2 * (2 + 128 + 8 * 4096 + 4) + 6, kHeader = 62 + 2 * (2 + 128 + 3) + 6;
    struct Case {
        std::string file;
        std::string out;
        std::vector<int> songs;  // header byte 7 of each upload
    };
    const Case cases[] = {
        {album, "1/3 song 3: Three (0:20)\n2/3 song 1: One (0:10)\n3/3 song 4: Four (2:30)\n", {3, 1, 4}},
        {m3u, "1/2 song 4: Last (0:07)\n2/2 song 2: Second (2:30)\n", {4, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const CliRun r = Cli({"play", c.file, "--playlist", "--track-seconds", "0", "--cable", "dump:" + dump});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
        const test::Bytes bytes = test::ReadAll(dump);
        ASSERT_EQ(bytes.size(), kWhole + (c.songs.size() - 1) * kHeader);
        for (std::size_t i = 0; i < c.songs.size(); ++i) {
            const std::size_t at = (i == 0 ? 0 : kWhole + (i - 1) * kHeader) + 62 + 2 * (2 + 7) + 1;
            EXPECT_EQ(bytes[at], c.songs[i]) << i;
            // The "already loaded" flag (header byte 126) only after the first.
            EXPECT_EQ(bytes[at + 2 * (126 - 7)], i == 0 ? 0 : 1) << i;
        }
    }

    // Ctrl-C during the first track: nothing more is sent, the TAP is left idle, 130.
    auto board = VirtualBoard::Create();
    board->SetWriteFault([](std::size_t index, DWORD) -> std::optional<DWORD> {
        if (index == 20) std::raise(SIGINT);
        return std::nullopt;
    });
    const CliRun ir = CliWith({"play", album, "--playlist", "--track-seconds", "600", "--no-board-check"}, board);
    EXPECT_EQ(ir.code, 130);
    EXPECT_EQ(ir.out, "1/3 song 3: Three (0:20)\n");
    EXPECT_EQ(board->Snapshot().opens, 1);
    EXPECT_EQ(board->Snapshot().state, TapState::RunTestIdle);
    EXPECT_FALSE(board->IsOpen());
}

TEST(CliInfo, PlaylistInPlayOrder) {
    test::TempDir dir;
    test::NsfSpec spec;
    spec.songs = 2;
    dir.Write("t.nsf", test::MakeNsf(spec, 100));
    const std::string text = "t.nsf::NSF,2,B,1:00:05.5\n";
    dir.Write("t.m3u", test::Bytes(text.begin(), text.end()));
    const CliRun r = Cli({"info", dir.path() + "/t.nsf"});
    EXPECT_EQ(r.code, 0);
    const std::string tail = "ExtraSound: 00 \n\nPlaylist: t.m3u\nTracks:\n  2 B 1:00:05\n";
    ASSERT_GE(r.out.size(), tail.size());
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
}

// --packed: the dump holds the packed stream, the virtual board reports the same as
// without it (all but the first line, which counts cable bytes and writes). A lost
// write or Ctrl-C with it is in FailuresAndExitCodes.
TEST(CliPlay, PackedSendsTheSameBitsInFewerBytes) {
    test::TempDir dir;
    const std::string dump = dir.path() + "/packed.bin";
    for (const char* name : {"db_apu.nsf", "db_apu.nes", "nsf2_saw_song.nsf"}) {
        SCOPED_TRACE(name);
        const CliRun plain = Cli({"play", test::DataFile(name), "--cable", "virtual"});
        const CliRun packed = Cli({"play", test::DataFile(name), "--packed", "--cable", "virtual"});
        ASSERT_EQ(plain.code, 0);
        ASSERT_EQ(packed.code, 0) << packed.err;
        EXPECT_EQ(plain.out.substr(plain.out.find('\n')), packed.out.substr(packed.out.find('\n')));
        EXPECT_NE(plain.out.substr(0, plain.out.find('\n')), packed.out.substr(0, packed.out.find('\n')));
    }
    // db_apu.nsf, padded to 8 blocks: the packed preamble (a 0x2C before each of its
    // three commands), 0x2C, lead and header runs, 8 blocks of 65 commands of 63 bytes
    // and one of 1, the trailer run and the closing walk.
    ASSERT_EQ(Cli({"play", test::DataFile("db_apu.nsf"), "--cable", "dump:" + dump, "--packed"}).code, 0);
    const test::Bytes bytes = test::ReadAll(dump);
    ASSERT_EQ(bytes.size(), 65 + 1 + 3 + 131 + 8 * 4162 + 5 + 6u);
    EXPECT_EQ(bytes[65], 0x2C);
    EXPECT_EQ(bytes[66], 0x82);
    EXPECT_EQ(bytes[69], 0xBF);
    EXPECT_EQ(bytes[69 + 131], 0xBF);                   // the first block's first command
    EXPECT_EQ(bytes[69 + 131 + 65 * 64], 0x81);         // its last partial run
    EXPECT_EQ(bytes[bytes.size() - 11], 0x84);          // the trailer
    EXPECT_EQ(bytes[bytes.size() - 2], 0x0C);

    EXPECT_NE(Cli({"--help"}).out.find("--packed"), std::string::npos);
}
}  // namespace
}  // namespace tunlet
