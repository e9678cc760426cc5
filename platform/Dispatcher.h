#pragma once
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

// The window's thread owns the model; the worker changes it only through calls that it
// hands to that thread and waits for (a synchronous call). The window implements this with
// its event loop; the command line front end and tests with a pumped queue.
class IDispatcher {
public:
    virtual ~IDispatcher() = default;
    // Runs `fn` on the window's thread and returns when it has run there. An exception
    // thrown by `fn` is thrown again here. Called on the window's thread it runs at once.
    virtual void Sync(const std::function<void()>& fn) = 0;
    // On the window's thread: runs the calls that are waiting (a wait that keeps
    // processing messages calls this).
    virtual void ProcessMessages() = 0;
};

// A queue of handed-over calls that the owning thread runs when it pumps. While a question
// of the model or the worker is open (OpenQuestions() > 0) pumping runs nothing: the calls
// wait until it is answered. After Abandon() (the worker was given up at shutdown) every
// further Sync throws at once.
class TPumpedDispatcher : public IDispatcher {
public:
    TPumpedDispatcher() : owner_(std::this_thread::get_id()) {}
    ~TPumpedDispatcher() override;

    void Sync(const std::function<void()>& fn) override;
    void ProcessMessages() override;

    // Pumps until `done` holds or `timeoutMs` passes (a negative time-out waits for ever);
    // returns `done()`.
    bool PumpUntil(const std::function<bool()>& done, int timeoutMs);
    // Pumps for the given time.
    void PumpFor(int ms);
    void Abandon();
    // Calls are waiting to be run.
    bool HasWaiting();

protected:
    // Called on the calling thread each time a call is queued (the window posts itself an
    // event that pumps).
    virtual void Posted() {}

private:
    struct Call {
        const std::function<void()>* fn;
        std::exception_ptr error;
        bool done = false;
    };
    bool RunOne(std::unique_lock<std::mutex>& lock);

    std::thread::id owner_;
    std::mutex mutex_;
    std::condition_variable posted_, finished_;
    std::deque<Call*> queue_;
    bool abandoned_ = false;
};
