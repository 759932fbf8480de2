#include "app/PlayerDlg.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <utility>

#include "app/LoadFile.h"
#include "app/MakeCrLf.h"
#include "app/SummaryTabs.h"
#include "cable/MpsseCable.h"
#include "link/BoardLink.h"
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
    SetCableProgress(nullptr);
    SetCableOpened(nullptr);
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

    // The window's menu: Open and the board's entries, then About.
    Window().AppendSystemMenu(0, "");
    Window().AppendSystemMenu(kOpenCommand, "Open...\tCtrl+O");
    Window().AppendSystemMenu(kSendWholeCommand, "Send whole tune");
    Window().AppendSystemMenu(kBoardDetailsCommand, "Board details...");
    Window().AppendSystemMenu(kBoardCheckCommand, "Check the board before sending");
    Window().AppendSystemMenu(kChooseFpgaCommand, "Choose the FPGA...");
    if (!boardCheckForced_) boardCheck_ = Window().ReadSetting(kBoardCheckSetting) != "0";
    Window().CheckSystemMenu(kBoardCheckCommand, boardCheck_);
    Window().AppendSystemMenu(kFirmwareCommand, "USB-Blaster II firmware...");
    Window().AppendSystemMenu(kTckCommand, "Cable TCK...");
    unsigned tckKhz = 0;
    if (ParseTckMhz(Window().ReadSetting(kTckSetting), tckKhz)) SetWindowTckKhz(tckKhz);
    // The title names the cable each time one opens, and says what a cable's start
    // is doing while the user waits.
    SetCableFirmware(Window().ReadSetting(kFirmwareSetting));
    SetCableProgress([this](const std::string& text) { Window().SetCableText(text); });
    SetCableOpened([this](const std::string& name) { Window().SetCableText(name); });
    const std::string about = res::LoadString(res::kIdsAboutBox);
    if (!about.empty()) {
        Window().AppendSystemMenu(0, "");
        Window().AppendSystemMenu(kAboutCommand, about);
    }
    Window().SetChecked(kIdAutoAdvance, Window().ReadSetting(kAutoAdvanceSetting) == "1");

    hIcon = Window().LoadIcon(res::kIdrMainFrame);
    Window().SetIcon(hIcon, true);
    Window().SetIcon(hIcon, false);

    Window().SetItemText(kIdSend, "Play");
    Window().EnableItem(kIdSend, false);
    EnableSongControls(false);

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
    const BoardLink link =
        OpenBoardLink({boardCheck_, [this](const std::vector<ChainMember>& chain) { return ChosenFpga(chain); }, false});
    hBoard = link.handle;
    target_ = link.selection.Target();
    if (link.Ready()) return;
    const BoardCheck& check = link.selection.check;
    // A board found off or not answering may have lost the tune it held: once it is
    // back, the next Play sends the tune whole.
    if (link.checked) fTuneLoaded = 0;
    if (check.result == BoardCheck::Result::WriteFailed) transferFailed_ = true;
    Fail(CheckBox(check));
}

FT_STATUS CPlayerDlg::CloseBoard() {
    if (hBoard == nullptr) return FT_OK;
    const FT_STATUS status = FT_Close(hBoard);
    hBoard = nullptr;
    return status;
}

void CPlayerDlg::ShowMessage(const char* text) {
    transferFailed_ = true;
    Box(WorkerBox(text, tune.pszPath.get()));
}

void CPlayerDlg::Box(const BoxText& box) {
    if (ending_.load()) return;  // nobody is there to read it
    const BoxScope up(*this);
    Window().MessageBox(box.text, box.caption, box.icon);
}

void CPlayerDlg::Fail(const BoxText& box) {
    EndRun();
    Box(box);
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
    Window().EnableItem(kIdPrevious, enable);
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
    RememberFolder(loadPath_);
    ShowLoad(LoadFile(loadPath_.c_str(), tune, pRom), -1);
}

bool CPlayerDlg::ShowLoad(LoadOutcome outcome, int songPos) {
    // Whatever played belongs to the file before: nothing advances from it, and a
    // transfer still winding down does not start a track of this one.
    EndRun();
    sending_ = kNoTrack;
    const bool playable = outcome.kind == LoadKind::Tune || outcome.kind == LoadKind::Rom;
    if (outcome.kind == LoadKind::Tune) {
        album_.Load(PlayEntries(tune.tracks, tune.nSongs), !tune.tracks.entries.empty());
    } else {
        album_.Load({}, false);
    }
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
    // Gone or no longer a file: "file dont open", and the cable is never opened (the
    // worker checks again, for a file that goes meanwhile).
    if (StatFile(tune.pszPath.get(), &now) != FileKind::Regular) {
        transferFailed_ = true;
        Fail(FileBox(tune.pszPath.get()));
        return false;
    }
    if (now == tune.stamp) return true;
    // Exported again since it was loaded: load it afresh and send it whole, keeping
    // the song when the new tune still has it.
    const int song = Window().SliderPos();
    fTuneLoaded = 0;
    if (ShowLoad(LoadFile(loadPath_.c_str(), tune, pRom), song)) return true;
    transferFailed_ = true;
    Fail(FileBox(loadPath_));
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
    const std::size_t entriesBefore = Entries().size();
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
    const auto& entries = Entries();
    sending_ = chosen >= 0 && entries.size() == entriesBefore && static_cast<std::size_t>(chosen) < entries.size() &&
                       entries[static_cast<std::size_t>(chosen)].song == nSong
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
        Fail(PlainBox(kNoThread));
        return;
    }
    Window().SetTimer(kPollTimer, kPollPeriodMs);
}

