#pragma once
// The trials of one operation over one route. A fault-free run comes first: it must hold
// like any trial, and its traffic on the route places the faults of the trials after it.
// It always uses the same seed, so the faults do not depend on which trials run. Each
// trial draws from its own seed the files' bytes, the fault and the answer to a login
// question, so any one can be run again alone.
#include "FaultTrial.h"

class TTrialSeries {
public:
    TTrialSeries(EngineTest& t, TTrialOp op, TTrialRoute route) : trial_(t, op, route), route_(route) {}

    // The fault-free run. Afterwards Applies() tells whether the route carried anything.
    static constexpr uint32_t kCalibrationSeed = 1;
    TTrialResult Calibrate();
    bool Applies() const { return !traffic_.empty(); }
    // "connection 1: 171 bytes to the server, 2310 to the client; ..." of the fault-free run.
    std::string DescribeTraffic() const;
    TTrialResult Trial(uint32_t seed);

private:
    TFaultTrial trial_;
    TTrialRoute route_;
    std::vector<TConnectionTraffic> traffic_;
};
