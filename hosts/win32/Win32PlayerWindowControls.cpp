// The player window's side of the dialog interface: its controls, boxes, settings,
// system menu and icons, each a call on the dialog manager or a common control.
#include "hosts/win32/Win32PlayerWindow.h"

#include <commctrl.h>
#include <shellapi.h>

#include "app/PlayerDlg.h"
#include "hosts/win32/Win32Boxes.h"
#include "hosts/win32/Win32Text.h"
#include "res/DialogTemplates.h"
#include "res/Strings.h"

namespace tunlet {

void Win32PlayerWindow::SetCableText(const std::string& text) {
    const std::wstring name = DisplayText(res::FindDialogTemplate(res::kIddPlayerDialog)->caption);
    ::SetWindowTextW(hwnd_, (text.empty() ? name : name + L" \u2013 " + DisplayText(text)).c_str());
}

}  // namespace tunlet

namespace tunlet {

namespace {

INT_PTR CALLBACK AboutProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        CentreOnOwnerOrScreen(hwnd);  // in the middle of the window that opened it
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        ::EndDialog(hwnd, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void Win32PlayerWindow::SetItemText(int id, const std::string& text) {
    ::SetDlgItemTextW(hwnd_, id, DisplayText(text).c_str());
}

void Win32PlayerWindow::EnableItem(int id, bool enable) { ::EnableWindow(::GetDlgItem(hwnd_, id), enable); }

void Win32PlayerWindow::SetSliderRange(int min, int max, bool redraw) {
    ::SendDlgItemMessageW(hwnd_, kIdSongSlider, TBM_SETRANGEMIN, FALSE, min);
    ::SendDlgItemMessageW(hwnd_, kIdSongSlider, TBM_SETRANGEMAX, redraw, max < min ? min : max);
}

void Win32PlayerWindow::SetSliderTicFreq(int freq) {
    ::SendDlgItemMessageW(hwnd_, kIdSongSlider, TBM_SETTICFREQ, static_cast<WPARAM>(freq), 0);
}

void Win32PlayerWindow::SetSliderPos(int pos, bool redraw) {
    ::SendDlgItemMessageW(hwnd_, kIdSongSlider, TBM_SETPOS, redraw, pos);
}

int Win32PlayerWindow::SliderPos() {
    return static_cast<int>(::SendDlgItemMessageW(hwnd_, kIdSongSlider, TBM_GETPOS, 0, 0));
}

void Win32PlayerWindow::SetListRows(int id, const std::vector<std::string>& rows) {
    ::SendDlgItemMessageW(hwnd_, id, LB_RESETCONTENT, 0, 0);
    for (const std::string& row : rows) {
        ::SendDlgItemMessageW(hwnd_, id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(DisplayText(row).c_str()));
    }
}

void Win32PlayerWindow::SetListRow(int id, int row, const std::string& text) {
    const LRESULT selected = ::SendDlgItemMessageW(hwnd_, id, LB_GETCURSEL, 0, 0);
    if (::SendDlgItemMessageW(hwnd_, id, LB_DELETESTRING, static_cast<WPARAM>(row), 0) == LB_ERR) return;
    ::SendDlgItemMessageW(hwnd_, id, LB_INSERTSTRING, static_cast<WPARAM>(row),
                          reinterpret_cast<LPARAM>(DisplayText(text).c_str()));
    if (selected == row) ::SendDlgItemMessageW(hwnd_, id, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
}

void Win32PlayerWindow::SetListSelection(int id, int row) {
    ::SendDlgItemMessageW(hwnd_, id, LB_SETCURSEL, static_cast<WPARAM>(row), 0);  // scrolls it into view
}

void Win32PlayerWindow::SetChecked(int id, bool checked) {
    ::CheckDlgButton(hwnd_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

int Win32PlayerWindow::ListSelection(int id) {
    const LRESULT selected = ::SendDlgItemMessageW(hwnd_, id, LB_GETCURSEL, 0, 0);
    return selected == LB_ERR ? -1 : static_cast<int>(selected);
}

bool Win32PlayerWindow::IsChecked(int id) { return ::IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; }

void Win32PlayerWindow::SetProgressPos(int pos) {
    if (OnUiThread()) {
        ::SendDlgItemMessageW(hwnd_, kIdProgress, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
    } else {
        Post([this, pos] { SetProgressPos(pos); });  // never waits for the UI thread
    }
}

void Win32PlayerWindow::SetTimer(int id, int periodMs) {
    ::SetTimer(hwnd_, static_cast<UINT_PTR>(id), static_cast<UINT>(periodMs), nullptr);
}

void Win32PlayerWindow::KillTimer(int id) { ::KillTimer(hwnd_, static_cast<UINT_PTR>(id)); }

void Win32PlayerWindow::MessageBox(const std::string& text, const std::string& caption, BoxIcon icon) {
    if (OnUiThread()) {
        if (dlg_.Ending()) return;  // a worker's box that was on its way: nobody is there to read it
        const std::wstring title = DisplayText(caption.empty() ? res::kAppName : caption);
        ShowMessageBox(hwnd_, DisplayText(text), title, icon == BoxIcon::Warning ? MB_ICONWARNING : MB_ICONERROR);
        return;
    }
    // The worker waits until the box, shown on the UI thread, has been dismissed.
    RunOnUiThreadAndWait(*this, [this, text, caption, icon] { MessageBox(text, caption, icon); });
}

void Win32PlayerWindow::ShowText(const std::string& caption, const std::string& text) {
    ShowTextBox(instance_, hwnd_, DisplayText(caption), text);  // already UTF-8
}

int Win32PlayerWindow::ChooseEntry(const std::string& caption, const std::string& prompt,
                                   const std::vector<std::string>& entries, int current) {
    std::vector<std::wstring> wide;
    for (const std::string& e : entries) wide.push_back(DisplayText(e));
    return ShowChoiceBox(instance_, hwnd_, DisplayText(caption), DisplayText(prompt), wide, current);
}

bool Win32PlayerWindow::ChooseFile(const std::string& folder, std::string& path) {
    std::wstring chosen;
    if (!ChooseOpenFile(hwnd_, Widen(folder), chosen)) return false;
    path = Narrow(chosen);
    return true;
}

std::string Win32PlayerWindow::ReadSetting(const std::string& name) { return Narrow(ReadRegistrySetting(Widen(name))); }

void Win32PlayerWindow::WriteSetting(const std::string& name, const std::string& value) {
    WriteRegistrySetting(Widen(name), Widen(value));
}

void Win32PlayerWindow::ExchangeText(int id, std::string& text, bool save) {
    if (!save) {
        shown_[id] = text;
        ::SetDlgItemTextW(hwnd_, id, DisplayText(text).c_str());
        if (id == kIdPath) {
            // Keep the end of a long path, the file name, in view.
            const LRESULT length = ::SendDlgItemMessageW(hwnd_, id, WM_GETTEXTLENGTH, 0, 0);
            ::SendDlgItemMessageW(hwnd_, id, EM_SETSEL, static_cast<WPARAM>(length), length);
        }
        return;
    }
    HWND item = ::GetDlgItem(hwnd_, id);
    std::wstring current(static_cast<std::size_t>(::GetWindowTextLengthW(item)) + 1, L'\0');
    current.resize(static_cast<std::size_t>(::GetWindowTextW(item, current.data(), static_cast<int>(current.size()))));
    // Unchanged text gives back the bytes it was shown from (a Shift-JIS title stays so).
    const auto it = shown_.find(id);
    text = it != shown_.end() && DisplayText(it->second) == current ? it->second : Narrow(current);
}

void Win32PlayerWindow::SetTabStops(int id, const std::vector<int>& stops) {
    // The edit counts its tab stops in dialog units: four to an average character.
    std::vector<int> units;
    for (const int stop : stops) units.push_back(stop * 4);
    ::SendDlgItemMessageW(hwnd_, id, EM_SETTABSTOPS, units.size(),
                          reinterpret_cast<LPARAM>(units.empty() ? nullptr : units.data()));
    ::InvalidateRect(::GetDlgItem(hwnd_, id), nullptr, TRUE);
}

void Win32PlayerWindow::DragAcceptFiles(bool accept) { ::DragAcceptFiles(hwnd_, accept); }

bool Win32PlayerWindow::AppendSystemMenu(int command, const std::string& text) {
    HMENU menu = ::GetSystemMenu(hwnd_, FALSE);
    if (menu == nullptr) return false;
    if (command == 0) {
        ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else {
        ::AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(command), Widen(text).c_str());
    }
    return true;
}

void Win32PlayerWindow::CheckSystemMenu(int command, bool checked) {
    if (HMENU menu = ::GetSystemMenu(hwnd_, FALSE)) {
        ::CheckMenuItem(menu, static_cast<UINT>(command), MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
    }
}

IconHandle Win32PlayerWindow::LoadIcon(int resource) {
    if (icons_.count(resource) == 0) {
        HICON icon = ::LoadIconW(instance_, MAKEINTRESOURCEW(resource));
        if (icon == nullptr) return IconHandle{};
        icons_[resource] = icon;
    }
    return IconHandle{resource};
}

void Win32PlayerWindow::SetIcon(IconHandle icon, bool big) {
    const auto it = icons_.find(icon.resource);
    if (it == icons_.end()) return;
    ::SendMessageW(hwnd_, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(it->second));
}

bool Win32PlayerWindow::IsIconic() { return ::IsIconic(hwnd_) != FALSE; }

ClientRect Win32PlayerWindow::GetClientRect() {
    RECT r{};
    ::GetClientRect(hwnd_, &r);
    return {r.right - r.left, r.bottom - r.top};
}

int Win32PlayerWindow::SystemIconSize() { return ::GetSystemMetrics(SM_CXICON); }

void Win32PlayerWindow::DrawIcon(IconHandle icon, int x, int y) {
    const auto it = icons_.find(icon.resource);
    if (paintDc_ != nullptr && it != icons_.end()) ::DrawIcon(paintDc_, x, y, it->second);
}

int Win32PlayerWindow::RunModal(int templateId) {
    return static_cast<int>(::DialogBoxParamW(instance_, MAKEINTRESOURCEW(templateId), hwnd_, AboutProc, 0));
}

void Win32PlayerWindow::PumpUntil(const std::function<bool()>& done) {
    while (!done()) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (FilterMessage(msg)) continue;
            if (hwnd_ == nullptr || !::IsDialogMessageW(hwnd_, &msg)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
        }
        if (!done()) ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

}  // namespace tunlet
