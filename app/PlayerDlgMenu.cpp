// The player dialog's keys and window menu (Enter, Open, the board's entries, About),
// painting and shutdown.
#include <algorithm>

#include "app/AboutDlg.h"
#include "app/BoardScan.h"
#include "app/PlayerDlg.h"
#include "cable/BlasterFirmware.h"
#include "cable/MpsseCable.h"
#include "link/BoardLink.h"

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

std::optional<std::size_t> CPlayerDlg::ChosenFpga(const std::vector<ChainMember>& chain) {
    const std::string kept = Window().ReadSetting(kFpgaSettingPrefix + ChainKey(chain));
    if (kept.empty() || kept.size() > 2 || kept.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const int number = std::stoi(kept);
    if (number < 1) return std::nullopt;
    return static_cast<std::size_t>(number - 1);
}

namespace {
constexpr char kDumpCannotAnswer[] = "A dump cannot answer: the board's chain can be read only through a cable.";
}  // namespace

void CPlayerDlg::ChooseFpga() {
    if (!IsIdle() || ending_.load()) return;  // the cable belongs to the transfer; no box once the session ends
    // Every FPGA's design is read, whatever was chosen before.
    const BoardLink link = OpenBoardLink({true, nullptr, true});
    if (link.handle != nullptr) FT_Close(link.handle);
    const BoardSelection& sel = link.selection;
    if (link.handle != nullptr && !link.checked) return Fail(PlainBox(kDumpCannotAnswer));
    if (sel.devices.empty() || (sel.check.result != BoardCheck::Result::Ready &&
                                sel.check.result != BoardCheck::Result::Refused)) {
        return Fail(CheckBox(sel.check));
    }
    std::vector<std::size_t> fpgas;
    std::vector<std::string> entries = {"The one FPGA whose design takes uploads"};
    for (std::size_t i = 0; i < sel.devices.size(); ++i) {
        if (!IsUploadCandidate(sel.devices[i])) continue;
        fpgas.push_back(i);
        const bool ready = std::find(sel.ready.begin(), sel.ready.end(), i) != sel.ready.end();
        entries.push_back(Capitalised(DescribeMember(sel.devices, i)) +
                          (ready ? ": its design takes uploads" : ": its design does not take uploads"));
    }
    if (fpgas.empty()) return Fail(CheckBox(sel.check));
    const std::optional<std::size_t> kept = ChosenFpga(sel.devices);
    const auto at = kept ? std::find(fpgas.begin(), fpgas.end(), *kept) : fpgas.end();
    const int current = at == fpgas.end() ? 0 : static_cast<int>(at - fpgas.begin()) + 1;
    int picked = -1;
    {
        const BoxScope up(*this);
        picked = Window().ChooseEntry("Choose the FPGA", "Send uploads on this JTAG chain to:", entries, current);
    }
    if (picked < 0 || static_cast<std::size_t>(picked) >= entries.size()) return;
    const std::string value = picked == 0 ? "" : std::to_string(fpgas[static_cast<std::size_t>(picked) - 1] + 1);
    const std::string key = kFpgaSettingPrefix + ChainKey(sel.devices);
    if (Window().ReadSetting(key) == value) return;
    Window().WriteSetting(key, value);
    fTuneLoaded = 0;  // the FPGA now chosen may not hold the tune the other one held
}

void CPlayerDlg::ShowBoardDetails() {
    if (!IsIdle()) return;  // the cable belongs to the transfer
    const BoardLink link =
        OpenBoardLink({true, [this](const std::vector<ChainMember>& chain) { return ChosenFpga(chain); }, true});
    if (link.handle != nullptr && !link.checked) {
        FT_Close(link.handle);
        Fail(PlainBox(kDumpCannotAnswer));
        return;
    }
    std::string text;
    const BoardCheck scan = ScanBoard(link.handle, link.selection, text);
    if (link.handle != nullptr) FT_Close(link.handle);
    if (scan.result == BoardCheck::Result::NotConnected || scan.result == BoardCheck::Result::WriteFailed) {
        if (link.checked && scan.result == BoardCheck::Result::NotConnected) fTuneLoaded = 0;  // a board found off may have lost its tune
        Fail(CheckBox(scan));
        return;
    }
    // What it found, and why uploads cannot go when they cannot, as scan prints it.
    if (scan.result == BoardCheck::Result::Refused) text += scan.text + "\n";
    if (ending_.load()) return;
    const BoxScope up(*this);
    Window().ShowText("Board details", text);
}

namespace {
// The TCKs offered, in MHz: the pace the board's design was built for up to the chip's limit.
constexpr unsigned kTckChoicesMhz[] = {6, 10, 15, 20, 30};
}  // namespace

void CPlayerDlg::ChooseTck() {
    if (ending_.load()) return;
    std::vector<std::string> entries;
    int current = 0;
    const unsigned now = OpenTckKhz(0);
    for (unsigned mhz : kTckChoicesMhz) {
        if (mhz * 1000 == now) current = static_cast<int>(entries.size());
        entries.push_back(std::to_string(mhz) + " MHz" +
                          (mhz == 6 ? " (the USB-Blaster's pace, which the board's design was built for)"
                                    : mhz == 30 ? " (the chip's limit)" : ""));
    }
    int picked = -1;
    {
        const BoxScope up(*this);
        picked = Window().ChooseEntry("Cable TCK", "The TCK of the Arrow USB Blaster and the USB-Blaster III:", entries,
                                      current);
    }
    if (picked < 0 || static_cast<std::size_t>(picked) >= entries.size()) return;
    const unsigned mhz = kTckChoicesMhz[picked];
    SetWindowTckKhz(mhz * 1000);
    Window().WriteSetting(kTckSetting, std::to_string(mhz));
}

void CPlayerDlg::ChooseBlasterFirmware() {
    if (ending_.load()) return;
#ifdef _WIN32
    Box(PlainBox("The USB-Blaster II is not supported on Windows yet: Tunlet drives the USB-Blaster here."));
#else
    if (!IsIdle()) return;  // the cable may be starting with the file kept now
    const std::string kept = Window().ReadSetting(kFirmwareSetting);
    const std::size_t slash = kept.find_last_of('/');
    std::string path;
    bool chosen = false;
    {
        const BoxScope up(*this);
        chosen = Window().ChooseFirmware(slash == std::string::npos ? "" : kept.substr(0, slash), path);
    }
    if (!chosen || path.empty()) return;
    // A file that is not a sound firmware is refused now, not when a cable needs it.
    const FirmwareImage image = FindBlasterFirmware(FirmwareRoots{path, "", "", "/"});
    if (!image.error.empty()) {
        Box(PlainBox("This is not a USB-Blaster II firmware Tunlet can load: " + image.error + "."));
        return;
    }
    Window().WriteSetting(kFirmwareSetting, path);
    SetCableFirmware(path);
#endif
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
        case kChooseFpgaCommand:
            ChooseFpga();
            return true;
        case kTckCommand:
            ChooseTck();
            return true;
        case kFirmwareCommand:
            ChooseBlasterFirmware();
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