void CPlayerDlg::OnNext() { Step(1); }

void CPlayerDlg::OnPrevious() { Step(-1); }

void CPlayerDlg::Step(int by) {
    if (!IsIdle()) return;  // ignored during a transfer and while winding down
    if (!pRom && album_.HasPlayOrder()) {
        const int song = Window().SliderPos() + 1;
        PlayEntry(by > 0 ? album_.NextEntry(song) : album_.PreviousEntry(song));
        return;
    }
    UpdateData(true);
    const int last = pRom ? 0 : static_cast<int>(tune.nSongs) - 1;
    const int pos = Window().SliderPos();
    const int next = by > 0 ? (pos >= last ? 0 : pos + 1) : (pos <= 0 ? std::max(last, 0) : pos - 1);
    Window().SetSliderPos(next, true);
    ShowSongLabel();
    OnSend();
}

void CPlayerDlg::OnTimer(int id) {
    // A box's own message loop hands us its timers: nothing acts until it is gone.
    if (BoxUp()) return;
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
        transferFailed_ = true;
        Fail(WriteErrorBox(CableWriteFailure()));
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

void CPlayerDlg::ShowTracks() { Window().SetListRows(kIdTrackList, album_.Rows()); }

void CPlayerDlg::MarkRow(int index) {
    if (index < 0) return;
    Window().SetListRow(kIdTrackList, index, album_.Row(index));
}

void CPlayerDlg::ShowSongLabel() {
    const bool songs = !pRom && tune.fValid != 0;
    Window().SetItemText(kIdSongLabel, songs ? album_.SongLabel(Window().SliderPos() + 1, tune.nSongs) : "");
}

void CPlayerDlg::ShowTimeLeft() { Window().SetItemText(kIdTimeLeft, album_.TimeLeftText(Now())); }

void CPlayerDlg::TrackStarted() {
    // A row or an advance names its entry; Play, Next or the slider the song's own.
    const int index = static_cast<std::size_t>(sending_) < Entries().size() ? sending_ : album_.Current(nSong);
    EndRun();
    if (index < 0) return;  // a song the playlist leaves out: no clock for it
    album_.Start(index, Now());
    MarkRow(index);
    Window().SetListSelection(kIdTrackList, index);
    Window().SetTimer(kTrackTimer, kTrackPeriodMs);
    ShowTimeLeft();
}

void CPlayerDlg::EndRun() {
    MarkRow(album_.End());
    Window().KillTimer(kTrackTimer);
    Window().SetItemText(kIdTimeLeft, "");
}

void CPlayerDlg::OnTrackTimer() {
    if (album_.Playing() < 0) {
        Window().KillTimer(kTrackTimer);
        return;
    }
    ShowTimeLeft();
    if (!album_.Over(Now())) return;
    // Its time is over: without Auto-advance the run ends with it.
    if (!Window().IsChecked(kIdAutoAdvance)) {
        EndRun();
        return;
    }
    // Never during a transfer: the advance waits until the dialog is idle again.
    if (!IsIdle()) return;
    // The next entry in play order that is music; after the last one, stay idle.
    const int next = album_.AdvanceEntry();
    if (next < 0) {
        EndRun();
        return;
    }
    PlayEntry(next);
    // A Play that could not start (no cable) has ended the run before its box showed.
    if (fBusy.load() == 0 && !WorkerRunning()) EndRun();
}

void CPlayerDlg::PlayEntry(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= Entries().size()) return;
    UpdateData(true);
    Window().SetSliderPos(Entries()[static_cast<std::size_t>(index)].song - 1, true);
    ShowSongLabel();
    chosen_ = index;
    OnSend();
    chosen_ = -1;
}

void CPlayerDlg::OnTrackChosen(int row) {
    if (!IsIdle() || row < 0 || static_cast<std::size_t>(row) >= Entries().size()) return;
    PlayEntry(row);
}

void CPlayerDlg::OnAutoAdvance() {
    const bool on = Window().IsChecked(kIdAutoAdvance);
    Window().WriteSetting(kAutoAdvanceSetting, on ? "1" : "0");
    // Unticked, the run ends: the track plays on, but nothing follows it.
    if (!on) EndRun();
}

void CPlayerDlg::OnSongSlider() { ShowSongLabel(); }

}  // namespace tunlet
