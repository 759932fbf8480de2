// "Open with Tunlet" as Explorer does it, for scripts/test-windows: reads the open
// command of a ProgID from HKCU\Software\Classes, puts the file in for "%1", starts
// it, waits for the player window, prints the program's path and the path and first
// summary line the window shows, and closes the window again. Start-up message boxes
// (no cable) are answered with OK and printed.
//   open_with_probe.exe PROGID FILE
// Exit 0 when the window showed FILE and the program then ended.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "media/WideText.h"

namespace {

constexpr wchar_t kMainCaption[] = L"NES NSF Player on FPGA";
constexpr int kIdInfo = 1002;
constexpr int kIdPath = 1003;

void Print(const std::wstring& line) {
    const std::string utf8 = tunlet::Narrow(line) + "\n";
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fflush(stdout);
}

// The text of a window of the other process: GetWindowText would give only the text
// it was created with, so the control is asked.
std::wstring WindowText(HWND hwnd) {
    wchar_t text[4096] = {};
    DWORD_PTR length = 0;
    ::SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &length);
    return text;
}

struct Search {
    DWORD pid;
    HWND main = nullptr;
};

// The player window of the process; any other dialog of it (a message box) gets OK.
BOOL CALLBACK Visit(HWND hwnd, LPARAM param) {
    auto& search = *reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[32] = {};
    ::GetClassNameW(hwnd, cls, 32);
    if (pid != search.pid || !::IsWindowVisible(hwnd) || std::wstring(cls) != L"#32770") return TRUE;
    const std::wstring caption = WindowText(hwnd);
    if (caption.rfind(kMainCaption, 0) == 0) {
        search.main = hwnd;
    } else {
        Print(L"box: " + caption + L": " + WindowText(::GetDlgItem(hwnd, 0xFFFF)));
        ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        Print(L"usage: open_with_probe PROGID FILE");
        return 2;
    }
    const std::wstring key = std::wstring(L"Software\\Classes\\") + argv[1] + L"\\shell\\open\\command";
    wchar_t data[2048] = {};
    DWORD size = sizeof data;
    if (::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS) {
        Print(L"no open command under HKCU\\" + key);
        return 1;
    }
    std::wstring command = data;
    const std::size_t at = command.find(L"%1");
    if (at == std::wstring::npos) {
        Print(L"the open command has no %1: " + command);
        return 1;
    }
    command.replace(at, 2, argv[2]);
    Print(L"command: " + command);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        Print(L"the command did not start, error " + std::to_wstring(::GetLastError()));
        return 1;
    }
    wchar_t image[MAX_PATH] = {};
    DWORD imageSize = MAX_PATH;
    if (::QueryFullProcessImageNameW(process.hProcess, 0, image, &imageSize)) Print(L"program: " + std::wstring(image));

    // A watchdog, not a pace: the window normally shows within a second or two.
    Search search{process.dwProcessId};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    // The window counts once its path box shows a path: start-up, with its boxes, is over.
    const auto loaded = [&] { return search.main != nullptr && !WindowText(::GetDlgItem(search.main, kIdPath)).empty(); };
    while (!loaded() && std::chrono::steady_clock::now() < deadline &&
           ::WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
        ::EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
        if (!loaded()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    int status = 1;
    if (search.main != nullptr) {
        const std::wstring path = WindowText(::GetDlgItem(search.main, kIdPath));
        const std::wstring info = WindowText(::GetDlgItem(search.main, kIdInfo));
        Print(L"path: " + path);
        Print(L"summary: " + info.substr(0, info.find(L'\r')));
        if (path == argv[2]) status = 0;
        ::PostMessageW(search.main, WM_CLOSE, 0, 0);
    } else {
        Print(L"no player window appeared");
        ::TerminateProcess(process.hProcess, 1);
    }
    if (::WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        Print(L"the program did not end");
        ::TerminateProcess(process.hProcess, 1);
        status = 1;
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return status;
}
