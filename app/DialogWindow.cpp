#include "app/DialogWindow.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace tunlet {

void RunOnUiThreadAndWait(DialogWindow& window, std::function<void()> task) {
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    auto done = std::make_shared<Done>();
    window.Post([task = std::move(task), done] {
        task();
        std::lock_guard lock(done->mutex);
        done->done = true;
        done->cv.notify_all();
    });
    std::unique_lock lock(done->mutex);
    done->cv.wait(lock, [&] { return done->done; });
}

}  // namespace tunlet
