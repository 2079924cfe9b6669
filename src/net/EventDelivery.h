#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace pellora {

// Hands calls to the thread that owns the delivery: the HTTP component's events reach that
// thread when it is used from another one.
class TEventDelivery {
public:
    virtual ~TEventDelivery() = default;
    // Runs the call on the owning thread and returns when it has run; on the owning thread
    // itself it runs the call at once. An exception of the call comes back to the caller.
    virtual void Send(const std::function<void()>& call) = 0;
    // Queues the call for the owning thread and returns at once.
    virtual void Post(std::function<void()> call) = 0;
};

// Delivery to the thread that created it, which runs the queued calls when it calls
// ServePending or ServeUntil.
class TQueuedDelivery : public TEventDelivery {
public:
    TQueuedDelivery();
    void Send(const std::function<void()>& call) override;
    void Post(std::function<void()> call) override;
    // Runs the calls queued so far.
    void ServePending();
    // Runs calls as they come until done() holds after one of them (true) or the time is up
    // (false). done() is asked before waiting and after every call, so whatever makes it
    // true must come as a call (a thread that finishes posts one).
    bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

private:
    struct Item {
        std::function<void()> Call;
        bool* Done = nullptr;
        std::exception_ptr* Failure = nullptr;
    };
    std::thread::id Owner;
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<Item> Queue;
};

} // namespace pellora
