// Randomized UI stress: seeded random sequences of drops, Play, Stop, Next, timer
// ticks, message box answers and closes, against the dialog logic with real worker
// threads and a virtual board that fails and slows writes at random. The invariants
// are checked after every step; a watchdog ends a hung run with its seed.
//
//   tunlet_stress [SEQUENCES] [SEED]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "app/PlayerDlg.h"
#include "link/BlasterJtag.h"
#include "link/PackedShift.h"
#include "media/StdioFile.h"
#include "tests/FakeWindow.h"
#include "tests/TestFiles.h"
#include "cable/VirtualBoard.h"

namespace tunlet {
namespace {

std::atomic<std::uint64_t> g_heartbeat{0};
std::atomic<std::uint64_t> g_currentSeed{0};
bool g_trace = false;  // TUNLET_STRESS_TRACE: print every step

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "stress: FAILED with seed %llu: %s\n",
                 static_cast<unsigned long long>(g_currentSeed.load()), what.c_str());
    std::fflush(stderr);
    std::abort();
}

void Check(bool ok, const char* what) {
    if (!ok) Fail(what);
}

std::uint64_t Mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

struct Files {
    test::TempDir dir;
    std::string multiTune, oneTune, rom, bad, damaged, fragile;
    test::Bytes fragileBytes;
    Files() {
        test::NsfSpec multi;
        multi.songs = 3;
        multi.startSong = 2;
        multiTune = dir.Write("multi.nsf", test::MakeNsf(multi, 3000));
        oneTune = dir.Write("one.nsf", test::MakeNsf({}, 36000));
        rom = dir.Write("game.nes", test::MakeNes(1, 1));
        bad = dir.Write("notes.txt", test::Bytes(300, 'x'));
        test::Bytes eof = test::MakeNes(1, 0);
        eof.push_back(1);
        damaged = dir.Write("eof.nes", eof);
        fragileBytes = test::MakeNsf({}, 1000);
        fragile = dir.Write("fragile.nsf", fragileBytes);
    }
};

struct Totals {
    std::uint64_t sequences = 0, events = 0, uploads = 0, completed = 0, closes = 0, writeErrors = 0;
};

class Run {
public:
    Run(std::uint64_t seed, Files& files, Totals& totals) : rng_(seed), seed_(seed), files_(files), totals_(totals) {
        board_->SetKeepRaw(false);
        board_->SetWriteFault([this](std::size_t index, DWORD count) -> std::optional<DWORD> {
            const std::uint64_t r = Mix(seed_ ^ (writes_.fetch_add(1) * 0x100000001B3ull) ^ index);
            // Writes fail now and then (unplugged, timed out), block writes most often as
            // they carry most of the bytes; any write may be slow.
            // The recovery walk is spared: a cable that fails that too cannot be helped.
            const bool block = count == kBlockCableBytes || count == kPackedWriteBytes;
            const bool recovery = count == kRecoverTapBytes || count == kCutRecoverBytes;
            const unsigned permille = block ? 30u : recovery ? 0u : 8u;
            if (r % 1000 < permille) return static_cast<DWORD>((r >> 20) % count);
            if (r % 1000 < 60) std::this_thread::sleep_for(std::chrono::microseconds((r >> 32) % 300));
            return std::nullopt;
        });
        board_->SetCloseObserver([this] {
            // The cable is closed on the UI thread, and only once the worker has returned.
            Check(dlg_ == nullptr || !dlg_->WorkerRunning(), "cable closed while a worker runs");
        });
        SetCableBackend(board_);
        OpenDialog();
    }
    ~Run() { SetCableBackend(nullptr); }

    void Step() {
        ++totals_.events;
        g_heartbeat.fetch_add(1);
        const int pick = static_cast<int>(rng_() % 100);
        if (g_trace) std::fprintf(stderr, "step %d busy=%d running=%d\n", pick, dlg_->fBusy.load(), dlg_->WorkerRunning());
        if (pick < 6) {
            Drop(files_.multiTune);
        } else if (pick < 10) {
            Drop(files_.oneTune);
        } else if (pick < 14) {
            Drop(files_.rom);
        } else if (pick < 16) {
            Drop(files_.bad);
        } else if (pick < 18) {
            Drop(files_.damaged);
        } else if (pick < 20) {
            Drop(files_.fragile);  // then the file goes away, and comes back later
            std::remove(files_.fragile.c_str());
        } else if (pick < 22) {
            files_.dir.Write("fragile.nsf", files_.fragileBytes);
        } else if (pick < 40) {
            Send();
        } else if (pick < 45) {
            Next();
        } else if (pick < 48) {
            Row();
        } else if (pick < 69) {
            dlg_->OnTimer(1);
        } else if (pick < 72) {
            Advance();
        } else if (pick < 92) {
            win_->Pump();
        } else if (pick < 97) {
            std::this_thread::yield();
        } else {
            Close();
            OpenDialog();
        }
        Observe();
    }

