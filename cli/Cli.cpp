#include "cli/Cli.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <iterator>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iomanip>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <sstream>
#include <string_view>
#include <thread>

#include "app/BoardScan.h"
#include "app/Boxes.h"
#include "app/LoadFile.h"
#include "link/ChainScan.h"
#include "link/JtagParts.h"
#include "link/Upload.h"
#include "media/Playlist.h"
#include "cable/CableChoice.h"
#include "res/Strings.h"
#include "res/Version.h"

namespace tunlet {

namespace {

constexpr const char* kUsage =
    "usage: tunlet-cli info FILE\n"
    "       tunlet-cli play FILE [--song N] [--header-only] [--packed] [--no-board-check]\n"
    "                            [--cable usb-blaster|virtual|dump:PATH]\n"
    "       tunlet-cli play FILE --playlist [--track-seconds S] [--header-only] [--cable ...]\n"
    "       tunlet-cli scan [--cable usb-blaster|virtual]\n"
    "       tunlet-cli --help | -h | /? | --version\n";

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
    "    --cable usb-blaster the real cable (default)\n"
    "    --cable virtual     a board in memory: prints what it received\n"
    "    --cable dump:PATH   write the raw cable bytes to PATH\n"
    "    --no-board-check    do not read the JTAG chain back before sending (for a\n"
    "                        board whose chain is refused but whose design takes uploads)\n"
    "  FILE may be an extended M3U playlist; one beside a tune with its base name is used.\n"
    "  scan                  list the devices on the JTAG chain and, for one Intel FPGA,\n"
    "                        the virtual JTAG hub and nodes of its design\n"
    "\n"
    "Before sending, play resets the JTAG chain and reads its IDCODEs: one Intel FPGA\n"
    "is what Tunlet drives. Ctrl-C, SIGTERM and SIGHUP stop a transfer as the\n"
    "window's Stop does.\n"
    "Exit codes: 0 done, 1 file problem, 2 usage error, 3 board not connected,\n"
    "4 write error, 5 JTAG chain refused, 128 + the signal when stopped (130 Ctrl-C).\n";

int Usage(std::ostream& err, const std::string& problem) {
    err << "tunlet-cli: " << problem << "\n" << kUsage;
    return kExitUsage;
}

bool Load(const std::string& path, NsfTune& tune, std::unique_ptr<NesRom>& rom, LoadOutcome& outcome,
          std::ostream& err) {
    outcome = LoadFile(path.c_str(), tune, rom);
    switch (outcome.kind) {
        case LoadKind::Tune:
        case LoadKind::Rom:
            return true;
        case LoadKind::Damaged:  // the reader's own text, "rom read error" or "EOF error"
        case LoadKind::Unknown:
            err << "tunlet-cli: " << path << ": " << outcome.text << "\n";
            return false;
    }
    return false;
}

int Info(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2) return Usage(err, "info takes exactly one FILE");
    NsfTune tune;
    tune.Init();
    std::unique_ptr<NesRom> rom;
    LoadOutcome outcome;
    if (!Load(args[1], tune, rom, outcome, err)) return kExitFile;
    out << outcome.text << "\n";
    out.flush();
    return kExitOk;
}

// Ctrl-C, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break and closing the console)
// ask the running upload to stop, as Stop does: the block in flight completes, the
// closing walk leaves the TAP in Run-Test/Idle, and the exit status is 128 plus the
// signal.
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<std::atomic<std::int32_t>*>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");
std::atomic<std::atomic<std::int32_t>*> g_busy{nullptr};
std::atomic<int> g_signal{0};
// Stop requests between reading g_busy and their last use of what it points to.
std::atomic<int> g_stopsUnderway{0};

extern "C" void OnStopSignal(int sig) {
    g_stopsUnderway.fetch_add(1);
    g_signal.store(sig);
    if (std::atomic<std::int32_t>* busy = g_busy.load()) busy->store(0);
    g_stopsUnderway.fetch_sub(1);
}

// Points stop requests at busy, or (null) at nothing. Once this returns with null, no
// stop request touches the old flag again: one that had read the pointer is over.
void AimStopRequests(std::atomic<std::int32_t>* busy) {
    g_busy.store(busy);
    if (busy != nullptr) return;
    while (g_stopsUnderway.load() != 0) std::this_thread::yield();
}

#ifdef _WIN32
// Ctrl-Break's own signal (SIGBREAK); SIGINT and SIGTERM for raise() too.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGBREAK};

// Console control events arrive here, on a thread of their own.
BOOL WINAPI OnConsoleControl(::DWORD event) { return OnConsoleEvent(event) ? TRUE : FALSE; }

// Set while no transfer runs: the command's outcome is written.
HANDLE EndedEvent() {
    static const HANDLE ended = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    return ended;
}

class InterruptGuard {
public:
    explicit InterruptGuard(std::atomic<std::int32_t>& busy) {
        g_signal = 0;
        ::ResetEvent(EndedEvent());
        AimStopRequests(&busy);
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i) old_[i] = std::signal(kStopSignals[i], OnStopSignal);
        // Registered for the program's life: Windows holds its list of handlers while
        // one runs, so taking this one off would wait for a closing console's handler,
        // which waits for this command to end. Outside a transfer it leaves Ctrl-C and
        // Ctrl-Break to Windows.
        static const bool registered = ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != FALSE;
        static_cast<void>(registered);
    }
    ~InterruptGuard() {
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i) std::signal(kStopSignals[i], old_[i]);
        AimStopRequests(nullptr);
        ::SetEvent(EndedEvent());
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    void (*old_[std::size(kStopSignals)])(int) = {};
};
#else
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

