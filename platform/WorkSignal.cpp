#include "WorkSignal.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {
std::mutex g_mutex;
std::condition_variable g_changed;
uint64_t g_generation = 0;
} // namespace

uint64_t WorkGeneration() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_generation;
}

void NotifyWork() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_generation;
    }
    g_changed.notify_all();
}

bool WaitForWork(uint64_t seen, int ms) {
    std::unique_lock<std::mutex> lock(g_mutex);
    return g_changed.wait_for(lock, std::chrono::milliseconds(ms),
                              [&] { return g_generation != seen; });
}
