#pragma once
// The trials of one operation over one route. A fault-free run comes first: it must hold
// like any trial, and its traffic on the route places the faults of the trials after it.
// Each trial draws from its own seed the files' bytes, the fault and the answer to a login
// question, so any one can be run again alone.
#include "FaultTrial.h"

class TTrialSeries {
public:
    TTrialSeries(EngineTest& t, TTrialOp op, TTrialRoute route) : trial_(t, op, route), route_(route) {}

    // The fault-free run. Afterwards Applies() tells whether the route carried anything.
    TTrialResult Calibrate(uint32_t seed);
    bool Applies() const { return !traffic_.empty(); }
    TTrialResult Trial(uint32_t seed);

private:
    TFaultTrial trial_;
    TTrialRoute route_;
    std::vector<TConnectionTraffic> traffic_;
};
