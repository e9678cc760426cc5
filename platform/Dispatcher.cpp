#include "Dispatcher.h"

#include "Prompt.h"

#include <chrono>
#include <stdexcept>

TPumpedDispatcher::~TPumpedDispatcher() { Abandon(); }

void TPumpedDispatcher::Sync(const std::function<void()>& fn) {
    if (std::this_thread::get_id() == owner_) {
        fn();
        return;
    }
    Call call{&fn, nullptr, false};
    std::unique_lock<std::mutex> lock(mutex_);
    if (abandoned_) throw std::runtime_error("The program is shutting down.");
    queue_.push_back(&call);
    posted_.notify_all();
    Posted();
    finished_.wait(lock, [&] { return call.done; });
    if (call.error) std::rethrow_exception(call.error);
}

bool TPumpedDispatcher::RunOne(std::unique_lock<std::mutex>& lock) {
    if (queue_.empty()) return false;
    Call* call = queue_.front();
    queue_.pop_front();
    lock.unlock();
    try {
        (*call->fn)();
    } catch (...) {
        call->error = std::current_exception();
    }
    lock.lock();
    call->done = true;
    finished_.notify_all();
    return true;
}

void TPumpedDispatcher::ProcessMessages() {
    if (OpenQuestions() > 0) return; // held until the question is answered
    std::unique_lock<std::mutex> lock(mutex_);
    while (RunOne(lock)) {
    }
}

bool TPumpedDispatcher::PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        ProcessMessages();
        if (done()) return true;
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return false;
        std::unique_lock<std::mutex> lock(mutex_);
        posted_.wait_for(lock, std::chrono::milliseconds(2), [&] { return !queue_.empty(); });
    }
}

bool TPumpedDispatcher::HasWaiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !queue_.empty();
}

void TPumpedDispatcher::PumpFor(int ms) {
    PumpUntil([] { return false; }, ms);
}

void TPumpedDispatcher::Abandon() {
    std::unique_lock<std::mutex> lock(mutex_);
    abandoned_ = true;
    // Calls already waiting are answered with an error instead of being run.
    for (Call* c : queue_) {
        c->error = std::make_exception_ptr(std::runtime_error("The program is shutting down."));
        c->done = true;
    }
    queue_.clear();
    finished_.notify_all();
}
