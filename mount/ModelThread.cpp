#include "ModelThread.h"

#include "Dispatcher.h"

#include <chrono>
#include <exception>

// Every call the worker hands over wakes the model thread at once (no polling).
class TModelThread::TWakingDispatcher : public TPumpedDispatcher {
public:
    explicit TWakingDispatcher(TModelThread& owner) : owner_(owner) {}

protected:
    void Posted() override { owner_.Wake(); }

private:
    TModelThread& owner_;
};

struct TModelThread::TTask {
    const std::function<void()>* fn;
    std::exception_ptr error;
    bool done = false;
};

TModelThread::TModelThread() = default;

TModelThread::~TModelThread() { Stop(); }

void TModelThread::Wake() {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_ = true;
    wake_.notify_all();
}

void TModelThread::Start(std::function<void()> tick, int tickMs, std::function<void()> afterTasks) {
    thread_ = std::thread([this, tick = std::move(tick), tickMs, after = std::move(afterTasks)] {
        Run(tick, tickMs, after);
    });
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return started_; });
}

TPumpedDispatcher& TModelThread::Dispatcher() { return *dispatcher_; }

void TModelThread::Call(const std::function<void()>& fn) {
    if (OnThread()) {
        fn();
        return;
    }
    TTask task{&fn, nullptr, false};
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (stop_ || !started_) throw std::runtime_error("The mailbox is being unmounted.");
        tasks_.push_back(&task);
        wake_.notify_all();
        done_.wait(lock, [&] { return task.done; });
    }
    if (task.error) std::rethrow_exception(task.error);
}

void TModelThread::Run(std::function<void()> tick, int tickMs, std::function<void()> afterTasks) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dispatcher_ = std::make_unique<TWakingDispatcher>(*this);
        started_ = true;
    }
    done_.notify_all();
    auto nextTick = std::chrono::steady_clock::now() + std::chrono::milliseconds(tickMs);
    for (;;) {
        std::deque<TTask*> batch;
        bool stopping = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_until(lock, nextTick, [this] { return stop_ || posted_ || !tasks_.empty(); });
            posted_ = false;
            batch.swap(tasks_);
            stopping = stop_;
        }
        // The worker's calls first: an operation's end is applied before the tasks that
        // may be waiting for it look at the table.
        dispatcher_->ProcessMessages();
        for (TTask* t : batch) {
            try {
                (*t->fn)();
            } catch (...) {
                t->error = std::current_exception();
            }
        }
        if (afterTasks) afterTasks();
        if (!batch.empty()) {
            std::lock_guard<std::mutex> lock(mutex_);
            for (TTask* t : batch) t->done = true;
            done_.notify_all();
        }
        if (std::chrono::steady_clock::now() >= nextTick) {
            if (tick) tick();
            if (afterTasks) afterTasks();
            nextTick = std::chrono::steady_clock::now() + std::chrono::milliseconds(tickMs);
        }
        if (stopping) break;
    }
    // Calls handed over from now on fail at once; the dispatcher lives as long as this
    // object, so a worker still stopping never calls into freed memory.
    dispatcher_->Abandon();
}

void TModelThread::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!thread_.joinable()) return;
        stop_ = true;
        wake_.notify_all();
    }
    if (thread_.joinable() && !OnThread()) thread_.join();
}
