#include "cli/StopSignals.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <chrono>
#include <iterator>
#include <thread>

#include "cli/Cli.h"

namespace tunlet::cli {

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<std::atomic<std::int32_t>*>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");
std::atomic<int> g_signal{0};

namespace {

std::atomic<std::atomic<std::int32_t>*> g_busy{nullptr};
// Stop requests between reading g_busy and their last use of what it points to.
std::atomic<int> g_stopsUnderway{0};

// Points stop requests at busy, or (null) at nothing. Once this returns with null, no
// stop request touches the old flag again: one that had read the pointer is over.
void AimStopRequests(std::atomic<std::int32_t>* busy) {
    g_busy.store(busy);
    if (busy != nullptr) return;
    while (g_stopsUnderway.load() != 0) std::this_thread::yield();
}

extern "C" void OnStopSignal(int sig) {
    g_stopsUnderway.fetch_add(1);
    g_signal.store(sig);
    if (std::atomic<std::int32_t>* busy = g_busy.load()) busy->store(0);
    g_stopsUnderway.fetch_sub(1);
}

}  // namespace

#ifdef _WIN32
namespace {

// Ctrl-Break's own signal (SIGBREAK); SIGINT and SIGTERM for raise() too.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGBREAK};
static_assert(std::size(kStopSignals) == kStopSignalCount);

// Console control events arrive here, on a thread of their own.
BOOL WINAPI OnConsoleControl(::DWORD event) { return OnConsoleEvent(event) ? TRUE : FALSE; }

// Set while no transfer runs: the command's outcome is written.
HANDLE EndedEvent() {
    static const HANDLE ended = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
    return ended;
}

}  // namespace

InterruptGuard::InterruptGuard(std::atomic<std::int32_t>& busy) {
    g_signal = 0;
    ::ResetEvent(EndedEvent());
    AimStopRequests(&busy);
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) old_[i] = std::signal(kStopSignals[i], OnStopSignal);
    // Registered for the program's life: Windows holds its list of handlers while
    // one runs, so taking this one off would wait for a closing console's handler,
    // which waits for this command to end. Outside a transfer it leaves Ctrl-C and
    // Ctrl-Break to Windows.
    static const bool registered = ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != FALSE;
    static_cast<void>(registered);
}

InterruptGuard::~InterruptGuard() {
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) std::signal(kStopSignals[i], old_[i]);
    AimStopRequests(nullptr);
    ::SetEvent(EndedEvent());
}
#else
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
static_assert(std::size(kStopSignals) == kStopSignalCount);

}  // namespace

InterruptGuard::InterruptGuard(std::atomic<std::int32_t>& busy) {
    g_signal = 0;
    AimStopRequests(&busy);
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &sa, &old_[i]);
}

InterruptGuard::~InterruptGuard() {
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &old_[i], nullptr);
    AimStopRequests(nullptr);
}
#endif

bool WaitOrInterrupted(std::int64_t ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
    while (!g_signal && Clock::now() < end) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(50)));
    }
    return !g_signal;
}

}  // namespace tunlet::cli

namespace tunlet {

#ifdef _WIN32
int ConsoleEventSignal(unsigned long event) {
    switch (event) {
        case CTRL_C_EVENT:
            return SIGINT;
        case CTRL_BREAK_EVENT:
            return SIGBREAK;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            return SIGTERM;
        default:
            return 0;
    }
}

bool OnConsoleEvent(unsigned long event) {
    const int sig = ConsoleEventSignal(event);
    if (sig == 0) return false;
    if (sig != SIGTERM) {
        // Outside a transfer Ctrl-C and Ctrl-Break end the program, as Windows does.
        if (cli::g_busy.load() == nullptr) return false;
        cli::OnStopSignal(sig);
        return true;
    }
    cli::OnStopSignal(sig);
    // Windows ends the process once this returns, with a code of its own (and after
    // 5 s at the latest). Wait for the transfer to wind down and the command to end,
    // then never return: the main thread's own exit ends the process with the
    // command's code, and ending it from here could cut the main thread off while it
    // holds a lock the exit needs.
    if (::WaitForSingleObject(cli::EndedEvent(), 4500) == WAIT_OBJECT_0) ::Sleep(INFINITE);
    return true;
}
#endif

}  // namespace tunlet
