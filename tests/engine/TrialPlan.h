#pragma once
// Drawing a trial's fault from its seed, within the traffic a fault-free run of the same
// operation carried on the route: one of its connections, a direction that carried bytes,
// a byte count short of what went that way, one of the fault kinds.
//
// A stall lasts either well below or well above the worker's read time-out, so that both a
// late answer and a time-out are tried, and neither depends on a few milliseconds.
// Garbage goes toward the client only on the writer route: bytes inserted into a mail's
// data on its way to the server are stored as they arrive, and no client can tell.
#include "FaultRelay.h"

#include <random>
#include <vector>

class TTrialPlan {
public:
    explicit TTrialPlan(int readTimeoutMs) : readTimeoutMs_(readTimeoutMs) {}
    // Route -1 when the route carried nothing.
    TFaultPlan Pick(int route, bool writer, const std::vector<TConnectionTraffic>& traffic,
                    std::mt19937& rng) const;

private:
    int readTimeoutMs_;
};
