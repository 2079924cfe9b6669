#include "net/EventDelivery.h"

namespace pellora {

TQueuedDelivery::TQueuedDelivery() : Owner(std::this_thread::get_id()) {}

void TQueuedDelivery::Send(const std::function<void()>& call) {
    if (std::this_thread::get_id() == Owner) {
        call();
        return;
    }
    bool done = false;
    std::exception_ptr failure;
    std::unique_lock<std::mutex> lock(Lock);
    Queue.push_back(Item{call, &done, &failure});
    Changed.notify_all();
    Changed.wait(lock, [&] { return done; });
    lock.unlock();
    if (failure)
        std::rethrow_exception(failure);
}

void TQueuedDelivery::Post(std::function<void()> call) {
    const std::lock_guard<std::mutex> lock(Lock);
    Queue.push_back(Item{std::move(call), nullptr, nullptr});
    Changed.notify_all();
}

void TQueuedDelivery::ServePending() {
    for (;;) {
        Item item;
        {
            const std::lock_guard<std::mutex> lock(Lock);
            if (Queue.empty())
                return;
            item = std::move(Queue.front());
            Queue.pop_front();
        }
        std::exception_ptr failure;
        try {
            item.Call();
        } catch (...) {
            failure = std::current_exception();
        }
        if (item.Done != nullptr) {
            const std::lock_guard<std::mutex> lock(Lock);
            *item.Failure = failure;
            *item.Done = true;
            Changed.notify_all();
        }
    }
}

bool TQueuedDelivery::ServeUntil(const std::function<bool()>& done,
                                 std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        ServePending();
        if (done())
            return true;
        std::unique_lock<std::mutex> lock(Lock);
        if (!Changed.wait_until(lock, deadline, [&] { return !Queue.empty(); }))
            return false;
    }
}

} // namespace pellora
