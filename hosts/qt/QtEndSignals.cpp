#include "hosts/qt/QtEndSignals.h"

#include <QSocketNotifier>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iterator>
#include <thread>

namespace tunlet {

namespace {

static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only touch lock-free atomics");
std::atomic<int> g_endPipe{-1};  // the write end, while a QtEndSignals is there
// Handlers between reading g_endPipe and their write to it.
std::atomic<int> g_underway{0};

extern "C" void OnEndSignal(int sig) {
    const int saved = errno;
    g_underway.fetch_add(1);
    const int fd = g_endPipe.load();
    const auto byte = static_cast<unsigned char>(sig);
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    g_underway.fetch_sub(1);
    errno = saved;
}

}  // namespace

QtEndSignals::QtEndSignals(std::function<void(int)> ended) : ended_(std::move(ended)) {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;  // no pipe: the signals keep their default
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        unsigned char byte = 0;
        while (::read(pipe_[0], &byte, 1) == 1) {
            if (caught_ == 0) caught_ = byte;
            if (ended_) ended_(byte);
        }
    });
    g_endPipe.store(pipe_[1]);
    struct sigaction sa {};
    sa.sa_handler = OnEndSignal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &sa, &old_[i]);
}

QtEndSignals::~QtEndSignals() {
    if (pipe_[0] < 0) return;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &old_[i], nullptr);
    g_endPipe.store(-1);
    // A handler on another thread that read the pipe finishes its one write first.
    while (g_underway.load() != 0) std::this_thread::yield();
    notifier_.reset();
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

}  // namespace tunlet
