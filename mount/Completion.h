#pragma once
#include <condition_variable>
#include <mutex>
#include <string>

// The end of something the model thread started for a waiting request (a download, an
// upload, a refresh): fulfilled once on the model thread, waited for on another.
class TCompletion {
public:
    void Finish(bool ok, const std::string& error = {});
    // Waits for the end; true when it succeeded, `error` then or else holds the reason.
    bool Wait(std::string* error = nullptr);
    // Waits up to `ms`; true when it has ended.
    bool WaitFor(int ms);
    bool Done();

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    bool ok_ = false;
    std::string error_;
};
