// The player dialog's keys and window menu (Enter, Open, the board's entries, About),
// painting and shutdown.
#include "app/AboutDlg.h"
#include "app/BoardScan.h"
#include "app/PlayerDlg.h"

namespace tunlet {

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

void CPlayerDlg::RememberFolder(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return;
    Window().WriteSetting(kFolderSetting, path.substr(0, slash == 0 ? 1 : slash));
}

void CPlayerDlg::OnOpen() {
    // Refused while a transfer runs or winds down, as a drop is.
    if (fBusy.load() != 0 || WorkerRunning() || ending_.load()) return;
    std::string path;
    bool chosen = false;
    {
        const BoxScope up(*this);
        chosen = Window().ChooseFile(Window().ReadSetting(kFolderSetting), path);
    }
    if (chosen && !path.empty()) OnDropFiles({path});
}

void CPlayerDlg::SendWhole() {
    if (!IsIdle()) return;
    fTuneLoaded = 0;  // the tune's data goes again, whatever the board holds
    OnSend();
}

void CPlayerDlg::ToggleBoardCheck() {
    boardCheck_ = !boardCheck_;
    boardCheckForced_ = false;
    Window().CheckSystemMenu(kBoardCheckCommand, boardCheck_);
    Window().WriteSetting(kBoardCheckSetting, boardCheck_ ? "1" : "0");
}

void CPlayerDlg::ShowBoardDetails() {
    if (!IsIdle()) return;  // the cable belongs to the transfer
    FT_HANDLE handle = nullptr;
    if (FT_OpenEx("USB-Blaster", FT_OPEN_BY_DESCRIPTION, &handle) != FT_OK) {
        Fail(NotConnectedBox(CableOpenFailure()));
        return;
    }
    if (!CableCanRead(handle)) {
        FT_Close(handle);
        Fail(PlainBox("A dump cannot answer: board details need a cable that reads."));
        return;
    }
    std::string text;
    const BoardCheck scan = ScanBoard(handle, text);
    FT_Close(handle);
    if (scan.result == BoardCheck::Result::NotConnected || scan.result == BoardCheck::Result::WriteFailed) {
        if (scan.result == BoardCheck::Result::NotConnected) fTuneLoaded = 0;  // a board found off may have lost its tune
        Fail(CheckBox(scan));
        return;
    }
    // What it found, and why uploads cannot go when they cannot, as scan prints it.
    if (scan.result == BoardCheck::Result::Refused) text += scan.text + "\n";
    if (ending_.load()) return;
    const BoxScope up(*this);
    Window().ShowText("Board details", text);
}

void CPlayerDlg::OnEndSession() {
    ending_ = true;
    if (fBusy.load() != 0) OnSend();  // Stop
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
    switch (id & 0xFFF0) {
        case kAboutCommand: {
            if (ending_.load()) return true;
            const BoxScope up(*this);
            CAboutDlg about(Window());
            about.DoModal();
            return true;
        }
        case kOpenCommand:
            OnOpen();
            return true;
        case kSendWholeCommand:
            SendWhole();
            return true;
        case kBoardDetailsCommand:
            ShowBoardDetails();
            return true;
        case kBoardCheckCommand:
            ToggleBoardCheck();
            return true;
        default:
            return false;
    }
}

bool CPlayerDlg::OnPaint() {
    if (!Window().IsIconic()) return false;
    const ClientRect rect = Window().GetClientRect();
    const int size = Window().SystemIconSize();
    Window().DrawIcon(hIcon, (rect.width - size + 1) / 2, (rect.height - size + 1) / 2);
    return true;
}

}  // namespace tunlet