    // Brings the dialog back to idle and checks it is.
    void Settle() {
        if (dlg_->fBusy.load() != 0) dlg_->OnSend();
        win_->PumpUntil([&] { return !dlg_->WorkerRunning(); });
        Observe();
        dlg_->OnTimer(1);
        Check(dlg_->IsIdle(), "not idle after the worker ended and the timer ticked");
        Check(!board_->IsOpen(), "cable open while idle");
        Check(win_->timers.count(CPlayerDlg::kPollTimer) == 0, "poll timer still running while idle");
        Check(win_->items[kIdSend].text == "Play", "button does not read Play while idle");
        Close();
    }

private:
    void OpenDialog() {
        win_ = std::make_unique<test::FakeWindow>();
        dlg_ = std::make_unique<CPlayerDlg>();
        dlg_->Attach(*win_);
        // Every other dialog, as the seed decides, sends packed (tunlet --packed).
        packed_ = (Mix(seed_ ^ opens_++) >> 7) % 2 == 1;
        dlg_->SetPacked(packed_);
        live_ = 0;
        dlg_->SetThreadLauncher([this](std::function<void()> body) {
            Check(live_.load() == 0, "a second worker started while one lives");
            ++live_;
            ++totals_.uploads;
            romAtStart_ = dlg_->pRom.get();
            pathAtStart_ = dlg_->tune.pszPath.get();
            return std::thread([this, body = std::move(body)] {
                body();
                --live_;
            });
        });
        win_->onWorkerProgress = [this] {
            // On the worker's thread: the records it reads are still the ones it started with.
            Check(dlg_->pRom.get() == romAtStart_, "ROM record replaced during a transfer");
            Check(dlg_->tune.pszPath.get() == pathAtStart_, "tune record replaced during a transfer");
        };
        dlg_->SetClock([this] { return now_; });
        dlg_->OnCreate();
        dlg_->OnInitDialog();
        running_ = false;
        boardHasTune_ = false;
        boxesSeen_ = 0;
        CheckFailedBoardCheck();  // the start-up probe reads the chain too
    }

    // A board check whose write failed shows "write err", starts no worker and leaves
    // the TAP idle after the recovery walk; its box belongs to no upload.
    // A tune whose file has gone gets its box before the cable is opened.
    bool TuneGone() const {
        return dlg_->pRom == nullptr && dlg_->tune.fValid == 1 && dlg_->tune.pszPath &&
               StatFile(dlg_->tune.pszPath.get()) != FileKind::Regular;
    }

    void CheckFailedBoardCheck() {
        const auto boxes = win_->Boxes();
        if (boxes.size() == boxesSeen_) return;
        if (boxes.size() == boxesSeen_ + 1 && boxes.back().text == "file dont open" && TuneGone()) {
            boxesSeen_ = boxes.size();
            return;
        }
        Check(boxes.size() == boxesSeen_ + 1 && boxes.back().text == "write err", "a board check showed a stray box");
        const auto r = board_->Snapshot();
        Check(!r.writes.empty() && r.writes.back() == kCutRecoverBytes, "a failed board check without its recovery walk");
        Check(r.state == TapState::RunTestIdle && !r.outputEnable, "the TAP is not idle after a failed board check");
        boxesSeen_ = boxes.size();
        ++totals_.writeErrors;
    }

    void Close() {
        dlg_->OnDestroy();
        Observe();
        Check(!dlg_->WorkerRunning(), "worker alive after the window was destroyed");
        Check(!board_->IsOpen(), "cable open after the window was destroyed");
        Check(dlg_->pRom == nullptr, "ROM kept after the window was destroyed");
        ++totals_.closes;
        dlg_.reset();
        win_.reset();
    }