class InterruptGuard {
public:
    explicit InterruptGuard(std::atomic<std::int32_t>& busy) {
        g_signal = 0;
        AimStopRequests(&busy);
        struct sigaction sa {};
        sa.sa_handler = OnStopSignal;
        sigemptyset(&sa.sa_mask);
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &sa, &old_[i]);
    }
    ~InterruptGuard() {
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &old_[i], nullptr);
        AimStopRequests(nullptr);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    struct sigaction old_[std::size(kStopSignals)] {};
};
#endif

constexpr double kMaxTrackSeconds = 86400;

// Waits ms milliseconds; false when a stop signal came first. Between tracks the TAP is idle.
bool WaitOrInterrupted(std::int64_t ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
    while (!g_signal && Clock::now() < end) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(50)));
    }
    return !g_signal;
}

// The tracks --playlist plays: the entries in play order without sound effects (all
// of them when every one is an effect).
std::vector<PlaylistEntry> MusicTracks(const NsfTune& tune) {
    const std::vector<PlaylistEntry> all = PlayEntries(tune.tracks, tune.nSongs);
    std::vector<PlaylistEntry> music;
    std::copy_if(all.begin(), all.end(), std::back_inserter(music), [](const PlaylistEntry& e) { return !e.fEffect; });
    return music.empty() ? all : music;
}

// The dialog as the upload sees it, for a terminal.
class CliHost : public UploadJob {
public:
    CliHost(std::ostream& err, bool bar) : err_(err), bar_(bar) {}

    bool writeError = false;
    bool fileError = false;
    // The upload went out whole: only then does it put the bar at 100 (after a stop
    // it stays below).
    bool whole = false;

    void SetProgress(int position) override {
        if (position == 100) whole = true;
        if (!bar_) return;
        std::lock_guard lock(mutex_);
        constexpr int kWidth = 40;
        const int filled = position * kWidth / 100;
        err_ << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
             << std::string(static_cast<std::size_t>(kWidth - filled), '-') << "] " << std::setw(3) << position << "%"
             << std::flush;
        drawn_ = true;
    }
    void ShowMessage(const char* text) override {
        std::lock_guard lock(mutex_);
        EndBar();
        // The window's words: the old first line, then why, when it is known.
        err_ << WorkerBox(text, tune.pszPath.get()).text << "\n";
        writeError |= std::string_view(text) == kWriteError;
        fileError |= std::string_view(text) == kFileNotOpened;
    }
    void EndBar() {
        if (drawn_) err_ << "\n";
        drawn_ = false;
    }

private:
    std::ostream& err_;
    bool bar_;
    bool drawn_ = false;
    std::mutex mutex_;
};

// A mistake in one option's value: what is allowed, without the whole usage text.
int BadValue(std::ostream& err, const std::string& problem) {
    err << "tunlet-cli: " << problem << "\n";
    return kExitUsage;
}

// What a check that did not pass says (the text the window's box shows), and its
// exit code.
int CheckFailed(const BoardCheck& check, std::ostream& err) {
    if (check.result == BoardCheck::Result::Ready) return kExitOk;
    err << CheckBox(check).text << "\n";
    switch (check.result) {
        case BoardCheck::Result::NotConnected: return kExitNotConnected;
        case BoardCheck::Result::Refused: return kExitChainRefused;
        default: return kExitWriteError;
    }
}

