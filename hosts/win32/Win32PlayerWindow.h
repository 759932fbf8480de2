// The player dialog's window on Windows: dialog 102 of the resource script, created
// by the dialog manager, with one dialog procedure that turns the window's messages
// into calls on CPlayerDlg. Everything the dialog decides stays in CPlayerDlg.
#pragma once

#include <windows.h>
// windows.h names its A/W pairs by macro; the window interface has methods of these
// names, so the macros go before it is seen.
#undef MessageBox
#undef LoadIcon

#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/DialogWindow.h"

namespace tunlet {

class CPlayerDlg;

class Win32PlayerWindow : public DialogWindow {
public:
    // onInit runs while the dialog is initialised (WM_INITDIALOG), before it shows.
    Win32PlayerWindow(CPlayerDlg& dlg, std::function<void()> onInit, HINSTANCE instance = ::GetModuleHandleW(nullptr));
    ~Win32PlayerWindow() override;
    Win32PlayerWindow(const Win32PlayerWindow&) = delete;
    Win32PlayerWindow& operator=(const Win32PlayerWindow&) = delete;

    // Runs the dialog modally, as the program does; returns when it has ended.
    void RunModal();
    // Creates the dialog without running it (tests drive it through its messages).
    HWND Create();
    HWND Handle() const { return hwnd_; }
    // Close, Escape and the close box: the transfer is stopped and waited for
    // while the window still answers, then the dialog ends.
    void End();
    // The session ends under the window (WM_ENDSESSION, a closed console): a transfer
    // is stopped as Stop stops it, the boxes up now close as if cancelled, and the
    // window ends once they have returned.
    void EndSession();
    // Posted (from any thread) to have the window call EndSession.
    static constexpr UINT kEndSessionMessage = WM_APP + 2;

    // DialogWindow
    void SetItemText(int id, const std::string& text) override;
    void EnableItem(int id, bool enable) override;
    void SetSliderRange(int min, int max, bool redraw) override;
    void SetSliderTicFreq(int freq) override;
    void SetSliderPos(int pos, bool redraw) override;
    int SliderPos() override;
    void SetListRows(int id, const std::vector<std::string>& rows) override;
    void SetListRow(int id, int row, const std::string& text) override;
    int ListSelection(int id) override;
    void SetListSelection(int id, int row) override;
    bool IsChecked(int id) override;
    void SetChecked(int id, bool checked) override;
    void SetProgressPos(int pos) override;
    void Post(std::function<void()> task) override;
    void SetTimer(int id, int periodMs) override;
    void KillTimer(int id) override;
    void MessageBox(const std::string& text, const std::string& caption, BoxIcon icon) override;
    void ShowText(const std::string& caption, const std::string& text) override;
    bool ChooseFile(const std::string& folder, std::string& path) override;
    int ChooseEntry(const std::string& caption, const std::string& prompt, const std::vector<std::string>& entries,
                    int current) override;
    void SetCableText(const std::string& text) override;
    std::string ReadSetting(const std::string& name) override;
    void WriteSetting(const std::string& name, const std::string& value) override;
    void ExchangeText(int id, std::string& text, bool save) override;
    void SetTabStops(int id, const std::vector<int>& stops) override;
    void DragAcceptFiles(bool accept) override;
    bool AppendSystemMenu(int command, const std::string& text) override;
    void CheckSystemMenu(int command, bool checked) override;
    IconHandle LoadIcon(int resource) override;
    void SetIcon(IconHandle icon, bool big) override;
    bool IsIconic() override;
    ClientRect GetClientRect() override;
    int SystemIconSize() override;
    void DrawIcon(IconHandle icon, int x, int y) override;
    int RunModal(int templateId) override;
    void PumpUntil(const std::function<bool()>& done) override;

    // A panel under the controls for what a virtual board received (the summary box
    // keeps the file's summary), and its text. The window grows to hold it.
    void AddBoardPanel();
    void SetBoardReport(const std::string& text);
    HWND BoardPanel() const { return boardPanel_; }

    // Sees the dialog's messages before the dialog manager does: Enter on a push button
    // presses it, as in every dialog; elsewhere it goes to the dialog's OnOK (the path
    // box loads, a track row plays). Ctrl+O opens a file. True when handled.
    bool FilterMessage(const MSG& msg);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool OnUiThread() const { return ::GetCurrentThreadId() == uiThread_; }
    // The controls' places at the template's size, then the window kept at least that big (or what the screen holds)
    // and its controls placed for its size.
    void NotePlaces();
    // Keeps the window's height within its monitor's work area, opening at wanted.
    void FitScreen(LONG wanted);
    void Relayout();
    // The window's size and place: as the last run left it, else centred; kept at the end.
    bool RestorePlace();
    void SavePlace();
    CPlayerDlg& dlg_;
    std::function<void()> onInit_;
    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    bool modal_ = false;
    bool ending_ = false;
    std::atomic<bool> closeDeferred_{false};  // a close came while a box was up
    DWORD uiThread_;
    HDC paintDc_ = nullptr;                  // set while WM_PAINT draws the minimized icon
    HWND boardPanel_ = nullptr;              // a child of the dialog, destroyed with it
    std::map<int, HICON> icons_;
    std::map<int, std::string> shown_;       // the bytes last shown in each edit
    std::map<int, RECT> places_;             // each control at the smallest size (client pixels)
    SIZE smallest_{};                        // the template's size (and a short panel), frame included
    SIZE smallestClient_{};
    LONG leastHeight_ = 0;  // the smallest height on this screen: at most smallest_.cy
    int spare_ = 0;         // how much height the summary and the list can give up, in pixels
    PostedTasks posted_;
};

}  // namespace tunlet
