#pragma once
#include <functional>

// Waits of the model and the worker (retry delays, the checksum's pause after a failed
// open, the shutdown wait). Tests install a hook so those waits take no time.
void WaitMs(int ms);
// Installs a replacement for WaitMs; an empty function restores real sleeping.
void SetWaitHook(std::function<void(int)> hook);
