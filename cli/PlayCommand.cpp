// tunlet-cli play: sends a file, or a tune's tracks in play order, to the board.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iomanip>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string_view>
#include <thread>

#include "app/Album.h"
#include "app/Boxes.h"
#include "cable/CableChoice.h"
#include "cable/MpsseCable.h"
#include "cli/CliCommands.h"
#include "cli/StopSignals.h"
#include "link/BoardLink.h"
#include "link/Upload.h"
#include "media/Playlist.h"
#include "res/Strings.h"

namespace tunlet::cli {

namespace {

constexpr double kMaxTrackSeconds = 86400;

// The tracks --playlist plays: the album's stepping, as Auto-advance in the window
// goes, from the first music entry in play order to the last; sound effects never.
std::vector<PlaylistEntry> MusicTracks(const NsfTune& tune) {
    Album album;
    album.Load(PlayEntries(tune.tracks, tune.nSongs), true);
    std::vector<PlaylistEntry> music;
    for (int i = album.AdvanceEntry(); i >= 0; i = album.AdvanceEntry()) {
        album.Start(i, 0);
        music.push_back(album.Entries()[static_cast<std::size_t>(i)]);
    }
    return music;
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

}  // namespace

int Play(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const CliEnvironment& env) {
    std::string path;
    std::string cable = "usb-blaster";
    std::optional<std::string> song;
    bool headerOnly = false;
    bool boardCheck = true;
    std::optional<std::size_t> device;
    bool packed = false;
    bool playlist = false;
    std::optional<double> trackSeconds;
    unsigned tckKhz = mpsse::kDefaultTckKhz;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--song" || a == "--cable" || a == "--track-seconds" || a == "--device" || a == "--tck") {
            if (i + 1 == args.size()) return Usage(err, a + " needs a value");
            const std::string& v = args[++i];
            if (a == "--cable") {
                cable = v;
            } else if (a == "--device") {
                if (!ParseDevice(v, device)) return Usage(err, kDeviceUsage + ("'" + v + "'"));
            } else if (a == "--tck") {
                if (!ParseTckMhz(v, tckKhz)) return Usage(err, std::string(kTckProblem) + ", not '" + v + "'");
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
    if (device && !boardCheck) {
        return Usage(err, "--device and --no-board-check do not go together: only the check knows the chain");
    }

    const CableChoice choice = ChooseCable(cable, env.usbBlaster, tckKhz);
    if (!choice.backend) {
        return BadValue(err, "unknown cable '" + cable + "': " +
                                 (choice.problem.empty() ? "use " + std::string(kCableChoices) : choice.problem));
    }
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
            if (tracks.empty()) {
                const bool none = PlayEntries(host.tune.tracks, host.tune.nSongs).empty();
                return BadValue(err, none ? "--playlist: this tune has no tracks to play"
                                          : "--playlist: every track of this tune is a sound effect; play one with --song");
            }
        }
    }

    SetCableBackend(backend);
    // The board must be there and be one Tunlet drives; a dump cannot answer.
    const BoardLink link = OpenBoardLink({boardCheck, Chosen(device), false});
    if (!link.Ready()) {
        SetCableBackend(nullptr);
        if (virtualBoard && link.checked) out << VirtualBoard::Describe(virtualBoard->Snapshot());
        return CheckFailed(link.selection.check, err);
    }
    const FT_HANDLE handle = link.handle;
    host.board = handle;
    host.target = link.selection.Target();
    if (const std::string note = LeadBitsNote(host.target); !note.empty()) out << note << "\n";
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

}  // namespace tunlet::cli
