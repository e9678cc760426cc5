// The window's way into the model thread for the file system: a call posts a task and
// waits for it; a close wakes the waiters and the tasks still posted are skipped; the
// mount folder's names and the paths of entries in it. No kernel, no server.
#include "BoxMount.h"
#include "PostedCaller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {
// The owner's event loop: tasks wait here until the test runs them.
struct TQueue {
    std::mutex mutex;
    std::deque<std::function<void()>> tasks;
    void Post(std::function<void()> t) {
        std::lock_guard<std::mutex> lock(mutex);
        tasks.push_back(std::move(t));
    }
    bool RunOne() {
        std::function<void()> t;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (tasks.empty()) return false;
            t = std::move(tasks.front());
            tasks.pop_front();
        }
        t();
        return true;
    }
    void WaitForOne() {
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (!tasks.empty()) return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
};
} // namespace

TEST(PostedCaller, RunsOnTheOwnerWaitsForItAndEndsWaitersWhenClosed) {
    TQueue queue;
    TPostedCaller caller([&](std::function<void()> t) { queue.Post(std::move(t)); });
    const std::thread::id owner = std::this_thread::get_id();

    // On the owner itself: at once, nothing posted.
    bool ran = false;
    caller.Call([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_FALSE(queue.RunOne());

    // From another thread: on the owner, when its loop runs the task; the task's exception
    // reaches the caller.
    std::thread::id ranOn;
    std::atomic<int> state{0};
    std::thread other([&] {
        caller.Call([&] { ranOn = std::this_thread::get_id(); });
        try {
            caller.Call([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error& e) {
            state = std::string(e.what()) == "boom" ? 1 : 2;
        }
    });
    queue.WaitForOne();
    EXPECT_TRUE(queue.RunOne());
    queue.WaitForOne();
    EXPECT_TRUE(queue.RunOne());
    other.join();
    EXPECT_EQ(ranOn, owner);
    EXPECT_EQ(state.load(), 1);

    // A waiter whose task is still posted when the caller closes: it throws, and the task
    // that comes up later is skipped (its function lived on the waiter's stack).
    std::atomic<bool> threw{false};
    std::atomic<bool> calledLate{false};
    std::thread waiter([&] {
        try {
            caller.Call([&] { calledLate = true; });
        } catch (const std::runtime_error&) {
            threw = true;
        }
    });
    queue.WaitForOne();
    caller.Close();
    waiter.join();
    EXPECT_TRUE(threw);
    EXPECT_TRUE(queue.RunOne());
    EXPECT_FALSE(calledLate);
    // Closed: refused at once, nothing posted.
    std::thread late([&] { EXPECT_THROW(caller.Call([] {}), std::runtime_error); });
    late.join();
    EXPECT_FALSE(queue.RunOne());
}

TEST(BoxMount, MountFolderAndPathsInIt) {
    const std::string a = TBoxMount::MountPointFor("/home/u/.tavrel/", "/run/user/1000");
    EXPECT_TRUE(a.rfind("/run/user/1000/tavrel-", 0) == 0 && a.size() == 22 + 16 + 4) << a;
    EXPECT_EQ(a.substr(a.size() - 4), "/mnt");
    EXPECT_EQ(TBoxMount::MountPointFor("/home/u/.tavrel/", "/run/user/1000/"), a);
    EXPECT_NE(TBoxMount::MountPointFor("/home/v/.tavrel/", "/run/user/1000"), a);
    EXPECT_EQ(TBoxMount::MountPointFor("/home/u/.tavrel/", ""), "");
    EXPECT_EQ(TBoxMount::MountPointFor("/home/u/.tavrel/", "relative"), "");

    const struct {
        const char* mailboxPath;
        const char* inMount; // "" : not shown there
    } cases[] = {
        {"\\f.txt", "/m/f.txt"},
        {"\\d\\", "/m/d"},
        {"\\d\\e f\\g\xc3\xa9.bin", "/m/d/e f/g\xc3\xa9.bin"},
        {"\\a/b", ""},  // a "/" in a stored name
        {"\\..\\x", ""},
        {"\\", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TBoxMount::PathIn("/m", c.mailboxPath), c.inMount) << c.mailboxPath;

    const struct {
        const char* path;
        bool below;
    } below[] = {
        {"/m", true},       {"/m/", true},    {"/m/x/y", true}, {"/m/x/../../m/z", true},
        {"/mx", false},     {"/m/../n", false}, {"/n/m", false}, {"", false},
    };
    for (const auto& b : below) EXPECT_EQ(TBoxMount::Below("/m", b.path), b.below) << b.path;
    EXPECT_FALSE(TBoxMount::Below("", "/m"));
}
