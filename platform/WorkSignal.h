#pragma once
#include <cstdint>

// Wakes the worker when there may be work for it. Whoever queues an operation calls
// NotifyWork; the worker, having found every queue empty, sleeps in WaitForWork until the
// next notice (or a fallback tick), so an idle program costs next to no processor time.
//
// Generations make the hand-over race-free: the worker reads WorkGeneration() before it
// looks at the queues and waits only while the generation is still the one it read.
uint64_t WorkGeneration();
void NotifyWork();
// True when a notice came after generation `seen`; false when `ms` passed without one.
bool WaitForWork(uint64_t seen, int ms);
