// While a Tunlet program runs on Windows it holds a named mutex, the mark by which the
// setup program and the uninstaller tell that Tunlet's files are in use. The name is
// kept here alone: scripts/build-windows hands it to the setup script.
#pragma once

#ifdef _WIN32
#include <windows.h>

namespace tunlet::res {

inline constexpr wchar_t kRunningMutex[] = L"Local\\Tunlet.Running";

// Holds the mark for its life; the system drops it when the process ends in any way.
class RunningMark {
public:
    RunningMark() : handle_(::CreateMutexW(nullptr, FALSE, kRunningMutex)) {}
    ~RunningMark() {
        if (handle_) ::CloseHandle(handle_);
    }
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;

private:
    HANDLE handle_;
};

}  // namespace tunlet::res
#endif
