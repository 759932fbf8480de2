#include "hosts/win32/Win32Boxes.h"

#include <commdlg.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "app/DialogWindow.h"
#include "app/MakeCrLf.h"
#include "hosts/win32/Win32Text.h"
#include "res/DialogTemplates.h"

namespace tunlet {

void CentreIn(HWND window, const RECT& area) {
    RECT r{};
    ::GetWindowRect(window, &r);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromRect(&area, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    const LONG width = r.right - r.left, height = r.bottom - r.top;
    LONG x = area.left + (area.right - area.left - width) / 2;
    LONG y = area.top + (area.bottom - area.top - height) / 2;
    x = std::max(work.left, std::min(x, work.right - width));
    y = std::max(work.top, std::min(y, work.bottom - height));
    ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CentreOnOwnerOrScreen(HWND window) {
    RECT area{};
    if (HWND owner = ::GetWindow(window, GW_OWNER); owner != nullptr && ::GetWindowRect(owner, &area)) {
        CentreIn(window, area);
        return;
    }
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
    CentreIn(window, monitor.rcWork);
}

namespace {

// The owner a box about to open on this thread is centred on.
thread_local HWND t_centreOn = nullptr;
thread_local HHOOK t_hook = nullptr;

LRESULT CALLBACK CentreHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && t_centreOn != nullptr) {
        RECT owner{};
        if (::GetWindowRect(t_centreOn, &owner)) CentreIn(reinterpret_cast<HWND>(wParam), owner);
        t_centreOn = nullptr;  // boxes inside this one centre themselves
    }
    return ::CallNextHookEx(t_hook, code, wParam, lParam);
}

// The text box: its caption and text (lParam: the pair), in a fixed-width font for as
// long as the box is up.
INT_PTR CALLBACK TextBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const auto* texts = reinterpret_cast<const std::pair<std::wstring, std::wstring>*>(lParam);
        ::SetWindowTextW(hwnd, texts->first.c_str());
        HDC dc = ::GetDC(hwnd);
        const int height = -::MulDiv(9, ::GetDeviceCaps(dc, LOGPIXELSY), 72);
        ::ReleaseDC(hwnd, dc);
        HFONT font = ::CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                   CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Consolas");
        ::SetPropW(hwnd, L"TunletFont", font);
        ::SendDlgItemMessageW(hwnd, kIdTextBox, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        ::SetDlgItemTextW(hwnd, kIdTextBox, texts->second.c_str());
        // From the first line, nothing selected; OK has the focus (Enter closes).
        ::SendDlgItemMessageW(hwnd, kIdTextBox, EM_SETSEL, 0, 0);
        ::SendDlgItemMessageW(hwnd, kIdTextBox, EM_SCROLLCARET, 0, 0);
        ::SetFocus(::GetDlgItem(hwnd, IDOK));
        CentreOnOwnerOrScreen(hwnd);
        return FALSE;  // the focus was set
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        ::EndDialog(hwnd, IDOK);
        return TRUE;
    }
    if (message == WM_DESTROY) {
        if (auto font = static_cast<HFONT>(::RemovePropW(hwnd, L"TunletFont"))) ::DeleteObject(font);
    }
    return FALSE;
}

struct Choice {
    const std::wstring& caption;
    const std::wstring& prompt;
    const std::vector<std::wstring>& entries;
    int current;
};

// The choice box (lParam: the Choice); ends with the row taken plus one, 0 for Cancel.
INT_PTR CALLBACK ChoiceBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        const auto* c = reinterpret_cast<const Choice*>(lParam);
        ::SetWindowTextW(hwnd, c->caption.c_str());
        ::SetDlgItemTextW(hwnd, kIdChoicePrompt, c->prompt.c_str());
        for (const std::wstring& e : c->entries) {
            ::SendDlgItemMessageW(hwnd, kIdChoiceList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(e.c_str()));
        }
        ::SendDlgItemMessageW(hwnd, kIdChoiceList, LB_SETCURSEL, static_cast<WPARAM>(c->current), 0);
        ::SetFocus(::GetDlgItem(hwnd, kIdChoiceList));
        CentreOnOwnerOrScreen(hwnd);
        return FALSE;  // the focus was set
    }
    if (message != WM_COMMAND) return FALSE;
    const int id = LOWORD(wParam);
    const bool taken = id == IDOK || (id == kIdChoiceList && HIWORD(wParam) == LBN_DBLCLK);
    if (!taken && id != IDCANCEL) return FALSE;
    const LRESULT row = ::SendDlgItemMessageW(hwnd, kIdChoiceList, LB_GETCURSEL, 0, 0);
    ::EndDialog(hwnd, taken && row != LB_ERR ? row + 1 : 0);
    return TRUE;
}

HKEY OpenSettings(bool write) {
    HKEY key = nullptr;
    const LONG status = write ? ::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE,
                                                  nullptr, &key, nullptr)
                              : ::RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key);
    return status == ERROR_SUCCESS ? key : nullptr;
}

}  // namespace

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
    t_centreOn = owner;
    t_hook = ::SetWindowsHookExW(WH_CBT, CentreHook, nullptr, ::GetCurrentThreadId());
    const int result = ::MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK | flags);
    if (t_hook != nullptr) ::UnhookWindowsHookEx(t_hook);
    t_hook = nullptr;
    t_centreOn = nullptr;
    return result;
}

void ShowTextBox(HINSTANCE instance, HWND owner, const std::wstring& caption, std::string text) {
    MakeCrLf(text);  // the edit breaks lines at CR LF only
    const std::pair<std::wstring, std::wstring> texts{caption, Widen(text)};
    ::DialogBoxParamW(instance, MAKEINTRESOURCEW(res::kIddTextBox), owner, TextBoxProc,
                      reinterpret_cast<LPARAM>(&texts));
}

int ShowChoiceBox(HINSTANCE instance, HWND owner, const std::wstring& caption, const std::wstring& prompt,
                  const std::vector<std::wstring>& entries, int current) {
    const Choice choice{caption, prompt, entries, current};
    const INT_PTR result = ::DialogBoxParamW(instance, MAKEINTRESOURCEW(res::kIddChoice), owner, ChoiceBoxProc,
                                             reinterpret_cast<LPARAM>(&choice));
    return result > 0 ? static_cast<int>(result - 1) : -1;
}

bool ChooseOpenFile(HWND owner, const std::wstring& folder, std::wstring& path) {
    // Name, patterns (Windows matches them in any case), name, patterns, end.
    const std::wstring patterns = Widen(kOpenPatterns);
    std::wstring semicolons = patterns;
    std::replace(semicolons.begin(), semicolons.end(), L' ', L';');
    std::wstring filter = Widen(kOpenFilterName) + L" (" + patterns + L")" + L'\0' + semicolons + L'\0' +
                          L"All files (*.*)" + L'\0' + L"*.*" + L'\0' + L'\0';
    std::vector<wchar_t> file(32768, L'\0');
    const std::wstring title = Widen(kOpenTitle);
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!::GetOpenFileNameW(&ofn)) return false;
    path = file.data();
    return !path.empty();
}

std::wstring ReadRegistrySetting(const std::wstring& name) {
    HKEY key = OpenSettings(false);
    if (key == nullptr) return L"";
    std::wstring value(1024, L'\0');
    DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    DWORD type = 0;
    const LONG status =
        ::RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &bytes);
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return L"";
    value.resize(bytes / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    return value;
}

void WriteRegistrySetting(const std::wstring& name, const std::wstring& value) {
    HKEY key = OpenSettings(true);
    if (key == nullptr) return;
    ::RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

}  // namespace tunlet
