#include "PostedCaller.h"

#include <exception>
#include <stdexcept>

struct TPostedCaller::TShared {
    std::mutex mutex;
    std::condition_variable cv;
    bool closed = false;
};

namespace {
// One call: the waiter's `fn` is used only while the waiter still waits for it.
struct TTask {
    const std::function<void()>* fn = nullptr;
    std::exception_ptr error;
    bool running = false;
    bool done = false;
    bool abandoned = false;
};
} // namespace

TPostedCaller::TPostedCaller(TPost post)
    : post_(std::move(post)), owner_(std::this_thread::get_id()),
      shared_(std::make_shared<TShared>()) {}

TPostedCaller::~TPostedCaller() { Close(); }

void TPostedCaller::Close() {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->closed = true;
    shared_->cv.notify_all();
}

void TPostedCaller::Call(const std::function<void()>& fn) {
    if (std::this_thread::get_id() == owner_) {
        fn();
        return;
    }
    auto task = std::make_shared<TTask>();
    task->fn = &fn;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if (shared_->closed) throw std::runtime_error("The mailbox is being unmounted.");
    }
    post_([shared = shared_, task] {
        {
            std::lock_guard<std::mutex> lock(shared->mutex);
            if (task->abandoned) return;
            task->running = true;
        }
        // A task that has begun is waited for even after a Close (a nested event loop of
        // it may run one): its captures live on the waiter's stack.
        try {
            (*task->fn)();
        } catch (...) {
            task->error = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(shared->mutex);
        task->done = true;
        shared->cv.notify_all();
    });
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->cv.wait(lock, [&] { return task->done || (shared_->closed && !task->running); });
    if (!task->done) {
        task->abandoned = true;
        throw std::runtime_error("The mailbox is being unmounted.");
    }
    lock.unlock();
    if (task->error) std::rethrow_exception(task->error);
}