    void Drop(const std::string& path) {
        const bool takes = dlg_->fBusy.load() == 0 && !dlg_->WorkerRunning();
        const std::string before = dlg_->strPath;
        dlg_->OnDropFiles({path});
        if (takes) {
            Check(dlg_->strPath == path, "an idle drop was not taken");
            boardHasTune_ = false;  // whatever the board holds, it is not this file's tune
        } else if (dlg_->strPath != before) {
            // Only possible when the worker returned between the look above and the drop.
            Check(!dlg_->WorkerRunning() && dlg_->fBusy.load() == 0, "a drop was taken while a worker runs");
            boardHasTune_ = false;
        }
        const bool playable = dlg_->pRom != nullptr || dlg_->tune.fValid == 1;
        if (takes) Check(win_->items[kIdSend].enabled == playable, "Play enabled without anything to send");
    }

    void Send() {
        const bool wasBusy = dlg_->fBusy.load() != 0;
        const bool idle = dlg_->IsIdle();
        const bool gone = TuneGone();
        const bool haveWork = (dlg_->pRom != nullptr || dlg_->tune.fValid == 1) && !gone;
        const int opensBefore = board_->Snapshot().opens;
        isRom_ = dlg_->pRom != nullptr;
        dlg_->OnSend();
        const int opens = board_->Snapshot().opens - opensBefore;
        if (wasBusy) {
            // (A worker past its last stop check may still mark the tune loaded: it did arrive whole.)
            Check(dlg_->fBusy.load() == 0, "Stop did not stop");
        } else if (!idle || !haveWork) {
            Check(opens == 0, "Play opened the cable while not idle, with nothing to send or with its file gone");
            if (idle && gone) CheckFailedBoardCheck();  // its "file dont open"
        } else {
            Check(opens == 1, "Play from idle did not open the cable once");
            if (dlg_->hBoard == nullptr) {
                CheckFailedBoardCheck();
            } else {
                running_ = true;
            }
        }
    }

    void Next() {
        const bool idle = dlg_->IsIdle();
        const int before = win_->sliderPos;
        isRom_ = dlg_->pRom != nullptr;
        const bool haveWork = dlg_->pRom != nullptr || dlg_->tune.fValid == 1;
        dlg_->OnNext();
        if (!idle) Check(win_->sliderPos == before, "Next moved the slider while not idle");
        if (idle && haveWork && dlg_->hBoard != nullptr) running_ = true;
        if (idle && haveWork && dlg_->hBoard == nullptr) CheckFailedBoardCheck();
    }

    // A double-click on a row (or on none): plays its song as Next does.
    void Row() {
        const bool idle = dlg_->IsIdle();
        const int opensBefore = board_->Snapshot().opens;
        isRom_ = dlg_->pRom != nullptr;
        const int row = static_cast<int>(rng_() % (win_->rows.size() + 2)) - 1;
        dlg_->OnTrackChosen(row);
        Played(idle, opensBefore);
    }

    // After a row or an advance: a Play that opened the cable runs, or its board check failed.
    void Played(bool idle, int opensBefore) {
        if (!idle) return;
        if (board_->Snapshot().opens == opensBefore) {
            if (TuneGone()) CheckFailedBoardCheck();  // its "file dont open"
            return;
        }
        if (dlg_->hBoard != nullptr) {
            running_ = true;
        } else {
            CheckFailedBoardCheck();
        }
    }

    // The track's time is up with Auto-advance on: the next track may start.
    void Advance() {
        win_->checked.insert(kIdAutoAdvance);
        now_ += 200000;
        const bool idle = dlg_->IsIdle();
        const int opensBefore = board_->Snapshot().opens;
        isRom_ = dlg_->pRom != nullptr;
        dlg_->OnTimer(CPlayerDlg::kTrackTimer);
        if (!idle) Check(board_->Snapshot().opens == opensBefore, "Auto-advance started a transfer while not idle");
        Played(idle, opensBefore);
    }

