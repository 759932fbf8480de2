#include "app/PlayerDlg.h"

#include "app/AboutDlg.h"
#include "app/LoadFile.h"
#include "app/MakeCrLf.h"
#include "app/SummaryTabs.h"
#include "link/ChainScan.h"
#include "media/StdioFile.h"
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

void CPlayerDlg::ShowMessage(const char* text) { Window().MessageBox(text, ""); }

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
    ShowLoad(LoadFile(strPath.c_str(), tune, pRom), -1);
}

void CPlayerDlg::OnOK(int focusId) {
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
    if (outcome.kind == LoadKind::Damaged || outcome.kind == LoadKind::Unknown) {
        // Nothing half read is kept, so nothing can be played until a good file comes.
        Window().EnableItem(kIdSend, false);
        EnableSongControls(false);
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
    const std::string path = tune.pszPath.get();
    const int song = Window().SliderPos();
    fTuneLoaded = 0;
    if (ShowLoad(LoadFile(path.c_str(), tune, pRom), song)) return true;
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
    if (!ReloadIfChanged()) return;
    const bool haveRom = pRom != nullptr;
    if (!haveRom && tune.fValid == 0) return;  // nothing to send: leave the cable alone

    if (transferStarting_) transferStarting_();
    OpenBoard();
    if (hBoard == nullptr) return;
    UpdateData(true);

    Window().SetItemText(kIdSend, "Stop");
    if (!haveRom) nSong = Window().SliderPos() + 1;
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
    OnSend();
}

void CPlayerDlg::OnTimer(int id) {
    if (id != kPollTimer || fBusy.load() != 0 || WorkerRunning()) return;
    Window().KillTimer(kPollTimer);
    Window().SetItemText(kIdSend, "Play");
    // A cable that lost bytes only at its close (a dump that could not be kept) failed
    // the transfer all the same.
    if (CloseBoard() != FT_OK) {
        fTuneLoaded = 0;
        ShowMessage(kWriteError);
    }
    if (transferEnded_) transferEnded_();
}

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
