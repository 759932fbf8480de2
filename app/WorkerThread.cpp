#include "app/WorkerThread.h"

#include <system_error>

namespace tunlet {

bool WorkerThread::Start(std::function<void()> proc, const Launcher& launch) {
    Join();
    ended_ = false;
    auto body = [this, proc = std::move(proc)] {
        proc();
        ended_.store(true);  // the procedure's last effects are visible to whoever sees this
    };
    try {
        thread_ = launch ? launch(std::move(body)) : std::thread(std::move(body));
    } catch (const std::system_error&) {
        return false;
    }
    return thread_.joinable();
}

void WorkerThread::Join() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace tunlet