    // Runs after every step: a worker that has just returned left a complete stream.
    void Observe() {
        if (!running_ || dlg_->WorkerRunning()) return;
        running_ = false;
        const auto r = board_->Snapshot();
        const auto boxes = win_->Boxes();
        bool fileError = false;
        bool writeError = false;
        for (std::size_t i = boxesSeen_; i < boxes.size(); ++i) {
            if (boxes[i].text == "file dont open") fileError = true;
            if (boxes[i].text == "write err") {
                ++totals_.writeErrors;
                writeError = true;
            }
        }
        boxesSeen_ = boxes.size();
        if (g_trace) {
            std::fprintf(stderr, "ended: writes %zu, last %u, user0 %zu, state %s, fileError %d\n", r.writes.size(),
                         r.writes.empty() ? 0u : r.writes.back(), r.user0.size(), TapStateName(r.state), fileError);
        }
        if (!fileError) {
            // Packed, the closing walk shares its write with the trailer (and with a
            // header-only send): the TAP check below sees it.
            const DWORD lastWalk = !writeError ? kEndShiftDrBytes : packed_ ? kCutRecoverBytes : kRecoverTapBytes;
            const bool shared = packed_ && !writeError;
            Check(!r.writes.empty() && (shared || r.writes.back() == lastWalk), "an upload ended without its closing walk");
            Check(r.state == TapState::RunTestIdle && !r.outputEnable, "the TAP is not idle after an upload");
            ++totals_.completed;
        }
        if (isRom_ || fileError || writeError) {
            boardHasTune_ = false;
        } else {
            const std::size_t blocks = static_cast<std::size_t>(TuneBlockCount(dlg_->tune.nFileSize));
            const bool whole = r.user0.size() == 2 + 128 + blocks * 4096 + 4 && r.user0LeftoverBits == 1;
            const bool headerOnly = r.user0.size() == 2 + 128 + 3 && r.user0LeftoverBits == 1;
            if (whole) {
                boardHasTune_ = true;
            } else if (!headerOnly) {
                boardHasTune_ = false;
            }
        }
        Check(dlg_->fTuneLoaded.load() == 0 || boardHasTune_, "tune marked loaded though the board lacks it");
    }

    std::mt19937_64 rng_;
    std::uint64_t seed_;
    Files& files_;
    Totals& totals_;
    std::shared_ptr<VirtualBoard> board_ = VirtualBoard::Create();
    std::unique_ptr<test::FakeWindow> win_;
    std::int64_t now_ = 0;  // the dialog's track clock
    std::unique_ptr<CPlayerDlg> dlg_;
    std::atomic<int> live_{0};
    std::atomic<std::uint64_t> writes_{0};
    std::uint64_t opens_ = 0;
    bool packed_ = false;
    const NesRom* romAtStart_ = nullptr;
    const char* pathAtStart_ = nullptr;
    bool running_ = false;
    bool isRom_ = false;
    bool boardHasTune_ = false;
    std::size_t boxesSeen_ = 0;
};

}  // namespace
}  // namespace tunlet

int main(int argc, char** argv) {
    using namespace tunlet;
    const std::uint64_t sequences = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1500;
    const std::uint64_t baseSeed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20261207;

    g_trace = std::getenv("TUNLET_STRESS_TRACE") != nullptr;
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        std::uint64_t last = g_heartbeat.load();
        auto since = std::chrono::steady_clock::now();
        while (!done.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            const std::uint64_t now = g_heartbeat.load();
            if (now != last) {
                last = now;
                since = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - since > std::chrono::seconds(60)) {
                Fail("no progress for 60 seconds (deadlock?)");
            }
        }
    });

    Files files;
    Totals totals;
    for (std::uint64_t i = 0; i < sequences; ++i) {
        const std::uint64_t seed = baseSeed + i;
        g_currentSeed = seed;
        Run run(seed, files, totals);
        std::mt19937_64 lengths(seed * 7919);
        const int steps = 10 + static_cast<int>(lengths() % 40);
        for (int s = 0; s < steps; ++s) run.Step();
        run.Settle();
        ++totals.sequences;
    }
    done = true;
    watchdog.join();
    std::printf("stress: %llu sequences, %llu events, %llu uploads started, %llu completed with the closing walk, "
                "%llu write errors, %llu windows closed (seeds %llu..%llu)\n",
                static_cast<unsigned long long>(totals.sequences), static_cast<unsigned long long>(totals.events),
                static_cast<unsigned long long>(totals.uploads), static_cast<unsigned long long>(totals.completed),
                static_cast<unsigned long long>(totals.writeErrors), static_cast<unsigned long long>(totals.closes),
                static_cast<unsigned long long>(baseSeed),
                static_cast<unsigned long long>(baseSeed + sequences - 1));
    std::printf("1 passed, 0 failed\n");
    return 0;
}
