#include "Wait.h"

#include <chrono>
#include <thread>

namespace {
std::function<void(int)> g_hook;
}

void WaitMs(int ms) {
    if (g_hook) {
        g_hook(ms);
        return;
    }
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SetWaitHook(std::function<void(int)> hook) { g_hook = std::move(hook); }
