#include "app/PlayerDlg.h"

#include <chrono>
#include <utility>

#include "app/AboutDlg.h"
#include "app/LoadFile.h"
#include "app/MakeCrLf.h"
#include "app/SummaryTabs.h"
#include "link/ChainScan.h"
#include "media/StdioFile.h"
#include "media/TextFormat.h"
#include "res/Strings.h"

namespace tunlet {

CPlayerDlg::CPlayerDlg() {
    tune.Init();
    hIcon = IconHandle{res::kIdrMainFrame};
}

CPlayerDlg::~CPlayerDlg() {
    // OnDestroy has waited for the worker; this only reaps the thread object.
    hThread.Join();
    tune.Release();
}

int CPlayerDlg::OnCreate() {
    Window().DragAcceptFiles(true);
    return 0;
}

void CPlayerDlg::DoDataExchange(bool save) {
    progress.Attach(window_);
    Window().ExchangeText(kIdPath, strPath, save);
    Window().ExchangeText(kIdInfo, strInfo, save);
}

bool CPlayerDlg::OnInitDialog() {
    DoDataExchange(false);

    const std::string about = res::LoadString(res::kIdsAboutBox);
    if (!about.empty()) Window().AppendSystemMenu(kAboutCommand, about);

    hIcon = Window().LoadIcon(res::kIdrMainFrame);
    Window().SetIcon(hIcon, true);
    Window().SetIcon(hIcon, false);

    Window().SetItemText(kIdSend, "Play");
    Window().EnableItem(kIdSend, false);
    Window().EnableItem(kIdNext, false);
    Window().EnableItem(kIdSongSlider, false);

    fBusy = 0;
    fTuneLoaded = 0;
    pRom.reset();
    hBoard = nullptr;

    // Probe the board, so that a missing cable is reported before the window shows.
    OpenBoard();
    CloseBoard();
    return true;
}

void CPlayerDlg::OpenBoard() {
    if (FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &hBoard) != FT_OK) {
        Window().MessageBox(res::kBoardNotConnected, res::kBoardNotConnectedCaption);
        hBoard = nullptr;
        return;
    }
    // A cable that answers reads tells whether the board is there and is one Tunlet
    // drives; a file dump cannot, and gets exactly the upload's bytes.
    if (!boardCheck_ || !CableCanRead(hBoard)) return;
    const BoardCheck check = CheckBoard(hBoard);
    // A board found off or not answering may have lost the tune it held: once it is
    // back, the next Play sends the tune whole.
    if (check.result != BoardCheck::Result::Ready) fTuneLoaded = 0;
    switch (check.result) {
        case BoardCheck::Result::Ready:
            return;
        case BoardCheck::Result::NotConnected:
            CloseBoard();
            Window().MessageBox(std::string(res::kBoardNotConnected) + "\n" + check.text,
                                res::kBoardNotConnectedCaption);
            return;
        case BoardCheck::Result::Refused:
            CloseBoard();
            Window().MessageBox(check.text, "");
            return;
        case BoardCheck::Result::WriteFailed:
            CloseBoard();
            ShowMessage(kWriteError);
            return;
    }
}

FT_STATUS CPlayerDlg::CloseBoard() {
    if (hBoard == nullptr) return FT_OK;
    const FT_STATUS status = FT_Close(hBoard);
    hBoard = nullptr;
    return status;
}

void CPlayerDlg::ShowMessage(const char* text) {
    transferFailed_ = true;
    Window().MessageBox(text, "");
}

void CPlayerDlg::SetProgress(int position) {
    // Applied on the UI thread, and only while the transfer that sent it has not been
    // stopped: an update posted just before Stop must not land after Stop's 0.
    Window().Post([this, position, transfer = workerTransfer_] {
        if (transfer == transfer_) progress.SetPos(position);
    });
}

void CPlayerDlg::EnableSongControls(bool enable) {
    Window().EnableItem(kIdNext, enable);
    Window().EnableItem(kIdSongSlider, enable);
}

