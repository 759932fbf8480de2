// The main dialog: its state, file drops, Play/Stop/Next, the worker thread's life,
// the poll timer, start-up and shutdown. It reaches its window only through
// DialogWindow, so it runs the same against Qt and against a test's fake window.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Album.h"
#include "app/Boxes.h"
#include "app/LoadFile.h"
#include "app/WorkerThread.h"
#include "link/ChainScan.h"
#include "link/Upload.h"
#include "media/NesRom.h"
#include "media/NsfTune.h"
#include "media/Playlist.h"
#include "cable/Cable.h"
#include "app/DialogWindow.h"

namespace tunlet {

// The progress bar control once data exchange has attached it to control 1004.
class CProgressCtrl {
public:
    void Attach(DialogWindow* window) { window_ = window; }
    void SetPos(int pos) {
        if (window_ != nullptr) window_->SetProgressPos(pos);
    }

private:
    DialogWindow* window_ = nullptr;
};

class CPlayerDlg : public UploadHost {
public:
    static constexpr int kPollTimer = 1;
    static constexpr int kPollPeriodMs = 100;
    // The window menu's commands (system menu ids: multiples of 16 below 0xF000).
    static constexpr int kAboutCommand = 0x0010;
    static constexpr int kOpenCommand = 0x0020;
    static constexpr int kSendWholeCommand = 0x0030;
    static constexpr int kBoardDetailsCommand = 0x0040;
    static constexpr int kBoardCheckCommand = 0x0050;
    static constexpr int kChooseFpgaCommand = 0x0060;
    static constexpr int kFirmwareCommand = 0x0070;  // "USB-Blaster II firmware..."
    static constexpr int kTckCommand = 0x0080;       // "Cable TCK..."
    // The names of the settings kept between runs.
    static constexpr char kFolderSetting[] = "LastFolder";
    static constexpr char kAutoAdvanceSetting[] = "AutoAdvance";
    static constexpr char kBoardCheckSetting[] = "BoardCheck";
    // The FPGA chosen for a JTAG chain: this, then the chain's key (ChainKey), holds
    // its number as Board details lists it ("" or unset: the check chooses).
    static constexpr char kFpgaSettingPrefix[] = "Fpga-";
    static constexpr char kFirmwareSetting[] = "Blaster2Firmware";  // the file the menu entry chose
    static constexpr char kTckSetting[] = "TckMhz";  // the FT2232H cables' TCK the menu chose, in MHz
    // The track clock: time left and Auto-advance, while a track plays.
    static constexpr int kTrackTimer = 2;
    static constexpr int kTrackPeriodMs = 250;
    // Milliseconds from any fixed point, never going back (tests give a fake one).
    using Clock = std::function<std::int64_t()>;

    CPlayerDlg();
    ~CPlayerDlg() override;
    CPlayerDlg(const CPlayerDlg&) = delete;
    CPlayerDlg& operator=(const CPlayerDlg&) = delete;

    // The window the dialog runs in; set before OnCreate.
    void Attach(DialogWindow& window) { window_ = &window; }
    // How worker threads are started (tests make it fail).
    void SetThreadLauncher(WorkerThread::Launcher launch) { launch_ = std::move(launch); }
    // Called on the UI thread each time a transfer has ended and the dialog is idle
    // again (the host shows what a virtual board received); nothing by default.
    void SetTransferEnded(std::function<void()> ended) { transferEnded_ = std::move(ended); }
    // Whether OpenBoard reads the JTAG chain back before it lets an upload go (on by
    // default, and as the menu's tick was left; --no-board-check turns it off for the run).
    void SetBoardCheck(bool check) {
        boardCheck_ = check;
        boardCheckForced_ = !check;
    }
    bool BoardCheckOn() const { return boardCheck_; }
    // Called on the UI thread as Play starts a transfer, before the cable opens.
    void SetTransferStarting(std::function<void()> starting) { transferStarting_ = std::move(starting); }
    // --packed: every later Play sends the data as packed shift commands; set before
    // the first Play (link/PackedShift.h).
    void SetPacked(bool packed) { packed_ = packed; }
    // The clock the track timer reads; the steady clock by default.
    void SetClock(Clock clock) { clock_ = std::move(clock); }

