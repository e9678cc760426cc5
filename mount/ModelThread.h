#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "ModelCaller.h"

class TPumpedDispatcher;

// The one thread that owns the model (the collection, its mailboxes and the worker's
// dispatcher), as the window's thread does in the window. The file system's threads hand
// it short tasks and wait for them (Call); the worker's synchronous calls are run between
// them. Tasks never wait for the network: a task that needs an operation's end leaves a
// completion that the operation's end fulfils, and the caller waits for that outside.
class TModelThread : public IModelCaller {
public:
    TModelThread();
    ~TModelThread() override; // Stop()
    TModelThread(const TModelThread&) = delete;
    TModelThread& operator=(const TModelThread&) = delete;

    // Starts the thread; its dispatcher is made on it. `tick` runs on it about every
    // `tickMs`, `afterTasks` after every round of tasks and worker calls.
    void Start(std::function<void()> tick, int tickMs, std::function<void()> afterTasks);
    // Runs `fn` on the thread and returns when it has run (its exception is thrown again).
    // On the thread itself it runs at once.
    void Call(const std::function<void()>& fn) override;
    // The dispatcher the worker calls through (valid once Start returned).
    TPumpedDispatcher& Dispatcher();
    bool OnThread() const { return std::this_thread::get_id() == thread_.get_id(); }
    // Ends the loop after the tasks waiting now, and joins the thread.
    void Stop();

private:
    class TWakingDispatcher;
    struct TTask;
    void Run(std::function<void()> tick, int tickMs, std::function<void()> afterTasks);
    void Wake();

    std::thread thread_;
    std::unique_ptr<TWakingDispatcher> dispatcher_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<TTask*> tasks_;
    bool posted_ = false; // the worker handed over a call
    bool stop_ = false;
    bool started_ = false;
};