void CPlayerDlg::OnDropFiles(const std::vector<std::string>& paths) {
    // The records stay untouched until the last worker has returned.
    if (fBusy.load() != 0 || WorkerRunning()) return;
    progress.SetPos(0);
    if (paths.empty()) return;
    strPath = paths.front();  // only the first file of a drop is taken
    UpdateData(false);

    fTuneLoaded = 0;
    loadPath_ = strPath;
    ShowLoad(LoadFile(loadPath_.c_str(), tune, pRom), -1);
}

void CPlayerDlg::OnOK(int focusId) {
    // Enter on the track list plays the row it is on.
    if (focusId == kIdTrackList) {
        OnTrackChosen(Window().ListSelection(kIdTrackList));
        return;
    }
    if (focusId != kIdPath) return;
    std::string typed;
    Window().ExchangeText(kIdPath, typed, true);
    // Blanks around it and the quotes of a path copied from Explorer are not part of it.
    const auto first = typed.find_first_not_of(" \t");
    if (first == std::string::npos) return;
    typed = typed.substr(first, typed.find_last_not_of(" \t") - first + 1);
    if (typed.size() >= 2 && typed.front() == '"' && typed.back() == '"') typed = typed.substr(1, typed.size() - 2);
    if (typed.empty()) return;
    OnDropFiles({typed});
}

bool CPlayerDlg::ShowLoad(LoadOutcome outcome, int songPos) {
    // Whatever played belongs to the file before: nothing advances from it, and a
    // transfer still winding down does not start a track of this one.
    EndRun();
    sending_ = kNoTrack;
    const bool playable = outcome.kind == LoadKind::Tune || outcome.kind == LoadKind::Rom;
    entries_ = outcome.kind == LoadKind::Tune ? PlayEntries(tune.tracks, tune.nSongs) : std::vector<PlaylistEntry>{};
    ShowTracks();
    if (!playable) {
        // Nothing half read is kept, so nothing can be played until a good file comes.
        Window().EnableItem(kIdSend, false);
        EnableSongControls(false);
        Window().SetItemText(kIdSongLabel, "");
        MakeCrLf(outcome.text);  // "rom read error" has a second line
        strInfo = outcome.text;
        UpdateData(false);
        return false;
    }

    int top = 0;
    int pos = 0;
    if (!pRom) {
        top = SliderTop(tune);
        pos = songPos >= 0 && songPos <= top ? songPos : static_cast<int>(tune.nStartSong) - 1;
    }
    Window().SetSliderRange(0, top, false);
    Window().SetSliderTicFreq(1);
    Window().SetSliderPos(pos, true);
    ShowSongLabel();
    Window().SetItemText(kIdSend, "Play");
    Window().EnableItem(kIdSend, true);
    EnableSongControls(top != 0);

    Window().SetTabStops(kIdInfo, SummaryTabStops(outcome.text));
    MakeCrLf(outcome.text);
    strInfo = std::move(outcome.text);
    UpdateData(false);
    return true;
}

bool CPlayerDlg::ReloadIfChanged() {
    if (pRom || tune.fValid == 0 || !tune.pszPath) return true;  // a ROM is sent from memory
    FileStamp now;
    // Gone or no longer a file: the worker says "file dont open".
    if (StatFile(tune.pszPath.get(), &now) != FileKind::Regular || now == tune.stamp) return true;
    // Exported again since it was loaded: load it afresh and send it whole, keeping
    // the song when the new tune still has it.
    const int song = Window().SliderPos();
    fTuneLoaded = 0;
    if (ShowLoad(LoadFile(loadPath_.c_str(), tune, pRom), song)) return true;
    ShowMessage(kFileNotOpened);
    return false;
}