    // Message handlers, all on the UI thread.
    int OnCreate();
    bool OnInitDialog();
    void OnDropFiles(const std::vector<std::string>& paths);
    // Enter (the dialog's OK command) with focusId the control that has the focus: in
    // the path box it loads the typed path as a drop would; elsewhere it does nothing.
    // Enter never ends the dialog: Close, Escape and the close box do.
    void OnOK(int focusId);
    void OnSend();
    void OnNext();
    void OnPrevious();
    // Ctrl+O and the menu's Open...: the system's file dialog, then a load as a drop.
    void OnOpen();
    void OnTimer(int id);
    void OnDestroy();
    void OnTrackChosen(int row);  // double-click or Enter on a row of the track list
    void OnAutoAdvance();         // the Auto-advance box was clicked
    void OnSongSlider();          // the slider moved
    bool OnSysCommand(unsigned id);  // false: hand the command to the default handling
    bool OnPaint();                  // false: paint as usual
    IconHandle OnQueryDragIcon() const { return hIcon; }

    void DoDataExchange(bool save);
    void UpdateData(bool save) { DoDataExchange(save); }
    void OpenBoard();
    // Closes the cable if it is open; not FT_OK when bytes were lost at the close.
    FT_STATUS CloseBoard();

    // A worker has been started and has not yet returned.
    bool WorkerRunning() const { return hThread.Running(); }
    // No transfer, no worker, cable closed: Play may start one.
    bool IsIdle() const { return fBusy.load() == 0 && !WorkerRunning() && hBoard == nullptr; }
    // The track list's album: entries in play order (none for a ROM), the one playing.
    const std::vector<PlaylistEntry>& Entries() const { return album_.Entries(); }
    int PlayingEntry() const { return album_.Playing(); }
    // A message box of the dialog is up now (timers wait until it is gone).
    bool BoxUp() const { return boxes_.load() != 0; }
    // Called each time the last box of the dialog has gone, on the thread that showed
    // it (a worker's too): the host ends a close that waited for it. Nothing by default.
    void SetBoxesGone(std::function<void()> gone) { boxesGone_ = std::move(gone); }
    // The session ends under the window (a logout, a shutdown, kill, a closed console):
    // a transfer under way is stopped as Stop stops it, and from now on no box or
    // dialog waits for the user. The host then ends the window, which waits for the
    // worker's closing walk (OnDestroy). UI thread.
    void OnEndSession();
    bool Ending() const { return ending_.load(); }

    // What the upload worker sees.
    FT_HANDLE Board() const override { return hBoard; }
    const NsfTune& Tune() const override { return tune; }
    const NesRom* Rom() const override { return pRom.get(); }
    std::int32_t Song() const override { return nSong; }
    std::atomic<std::int32_t>& Busy() override { return fBusy; }
    std::atomic<std::int32_t>& TuneLoaded() override { return fTuneLoaded; }
    void SetProgress(int position) override;
    void ShowMessage(const char* text) override;
    bool Packed() const override { return packed_; }
    ChainTarget Target() const override { return target_; }

    // The dialog's state, in declaration order.
    NsfTune tune;
    std::unique_ptr<NesRom> pRom;
    FT_HANDLE hBoard = nullptr;
    std::int32_t nSong = 0;
    std::atomic<std::int32_t> fBusy{0};
    std::atomic<std::int32_t> fTuneLoaded{0};
    WorkerThread hThread;
    CProgressCtrl progress;
    std::string strPath;
    std::string strInfo;
    IconHandle hIcon;

