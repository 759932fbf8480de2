// The one upload worker: a thread that tells the UI thread exactly when its
// procedure has returned.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace tunlet {

class WorkerThread {
public:
    // Starts a thread; throws std::system_error as std::thread does.
    using Launcher = std::function<std::thread(std::function<void()>)>;

    WorkerThread() = default;
    ~WorkerThread() { Join(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts proc; false when no thread could be made.
    bool Start(std::function<void()> proc, const Launcher& launch);
    // A thread was started and its procedure has not yet returned.
    bool Running() const { return thread_.joinable() && !ended_.load(); }
    bool Started() const { return thread_.joinable(); }
    // Waits for the thread to exit (at once when its procedure has returned).
    void Join();

private:
    std::thread thread_;
    std::atomic<bool> ended_{false};
};

}  // namespace tunlet