void CPlayerDlg::OnSend() {
    if (fBusy.load() != 0) {
        // Stop: the worker sees it after its current block and winds down by itself.
        fBusy = 0;
        ++transfer_;  // the worker's progress updates still on their way are dropped
        Window().SetItemText(kIdSend, "Play");
        progress.SetPos(0);
        fTuneLoaded = 0;
        return;
    }
    // Play starts only from idle: while winding down the click is ignored.
    if (WorkerRunning() || hBoard != nullptr) return;
    const int chosen = std::exchange(chosen_, -1);
    const std::size_t entriesBefore = entries_.size();
    if (!ReloadIfChanged()) return;
    const bool haveRom = pRom != nullptr;
    if (!haveRom && tune.fValid == 0) return;  // nothing to send: leave the cable alone

    if (transferStarting_) transferStarting_();
    OpenBoard();
    if (hBoard == nullptr) return;
    UpdateData(true);

    Window().SetItemText(kIdSend, "Stop");
    if (!haveRom) nSong = Window().SliderPos() + 1;
    // The row chosen still stands for this song unless a reload changed the list.
    sending_ = chosen >= 0 && entries_.size() == entriesBefore && static_cast<std::size_t>(chosen) < entries_.size() &&
                       entries_[static_cast<std::size_t>(chosen)].song == nSong
                   ? chosen
                   : -1;
    transferFailed_ = false;
    fBusy = 1;
    workerTransfer_ = ++transfer_;

    const bool started = hThread.Start(
        [this, haveRom] {
            if (haveRom) {
                SendRomThread(*this);
            } else {
                SendTuneThread(*this);
            }
        },
        launch_);
    if (!started) {
        fBusy = 0;
        Window().SetItemText(kIdSend, "Play");
        CloseBoard();
        Window().MessageBox(kNoThread, "");
        return;
    }
    Window().SetTimer(kPollTimer, kPollPeriodMs);
}

void CPlayerDlg::OnNext() {
    if (!IsIdle()) return;  // ignored during a transfer and while winding down
    UpdateData(true);
    const int last = pRom ? 0 : static_cast<int>(tune.nSongs) - 1;
    const int pos = Window().SliderPos();
    const int next = pos == last ? 0 : Window().SliderPos() + 1;
    Window().SetSliderPos(next, true);
    ShowSongLabel();
    OnSend();
}

void CPlayerDlg::OnTimer(int id) {
    if (id == kTrackTimer) {
        OnTrackTimer();
        return;
    }
    if (id != kPollTimer || fBusy.load() != 0 || WorkerRunning()) return;
    Window().KillTimer(kPollTimer);
    Window().SetItemText(kIdSend, "Play");
    // A cable that lost bytes only at its close (a dump that could not be kept) failed
    // the transfer all the same.
    if (CloseBoard() != FT_OK) {
        fTuneLoaded = 0;
        ShowMessage(kWriteError);
    }
    // A tune's song that reached the board, not stopped and without a failure, plays
    // from now on; anything else ends what played before.
    if (!pRom && sending_ != kNoTrack && !transferFailed_.load() && transfer_ == workerTransfer_) {
        TrackStarted();
    } else {
        EndRun();
    }
    if (transferEnded_) transferEnded_();
}

std::int64_t CPlayerDlg::Now() const {
    if (clock_) return clock_();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string CPlayerDlg::RowText(const PlaylistEntry& e, int position, bool playing) {
    std::string row = playing ? "> " : "  ";
    const std::string title = e.title.empty() ? "Song " + std::to_string(e.song) : e.title;
    AppendFormat(row, "%2d  %s  %s", position, title.c_str(), FormatDuration(e.PlayMs()).c_str());
    if (e.fEffect) row += "  (sound effect)";
    return row;
}

std::string CPlayerDlg::SongLabel(int song, int songs, const std::string& title) {
    if (songs < 1) return "";
    std::string label;
    AppendFormat(label, "Song %d of %d", song, songs);
    if (!title.empty()) label += ": " + title;
    return label;
}

void CPlayerDlg::ShowTracks() {
    std::vector<std::string> rows;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        rows.push_back(RowText(entries_[i], static_cast<int>(i + 1), static_cast<int>(i) == playing_));
    }
    Window().SetListRows(kIdTrackList, rows);
}

void CPlayerDlg::MarkRow(int index, bool playing) {
    if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) return;
    Window().SetListRow(kIdTrackList, index, RowText(entries_[static_cast<std::size_t>(index)], index + 1, playing));
}

void CPlayerDlg::ShowSongLabel() {
    if (pRom || tune.fValid == 0) {
        Window().SetItemText(kIdSongLabel, "");
        return;
    }
    const int song = Window().SliderPos() + 1;
    // The title the list shows for the song, else the tune's own.
    std::string title;
    for (const PlaylistEntry& e : entries_) {
        if (e.song == song && !e.title.empty()) {
            title = e.title;
            break;
        }
    }
    Window().SetItemText(kIdSongLabel, SongLabel(song, tune.nSongs, title));
}

