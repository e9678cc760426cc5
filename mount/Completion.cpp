#include "Completion.h"

#include <chrono>

void TCompletion::Finish(bool ok, const std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (done_) return;
    done_ = true;
    ok_ = ok;
    error_ = error;
    cv_.notify_all();
}

bool TCompletion::Wait(std::string* error) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return done_; });
    if (error) *error = error_;
    return ok_;
}

bool TCompletion::WaitFor(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done_; });
}

bool TCompletion::Done() {
    std::lock_guard<std::mutex> lock(mutex_);
    return done_;
}
