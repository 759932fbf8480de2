// Ctrl-C, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break and closing the console)
// ask the running upload to stop, as Stop does: the block in flight completes, the
// closing walk leaves the TAP in Run-Test/Idle, and the exit status is 128 plus the
// signal.
#pragma once

#include <atomic>
#include <csignal>
#include <cstddef>
#include <cstdint>

namespace tunlet::cli {

// The stop signal that came during the command, 0 for none.
extern std::atomic<int> g_signal;

// Ctrl-C, SIGTERM and SIGHUP; on Windows Ctrl-Break's SIGBREAK instead of SIGHUP.
inline constexpr std::size_t kStopSignalCount = 3;

// While it lives, stop signals ask the upload whose busy flag it holds to stop.
class InterruptGuard {
public:
    explicit InterruptGuard(std::atomic<std::int32_t>& busy);
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
#ifdef _WIN32
    void (*old_[kStopSignalCount])(int) = {};
#else
    struct sigaction old_[kStopSignalCount] {};
#endif
};

// Waits ms milliseconds; false when a stop signal came first. Between tracks the TAP is idle.
bool WaitOrInterrupted(std::int64_t ms);

}  // namespace tunlet::cli