    static constexpr char kNoThread[] = "The transfer could not be started: no worker thread could be created.";

private:
    // Shows a box; while it is up no timer acts. Any thread.
    void Box(const BoxText& box);
    // A failure on the UI thread: the Auto-advance run ends before its box shows.
    void Fail(const BoxText& box);
    // The menu's board entries.
    void ShowBoardDetails();
    void ToggleBoardCheck();
    // The window's menu entry "Choose the FPGA...": which FPGA of the chain uploads go
    // to, kept for that chain.
    void ChooseFpga();
    // The FPGA kept for this chain (counted from 0), none when the check chooses.
    std::optional<std::size_t> ChosenFpga(const std::vector<ChainMember>& chain);
    // "USB-Blaster II firmware...": the file the cable layer loads into a cable without
    // firmware, checked and kept (on Windows: that the cable is not supported there).
    void ChooseBlasterFirmware();
    // "Cable TCK...": the Arrow USB Blaster's and USB-Blaster III's TCK, kept.
    void ChooseTck();
    void SendWhole();
    // The folder of the last file loaded, kept for Open.
    void RememberFolder(const std::string& path);
    void EnableSongControls(bool enable);
    // Shows what a load gave, as a drop does: the summary, the slider (on songPos when
    // the tune has it, else on its starting song) and the buttons. False when nothing
    // can be played.
    bool ShowLoad(LoadOutcome outcome, int songPos);
    // Before Play: a tune whose file changed since it was loaded is loaded again.
    // False when it can no longer be played ("file dont open" has been shown).
    bool ReloadIfChanged();
    DialogWindow& Window() const { return *window_; }
    std::int64_t Now() const;
    // The track list, the song label and the track clock.
    void ShowTracks();
    void ShowSongLabel();
    void ShowTimeLeft();
    void MarkRow(int index);
    // Next and Previous: the entry the album picks, or a step of the slider (wrapping)
    // for a tune without a play order and a ROM.
    void Step(int by);
    // After a tune's song reached the board whole: its entry is playing from now on.
    void TrackStarted();
    // No track is playing any more: nothing advances.
    void EndRun();
    void OnTrackTimer();
    // Plays the entry as Next plays a song: slider to its song, then Play.
    void PlayEntry(int index);

    DialogWindow* window_ = nullptr;
    WorkerThread::Launcher launch_;
    std::function<void()> transferStarting_;
    std::function<void()> transferEnded_;
    bool boardCheck_ = true;
    ChainTarget target_;  // where the FPGA of the open board sits in its chain
    bool boardCheckForced_ = false;  // --no-board-check: the menu's tick is not kept
    std::atomic<int> boxes_{0};
    std::function<void()> boxesGone_;
    std::atomic<bool> ending_{false};
    // Counts a box (or a dialog) of the window while it is up: no timer acts meanwhile.
    class BoxScope {
    public:
        explicit BoxScope(CPlayerDlg& dlg) : dlg_(dlg) { ++dlg_.boxes_; }
        ~BoxScope() {
            if (--dlg_.boxes_ == 0 && dlg_.boxesGone_) dlg_.boxesGone_();
        }
        BoxScope(const BoxScope&) = delete;
        BoxScope& operator=(const BoxScope&) = delete;

    private:
        CPlayerDlg& dlg_;
    };
    bool packed_ = false;
    // Counts Play and Stop (UI thread only); a worker's progress counts while it matches.
    unsigned transfer_ = 0;
    // transfer_ when the running worker was started; written only while no worker runs.
    unsigned workerTransfer_ = 0;
    // The worker reported a failure (a message box) during the current transfer.
    std::atomic<bool> transferFailed_{false};
    // The path the loaded file came from (a playlist, or the tune itself).
    std::string loadPath_;
    Clock clock_;
    Album album_;
    int chosen_ = -1;        // the entry the next Play is for, when a row or the advance chose it
    // The entry the running transfer sends; -1: the first of its song; kNoTrack: the
    // file was replaced since (a drop while winding down), so no track starts.
    static constexpr int kNoTrack = -2;
    int sending_ = -1;
};

}  // namespace tunlet