int Scan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
    std::string cable = "usb-blaster";
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--cable" && i + 1 < args.size()) {
            cable = args[++i];
        } else if (args[i] == "--cable") {
            return Usage(err, "--cable needs a value");
        } else {
            return Usage(err, "scan takes no '" + args[i] + "'");
        }
    }
    if (cable.rfind("dump:", 0) == 0) return Usage(err, "scan reads the cable: a dump cannot answer");
    const CableChoice choice = ChooseCable(cable, env.usbBlaster);
    if (!choice.backend) return BadValue(err, "unknown cable '" + cable + "': use usb-blaster or virtual");

    SetCableBackend(choice.backend);
    FT_HANDLE handle = nullptr;
    if (FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &handle) != FT_OK) {
        err << NotConnectedBox(CableOpenFailure()).text << "\n";
        SetCableBackend(nullptr);
        return kExitNotConnected;
    }
    std::string text;
    const BoardCheck check = ScanBoard(handle, text);
    out << text;
    FT_Close(handle);
    SetCableBackend(nullptr);
    return CheckFailed(check, err);
}

int Play(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
    std::string path;
    std::string cable = "usb-blaster";
    std::optional<std::string> song;
    bool headerOnly = false;
    bool boardCheck = true;
    bool packed = false;
    bool playlist = false;
    std::optional<double> trackSeconds;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--song" || a == "--cable" || a == "--track-seconds") {
            if (i + 1 == args.size()) return Usage(err, a + " needs a value");
            const std::string& v = args[++i];
            if (a == "--cable") {
                cable = v;
            } else if (a == "--track-seconds") {
                char* end = nullptr;
                const double seconds = std::strtod(v.c_str(), &end);
                if (v.empty() || *end != '\0' || !(seconds >= 0 && seconds <= kMaxTrackSeconds)) {
                    return Usage(err, "--track-seconds needs a number of seconds from 0 to 86400, not '" + v + "'");
                }
                trackSeconds = seconds;
            } else {
                song = v;  // checked once the file says how many songs it has
            }
        } else if (a == "--header-only") {
            headerOnly = true;
        } else if (a == "--no-board-check") {
            boardCheck = false;
        } else if (a == "--packed") {
            packed = true;
        } else if (a == "--playlist") {
            playlist = true;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return Usage(err, "unknown option '" + a + "'");
        } else if (path.empty()) {
            path = a;
        } else {
            return Usage(err, "play takes one FILE");
        }
    }
    if (path.empty()) return Usage(err, "play needs a FILE");
    if (trackSeconds && !playlist) return Usage(err, "--track-seconds goes with --playlist");
    if (song && playlist) return Usage(err, "--song and --playlist do not go together: the playlist gives the songs");

    const CableChoice choice = ChooseCable(cable, env.usbBlaster);
    if (!choice.backend) return BadValue(err, "unknown cable '" + cable + "': use " + kCableChoices);
    const std::shared_ptr<CableBackend>& backend = choice.backend;
    const std::shared_ptr<VirtualBoard>& virtualBoard = choice.board;
    if (virtualBoard) virtualBoard->SetKeepRaw(false);

    CliHost host(err, env.progressBar);
    host.packed = packed;
    LoadOutcome outcome;
    if (!Load(path, host.tune, host.rom, outcome, err)) return kExitFile;
    const long songs = host.rom ? 1 : std::max(1, static_cast<int>(host.tune.nSongs));
    long chosen = 0;
    if (song) {
        char* end = nullptr;
        errno = 0;
        chosen = std::strtol(song->c_str(), &end, 10);
        if (song->empty() || *end != '\0' || errno != 0 || chosen < 1 || chosen > songs) {
            if (host.rom) return BadValue(err, "--song: a ROM has no songs to choose (only --song 1)");
            if (songs == 1) return BadValue(err, "--song: this tune has one song, not '" + *song + "'");
            return BadValue(err, "--song must be a number from 1 to " + std::to_string(songs) + " for this tune, not '" +
                                     *song + "'");
        }
    }
    std::vector<PlaylistEntry> tracks;
    if (host.rom) {
        if (playlist) return BadValue(err, "--playlist is for tunes; a ROM has no tracks");
        if (headerOnly) return BadValue(err, "--header-only is for tunes; a ROM is always sent whole");
    } else {
        host.song = song ? static_cast<std::int32_t>(chosen) : InitialSliderPos(host.tune) + 1;
        host.loaded = headerOnly ? 1 : 0;
        if (playlist) {
            tracks = MusicTracks(host.tune);
            if (tracks.empty()) return BadValue(err, "--playlist: this tune has no tracks to play");
        }
    }

    SetCableBackend(backend);
    FT_HANDLE handle = nullptr;
    if (FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &handle) != FT_OK) {
        err << NotConnectedBox(CableOpenFailure()).text << "\n";
        SetCableBackend(nullptr);
        return kExitNotConnected;
    }
    // The board must be there and be one Tunlet drives; a dump cannot answer.
    if (boardCheck && CableCanRead(handle)) {
        const BoardCheck check = CheckBoard(handle);
        if (check.result != BoardCheck::Result::Ready) {
            FT_Close(handle);
            SetCableBackend(nullptr);
            if (virtualBoard) out << VirtualBoard::Describe(virtualBoard->Snapshot());
            return CheckFailed(check, err);
        }
    }
    host.board = handle;
    if (playlist) host.song = tracks.front().song;
    const std::int64_t payload = User0Bytes(host);  // before the worker marks the tune loaded
    InterruptGuard guard(host.busy);
    // One upload, or one per track of the playlist: the first whole, then each next
    // one's header alone once the track before is over. A stop request that comes
    // after an upload's last stop check finds it sent whole: only a stop that cut a
    // transfer short or came before or between uploads counts.
    const std::size_t count = playlist ? tracks.size() : 1;
    bool stopped = false;
    for (std::size_t i = 0; i < count; ++i) {
        host.whole = false;
        host.busy = 1;
        // After busy is set: a request that came before would otherwise be lost.
        if (g_signal != 0) {
            stopped = true;
            break;
        }
        if (playlist) {
            const PlaylistEntry& t = tracks[i];
            host.song = t.song;
            out << i + 1 << "/" << count << " song " << t.song << (t.title.empty() ? "" : ": " + t.title) << " ("
                << FormatDuration(t.PlayMs()) << ")\n";
            out.flush();
        }
        std::thread worker([&host] {
            if (host.rom) {
                SendRomThread(host);
            } else {
                SendTuneThread(host);
            }
        });
        worker.join();
        host.EndBar();
        if (host.writeError || host.fileError) break;
        if (g_signal != 0 && !host.whole) {
            stopped = true;
            break;
        }
        if (i + 1 == count) break;
        const std::int64_t ms = trackSeconds ? static_cast<std::int64_t>(*trackSeconds * 1000) : tracks[i].TotalMs();
        if (!WaitOrInterrupted(ms)) {
            stopped = true;
            break;
        }
    }
    // Decided here: a signal while the cable closes or the outcome is printed comes
    // after the transfer.
    const int stopSignal = stopped ? g_signal.load() : 0;
    host.EndBar();
    // A dump whose last bytes could not be kept is a failed transfer too.
    if (FT_Close(handle) != FT_OK && !host.writeError && !host.fileError) host.ShowMessage(kWriteError);
    SetCableBackend(nullptr);

    const int code = [&] {
        if (virtualBoard) out << VirtualBoard::Describe(virtualBoard->Snapshot());
        if (host.fileError) return static_cast<int>(kExitFile);
        if (host.writeError) return static_cast<int>(kExitWriteError);
        if (stopSignal != 0) {
            err << "tunlet-cli: stopped\n";
            return kExitSignalBase + stopSignal;
        }
        // The playlist's lines told what went to the board; else it is said in one line.
        if (playlist) return static_cast<int>(kExitOk);
        out << "sent " << path;
        if (host.rom) {
            out << " (ROM)";
        } else {
            out << (headerOnly ? " (header only), song " : ", song ") << host.song << " of " << songs;
        }
        out << ": " << payload << " bytes\n";
        return static_cast<int>(kExitOk);
    }();
    out.flush();
    err.flush();
    return code;
}

}  // namespace

