#include "hosts/win32/Win32PlayerWindow.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <memory>

#include "app/PlayerDlg.h"
#include "hosts/win32/Win32Boxes.h"
#include "hosts/win32/Win32Text.h"
#include "media/TextCoding.h"
#include "res/DialogTemplates.h"
#include "res/Strings.h"

namespace tunlet {

namespace {

// Posted to the dialog when another thread has queued a task for the UI thread.
constexpr UINT kRunPosted = WM_APP + 1;

}  // namespace

Win32PlayerWindow::Win32PlayerWindow(CPlayerDlg& dlg, std::function<void()> onInit, HINSTANCE instance)
    : dlg_(dlg), onInit_(std::move(onInit)), instance_(instance), uiThread_(::GetCurrentThreadId()) {
    // A close that waited for the dialog's last box goes on once that box has gone
    // (on the thread that showed it: posting is all it does).
    dlg_.SetBoxesGone([this] {
        if (closeDeferred_.exchange(false)) ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    });
}

Win32PlayerWindow::~Win32PlayerWindow() {
    dlg_.SetBoxesGone(nullptr);
    if (hwnd_ != nullptr && !modal_) ::DestroyWindow(hwnd_);
    for (auto& [id, icon] : icons_) ::DestroyIcon(icon);
}

namespace {

// The window whose messages the dialog manager's modal loop shows us first (one per
// thread: the program's one main window).
thread_local Win32PlayerWindow* t_filtered = nullptr;

LRESULT CALLBACK MessageFilter(int code, WPARAM wParam, LPARAM lParam) {
    if (code == MSGF_DIALOGBOX && t_filtered != nullptr && t_filtered->FilterMessage(*reinterpret_cast<MSG*>(lParam))) {
        return TRUE;
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// The filter of the modal loop, for as long as the dialog runs.
class MessageFilterHook {
public:
    explicit MessageFilterHook(Win32PlayerWindow& window)
        : hook_(::SetWindowsHookExW(WH_MSGFILTER, MessageFilter, nullptr, ::GetCurrentThreadId())) {
        t_filtered = &window;
    }
    ~MessageFilterHook() {
        t_filtered = nullptr;
        if (hook_ != nullptr) ::UnhookWindowsHookEx(hook_);
    }
    MessageFilterHook(const MessageFilterHook&) = delete;
    MessageFilterHook& operator=(const MessageFilterHook&) = delete;

private:
    HHOOK hook_;
};

}  // namespace

void Win32PlayerWindow::RunModal() {
    modal_ = true;
    MessageFilterHook filter(*this);
    ::DialogBoxParamW(instance_, MAKEINTRESOURCEW(res::kIddPlayerDialog), nullptr, DialogProc,
                      reinterpret_cast<LPARAM>(this));
    hwnd_ = nullptr;
}

bool Win32PlayerWindow::FilterMessage(const MSG& msg) {
    if (hwnd_ == nullptr || (msg.hwnd != hwnd_ && !::IsChild(hwnd_, msg.hwnd))) return false;
    // Ctrl+O, wherever the focus is (its character, 0x0F, goes nowhere).
    const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
    if (msg.message == WM_KEYDOWN && msg.wParam == 'O' && ctrl && ::GetKeyState(VK_MENU) >= 0) {
        dlg_.OnOpen();
        return true;
    }
    if (msg.message == WM_CHAR && msg.wParam == 0x0F) return true;
    // A push button with the focus takes Enter as a click (the dialog manager does it).
    if (msg.hwnd != hwnd_ && (::SendMessageW(msg.hwnd, WM_GETDLGCODE, 0, 0) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON))) {
        return false;
    }
    const bool enter = (msg.message == WM_KEYDOWN || msg.message == WM_KEYUP) && msg.wParam == VK_RETURN;
    const bool enterChar = msg.message == WM_CHAR && msg.wParam == L'\r';
    if (!enter && !enterChar) return false;
    // The summary box takes its Enter itself (it is read-only: nothing happens there).
    if (msg.hwnd == ::GetDlgItem(hwnd_, kIdInfo)) return false;
    if (msg.message == WM_KEYDOWN) dlg_.OnOK(msg.hwnd == hwnd_ ? 0 : ::GetDlgCtrlID(msg.hwnd));
    return true;
}

HWND Win32PlayerWindow::Create() {
    modal_ = false;
    return ::CreateDialogParamW(instance_, MAKEINTRESOURCEW(res::kIddPlayerDialog), nullptr, DialogProc,
                                reinterpret_cast<LPARAM>(this));
}

void Win32PlayerWindow::End() {
    if (ending_ || hwnd_ == nullptr) return;
    // A close that a box's own message loop hands us (the taskbar's close, taskkill)
    // waits for the box: ending now would wait for a worker that waits for the box.
    // Noted before the look, so that a box going meanwhile still sends the close.
    closeDeferred_ = true;
    if (dlg_.BoxUp()) return;
    closeDeferred_ = false;
    ending_ = true;
    SavePlace();
    dlg_.OnDestroy();  // stops and waits for a running transfer while the window answers
    if (modal_) {
        ::EndDialog(hwnd_, IDCANCEL);
    } else {
        ::DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }
}

namespace {

// Each box of the thread that is up is cancelled, as Escape would.
BOOL CALLBACK CancelBox(HWND hwnd, LPARAM main) {
    if (hwnd != reinterpret_cast<HWND>(main) && ::IsWindowVisible(hwnd)) {
        ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    return TRUE;
}

// How long the end of a session waits for the worker's closing walk: Windows ends a
// program that takes longer than 5 s.
constexpr ULONGLONG kEndSessionWaitMs = 4000;

}  // namespace

void Win32PlayerWindow::EndSession() {
    if (ending_ || hwnd_ == nullptr) return;
    dlg_.OnEndSession();
    ::EnumThreadWindows(uiThread_, CancelBox, reinterpret_cast<LPARAM>(hwnd_));
    End();
}

INT_PTR CALLBACK Win32PlayerWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<Win32PlayerWindow*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->hwnd_ = hwnd;
        self->NotePlaces();
        // Where the window opens, before start-up, so that its box shows there.
        const bool restored = self->RestorePlace();
        if (!restored) CentreOnOwnerOrScreen(hwnd);
        if (self->onInit_) self->onInit_();
        if (!restored) CentreOnOwnerOrScreen(hwnd);  // start-up may have made it taller
        return TRUE;  // the focus goes to the first tab stop
    }
    auto* self = reinterpret_cast<Win32PlayerWindow*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    return self != nullptr ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR Win32PlayerWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            // A double-click on a row of the track list plays it.
            if (LOWORD(wParam) == kIdTrackList) {
                if (HIWORD(wParam) == LBN_DBLCLK) dlg_.OnTrackChosen(ListSelection(kIdTrackList));
                return TRUE;
            }
            if (HIWORD(wParam) != BN_CLICKED) return FALSE;
            switch (LOWORD(wParam)) {
                case kIdSend:
                    dlg_.OnSend();
                    return TRUE;
                case kIdNext:
                    dlg_.OnNext();
                    return TRUE;
                case kIdPrevious:
                    dlg_.OnPrevious();
                    return TRUE;
                case kIdOpen:
                    dlg_.OnOpen();
                    return TRUE;
                case kIdAutoAdvance:
                    dlg_.OnAutoAdvance();
                    return TRUE;
                case IDOK: {  // Enter: never ends the dialog
                    HWND focus = ::GetFocus();
                    dlg_.OnOK(focus != nullptr && ::IsChild(hwnd_, focus) ? ::GetDlgCtrlID(focus) : 0);
                    return TRUE;
                }
                case IDCANCEL:  // Close and Escape
                    End();
                    return TRUE;
            }
            return FALSE;
        case WM_HSCROLL:  // the song slider moved
            if (reinterpret_cast<HWND>(lParam) == ::GetDlgItem(hwnd_, kIdSongSlider)) dlg_.OnSongSlider();
            return TRUE;
        case WM_CLOSE:  // the caption's close box
            End();
            return TRUE;
        case WM_QUERYENDSESSION:
            // Another program may still keep the session going: nothing stops before
            // WM_ENDSESSION says it ends.
            ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_ENDSESSION:
            if (wParam != FALSE) {
                EndSession();
                // The program may be ended as soon as this returns: the worker's closing
                // walk is waited for (one that waits in a box has sent it before the box).
                const ULONGLONG until = ::GetTickCount64() + kEndSessionWaitMs;
                PumpUntil([&] { return !dlg_.WorkerRunning() || ::GetTickCount64() >= until; });
            }
            return TRUE;
        case kEndSessionMessage:
            EndSession();
            return TRUE;
        case WM_GETMINMAXINFO:  // never smaller than the template (and a short board panel) the screen holds
            if (smallest_.cx > 0) {
                auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
                info->ptMinTrackSize = {smallest_.cx, leastHeight_ > 0 ? leastHeight_ : smallest_.cy};
            }
            return TRUE;
        case WM_SIZE:
            if (wParam != SIZE_MINIMIZED) Relayout();
            return FALSE;
        case WM_DROPFILES: {
            auto drop = reinterpret_cast<HDROP>(wParam);
            std::vector<std::string> paths;
            const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
            for (UINT i = 0; i < count && i < 1; ++i) {  // only the first file is taken
                std::wstring path(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
                path.resize(::DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
                paths.push_back(Narrow(path));
            }
            ::DragFinish(drop);
            dlg_.OnDropFiles(paths);
            return TRUE;
        }
        case WM_TIMER:
            dlg_.OnTimer(static_cast<int>(wParam));
            return TRUE;
        case WM_SYSCOMMAND:
            return dlg_.OnSysCommand(static_cast<unsigned>(wParam)) ? TRUE : FALSE;
        case WM_PAINT: {
            if (!::IsIconic(hwnd_)) return FALSE;
            PAINTSTRUCT ps;
            paintDc_ = ::BeginPaint(hwnd_, &ps);
            ::SendMessageW(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paintDc_), 0);
            dlg_.OnPaint();
            ::EndPaint(hwnd_, &ps);
            paintDc_ = nullptr;
            return TRUE;
        }
        case WM_QUERYDRAGICON: {
            const auto it = icons_.find(dlg_.OnQueryDragIcon().resource);
            return reinterpret_cast<INT_PTR>(it == icons_.end() ? nullptr : it->second);
        }
        case kRunPosted:
            posted_.RunAll();
            return TRUE;
        default:
            return FALSE;
    }
}

// Tasks from other threads go through the locked queue; only a message wakes the UI
// thread.
void Win32PlayerWindow::Post(std::function<void()> task) {
    posted_.Push(std::move(task));
    ::PostMessageW(hwnd_, kRunPosted, 0, 0);
}

}  // namespace tunlet
