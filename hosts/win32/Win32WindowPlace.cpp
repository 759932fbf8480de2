// The player window's size and place: its controls follow its size, it is never
// smaller than the template (with a short board panel) unless the screen is, and it
// opens where the last run left it.
#include <algorithm>
#include <cstdio>

#include "app/MakeCrLf.h"
#include "hosts/win32/Win32PlayerWindow.h"
#include "hosts/win32/Win32Text.h"
#include "res/DialogTemplates.h"
#include "res/Strings.h"

namespace tunlet {

void Win32PlayerWindow::NotePlaces() {
    for (const res::ControlTemplate& c : res::FindDialogTemplate(res::kIddPlayerDialog)->controls) {
        HWND item = c.id == -1 ? nullptr : ::GetDlgItem(hwnd_, c.id);
        if (item == nullptr) continue;
        RECT r{};
        ::GetWindowRect(item, &r);
        ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
        places_[c.id] = r;
    }
    RECT window{}, client{};
    ::GetWindowRect(hwnd_, &window);
    ::GetClientRect(hwnd_, &client);
    smallest_ = {window.right - window.left, window.bottom - window.top};
    smallestClient_ = {client.right, client.bottom};
    RECT spare{0, 0, 0, res::kSummarySpare + res::kListSpare};
    ::MapDialogRect(hwnd_, &spare);
    spare_ = spare.bottom;
    FitScreen(smallest_.cy);
}

// On a small screen (1366 x 768 at 144 DPI) the summary and the list give up height,
// down to a floor, so that the window fits its monitor's work area.
void Win32PlayerWindow::FitScreen(LONG wanted) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const LONG room = monitor.rcWork.bottom - monitor.rcWork.top;
    leastHeight_ = res::LeastHeight(smallest_.cy, spare_, room);
    RECT window{};
    ::GetWindowRect(hwnd_, &window);
    ::SetWindowPos(hwnd_, nullptr, 0, 0, window.right - window.left,
                   std::max<LONG>(leastHeight_, std::min<LONG>(wanted, room)),
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    Relayout();
}

void Win32PlayerWindow::Relayout() {
    if (places_.empty()) return;
    RECT client{};
    ::GetClientRect(hwnd_, &client);
    const int dx = client.right - smallestClient_.cx, dy = client.bottom - smallestClient_.cy;
    for (const auto& [id, r] : places_) {
        const res::Rect p = res::PlaceControl(id, {r.left, r.top, r.right - r.left, r.bottom - r.top}, dx, dy,
                                              boardPanel_ != nullptr, spare_);
        HWND item = id == res::kIdBoardPanel ? boardPanel_ : ::GetDlgItem(hwnd_, id);
        ::SetWindowPos(item, nullptr, p.x, p.y, p.cx, p.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ::InvalidateRect(hwnd_, nullptr, TRUE);
}

bool Win32PlayerWindow::RestorePlace() {
    RECT r{};
    int maximized = 0;
    const std::string saved = ReadSetting("Window");
    if (std::sscanf(saved.c_str(), "%ld,%ld,%ld,%ld,%d", &r.left, &r.top, &r.right, &r.bottom, &maximized) != 5) {
        return false;
    }
    // Only a place on a screen there is now, and never below the smallest size.
    RECT screen{::GetSystemMetrics(SM_XVIRTUALSCREEN), ::GetSystemMetrics(SM_YVIRTUALSCREEN), 0, 0};
    screen.right = screen.left + ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
    screen.bottom = screen.top + ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
    RECT seen{};
    if (!::IntersectRect(&seen, &r, &screen)) return false;
    // A size kept from a larger screen (or a smaller scale) shrinks to fit the work
    // area of the monitor it comes back on, and moves as far as it must to show whole.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    const res::Rect place = res::FitPlace({r.left, r.top, r.right - r.left, r.bottom - r.top},
                                          {work.left, work.top, work.right - work.left, work.bottom - work.top},
                                          smallest_.cx, leastHeight_);
    ::SetWindowPos(hwnd_, nullptr, place.x, place.y, place.cx, place.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    if (maximized != 0) ::ShowWindow(hwnd_, SW_MAXIMIZE);
    return true;
}

void Win32PlayerWindow::SavePlace() {
    WINDOWPLACEMENT place{};
    place.length = sizeof place;
    if (hwnd_ == nullptr || !::GetWindowPlacement(hwnd_, &place)) return;
    // The normal place counts from the work area's corner (a taskbar at the top or the
    // left moves it); the screen's own corner is what the next run places it from.
    RECT r = place.rcNormalPosition;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (::GetMonitorInfoW(::MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &monitor)) {
        ::OffsetRect(&r, monitor.rcWork.left - monitor.rcMonitor.left, monitor.rcWork.top - monitor.rcMonitor.top);
    }
    char text[96];
    std::snprintf(text, sizeof text, "%ld,%ld,%ld,%ld,%d", r.left, r.top, r.right, r.bottom,
                  place.showCmd == SW_SHOWMAXIMIZED ? 1 : 0);
    WriteSetting("Window", text);
}

void Win32PlayerWindow::AddBoardPanel() {
    if (boardPanel_ != nullptr || hwnd_ == nullptr) return;
    // Under everything the template holds, as wide as the summary box: short at the
    // smallest size (it scrolls), taller when the screen has room.
    // Below the controls at the window's smallest size (it may have opened larger).
    const RECT client{0, 0, smallestClient_.cx, smallestClient_.cy};
    RECT least{3, res::kBoardPanelGap, 179, res::kBoardPanelMinHeight};
    ::MapDialogRect(hwnd_, &least);
    RECT wanted{0, 0, 0, res::kBoardPanelHeight};
    ::MapDialogRect(hwnd_, &wanted);
    boardPanel_ = ::CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                    WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY |
                                        ES_AUTOVSCROLL,
                                    least.left, client.bottom + least.top, least.right, least.bottom, hwnd_, nullptr,
                                    instance_, nullptr);
    if (boardPanel_ == nullptr) return;
    ::SendMessageW(boardPanel_, WM_SETFONT, ::SendMessageW(hwnd_, WM_GETFONT, 0, 0), FALSE);
    ::SetWindowTextW(boardPanel_, L"What the virtual board receives shows here after Play.");
    places_[res::kIdBoardPanel] = {least.left, client.bottom + least.top, least.left + least.right,
                                   client.bottom + least.top + least.bottom};
    // On a small screen (1366 x 768 at 144 DPI) the summary and the list give up
    // height first, then the panel shrinks (down to a sliver), so that the window
    // still fits its monitor's work area.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const LONG room = monitor.rcWork.bottom - monitor.rcWork.top;
    const LONG panel = res::PanelLeastHeight(smallest_.cy, least.top, least.bottom, spare_, room);
    places_[res::kIdBoardPanel].bottom -= least.bottom - panel;
    smallest_.cy += 2 * least.top + panel;
    smallestClient_.cy += 2 * least.top + panel;
    FitScreen(smallest_.cy - panel + std::max<LONG>(panel, wanted.bottom));
}

void Win32PlayerWindow::SetBoardReport(const std::string& text) {
    if (boardPanel_ == nullptr) return;
    std::string shown = text;
    MakeCrLf(shown);  // the edit breaks lines at CR LF only
    ::SetWindowTextW(boardPanel_, DisplayText(shown).c_str());
}

}  // namespace tunlet
