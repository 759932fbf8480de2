// The main dialog: its state, file drops, Play/Stop/Next, the worker thread's life,
// the poll timer, start-up and shutdown. It reaches its window only through
// DialogWindow, so it runs the same against Qt and against a test's fake window.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/LoadFile.h"
#include "app/WorkerThread.h"
#include "link/Upload.h"
#include "media/NesRom.h"
#include "media/NsfTune.h"
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
    static constexpr int kAboutCommand = 0x0010;

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
    // default; --no-board-check turns it off).
    void SetBoardCheck(bool check) { boardCheck_ = check; }
    // Called on the UI thread as Play starts a transfer, before the cable opens.
    void SetTransferStarting(std::function<void()> starting) { transferStarting_ = std::move(starting); }
    // --packed: every later Play sends the data as packed shift commands; set before
    // the first Play (link/PackedShift.h).
    void SetPacked(bool packed) { packed_ = packed; }

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
    void OnTimer(int id);
    void OnDestroy();
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
    void EnableSongControls(bool enable);
    // Shows what a load gave, as a drop does: the summary, the slider (on songPos when
    // the tune has it, else on its starting song) and the buttons. False when nothing
    // can be played.
    bool ShowLoad(LoadOutcome outcome, int songPos);
    // Before Play: a tune whose file changed since it was loaded is loaded again.
    // False when it can no longer be played ("file dont open" has been shown).
    bool ReloadIfChanged();
    DialogWindow& Window() const { return *window_; }

    DialogWindow* window_ = nullptr;
    WorkerThread::Launcher launch_;
    std::function<void()> transferStarting_;
    std::function<void()> transferEnded_;
    bool boardCheck_ = true;
    bool packed_ = false;
    // Counts Play and Stop (UI thread only); a worker's progress counts while it matches.
    unsigned transfer_ = 0;
    // transfer_ when the running worker was started; written only while no worker runs.
    unsigned workerTransfer_ = 0;
};

}  // namespace tunlet