#ifdef _WIN32
int ConsoleEventSignal(unsigned long event) {
    switch (event) {
        case CTRL_C_EVENT:
            return SIGINT;
        case CTRL_BREAK_EVENT:
            return SIGBREAK;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            return SIGTERM;
        default:
            return 0;
    }
}

bool OnConsoleEvent(unsigned long event) {
    const int sig = ConsoleEventSignal(event);
    if (sig == 0) return false;
    if (sig != SIGTERM) {
        // Outside a transfer Ctrl-C and Ctrl-Break end the program, as Windows does.
        if (g_busy.load() == nullptr) return false;
        OnStopSignal(sig);
        return true;
    }
    OnStopSignal(sig);
    // Windows ends the process once this returns, with a code of its own (and after
    // 5 s at the latest). Wait for the transfer to wind down and the command to end,
    // then never return: the main thread's own exit ends the process with the
    // command's code, and ending it from here could cut the main thread off while it
    // holds a lock the exit needs.
    if (::WaitForSingleObject(EndedEvent(), 4500) == WAIT_OBJECT_0) ::Sleep(INFINITE);
    return true;
}
#endif

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
    if (args.empty()) return Usage(err, "no command given");
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "/?" || command == "help") {
        out << kHelp << "\n" << kUsage;
        return kExitOk;
    }
    if (command == "--version") {
        out << "tunlet-cli " << res::kFileVersion << "\n";
        return kExitOk;
    }
    if (command == "info") return Info(args, out, err);
    if (command == "play") return Play(args, out, err, env);
    if (command == "scan") return Scan(args, out, err, env);
    return Usage(err, "unknown command '" + command + "'");
}

}  // namespace tunlet