void CPlayerDlg::ShowTimeLeft() {
    if (playing_ < 0) {
        Window().SetItemText(kIdTimeLeft, "");
        return;
    }
    const std::int64_t left = trackStart_ + entries_[static_cast<std::size_t>(playing_)].TotalMs() - Now();
    Window().SetItemText(kIdTimeLeft, FormatDuration(left + 999) + " left");
}

void CPlayerDlg::TrackStarted() {
    int index = static_cast<std::size_t>(sending_) < entries_.size() ? sending_ : -1;
    if (index < 0) {
        // Play, Next or the slider: the song's first entry in play order.
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].song == nSong) {
                index = static_cast<int>(i);
                break;
            }
        }
    }
    EndRun();
    if (index < 0) return;  // a song the playlist leaves out: no clock for it
    playing_ = index;
    trackStart_ = Now();
    MarkRow(playing_, true);
    Window().SetTimer(kTrackTimer, kTrackPeriodMs);
    ShowTimeLeft();
}

void CPlayerDlg::EndRun() {
    const int was = std::exchange(playing_, -1);
    MarkRow(was, false);
    Window().KillTimer(kTrackTimer);
    Window().SetItemText(kIdTimeLeft, "");
}

void CPlayerDlg::OnTrackTimer() {
    if (playing_ < 0) {
        Window().KillTimer(kTrackTimer);
        return;
    }
    ShowTimeLeft();
    const PlaylistEntry& e = entries_[static_cast<std::size_t>(playing_)];
    if (Now() - trackStart_ < e.TotalMs() || !Window().IsChecked(kIdAutoAdvance)) return;
    // Never during a transfer: the advance waits until the dialog is idle again.
    if (!IsIdle()) return;
    // The next entry in play order that is music; after the last one, stay idle.
    for (std::size_t i = static_cast<std::size_t>(playing_) + 1; i < entries_.size(); ++i) {
        if (!entries_[i].fEffect) {
            PlayEntry(static_cast<int>(i));
            // A Play that could not start (no cable) ends the run, as a failed transfer does.
            if (fBusy.load() == 0 && !WorkerRunning()) EndRun();
            return;
        }
    }
    EndRun();
}

void CPlayerDlg::PlayEntry(int index) {
    UpdateData(true);
    Window().SetSliderPos(entries_[static_cast<std::size_t>(index)].song - 1, true);
    ShowSongLabel();
    chosen_ = index;
    OnSend();
    chosen_ = -1;
}

void CPlayerDlg::OnTrackChosen(int row) {
    if (!IsIdle() || row < 0 || static_cast<std::size_t>(row) >= entries_.size()) return;
    PlayEntry(row);
}

void CPlayerDlg::OnAutoAdvance() {
    // The box is read at each tick: unticked, nothing advances and the clock only shows
    // the time left; ticked again, a track whose time is over moves on at the next tick.
    ShowTimeLeft();
}

void CPlayerDlg::OnSongSlider() { ShowSongLabel(); }

void CPlayerDlg::OnDestroy() {
    fBusy = 0;
    if (hThread.Started()) {
        // Let the worker's last progress update and any message box it shows complete.
        Window().PumpUntil([this] { return !hThread.Running(); });
        hThread.Join();
    }
    // The transfer is over: a cable left open by it is closed now.
    CloseBoard();
    if (pRom) {
        pRom->Release();
        pRom.reset();
    }
}

bool CPlayerDlg::OnSysCommand(unsigned id) {
    if ((id & 0xFFF0) != kAboutCommand) return false;
    CAboutDlg about(Window());
    about.DoModal();
    return true;
}

bool CPlayerDlg::OnPaint() {
    if (!Window().IsIconic()) return false;
    const ClientRect rect = Window().GetClientRect();
    const int size = Window().SystemIconSize();
    Window().DrawIcon(hIcon, (rect.width - size + 1) / 2, (rect.height - size + 1) / 2);
    return true;
}

}  // namespace tunlet
