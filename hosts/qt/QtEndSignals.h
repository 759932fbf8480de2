// The signals that end the window from outside: SIGTERM (kill, a shutdown), SIGHUP
// (the terminal or the session went away) and SIGINT (Ctrl-C in the terminal that
// started it). The handler only writes the signal's number into a pipe; the UI
// thread reads it there and is told, so that a transfer is stopped as Stop stops it
// and the board left idle before the program ends. One at a time; the handlers that
// were there come back when it goes.
#pragma once

#include <csignal>
#include <functional>
#include <iterator>
#include <memory>

class QSocketNotifier;

namespace tunlet {

class QtEndSignals {
public:
    // ended runs on the UI thread with the signal, for each one that comes.
    explicit QtEndSignals(std::function<void(int)> ended);
    ~QtEndSignals();
    QtEndSignals(const QtEndSignals&) = delete;
    QtEndSignals& operator=(const QtEndSignals&) = delete;

    // The first signal that came (0: none).
    int Caught() const { return caught_; }

private:
    static constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
    int pipe_[2] = {-1, -1};  // read end, write end
    struct sigaction old_[std::size(kSignals)] = {};
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void(int)> ended_;
    int caught_ = 0;
};

}  // namespace tunlet
