#pragma once
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "ModelCaller.h"

// A model caller over a thread that runs posted tasks from its own loop (the window's
// event loop): Call posts the task and waits for it. Made on the owning thread; calls from
// that thread run at once. Close refuses every call from then on and wakes the waiting
// ones (they throw): a task still posted is then skipped when it comes up, so whoever
// stops the file system never waits for a thread that waits for it.
class TPostedCaller : public IModelCaller {
public:
    using TPost = std::function<void(std::function<void()>)>;
    explicit TPostedCaller(TPost post);
    ~TPostedCaller() override; // Close()

    void Call(const std::function<void()>& fn) override;
    void Close();

private:
    struct TShared;
    TPost post_;
    std::thread::id owner_;
    std::shared_ptr<TShared> shared_;
};
