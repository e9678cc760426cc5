#include "TrialSeries.h"

#include "TrialPlan.h"

TTrialResult TTrialSeries::Calibrate(uint32_t seed) {
    TTrialResult r = trial_.Run(seed, TFaultPlan{}, false);
    traffic_ = trial_.Traffic();
    return r;
}

TTrialResult TTrialSeries::Trial(uint32_t seed) {
    std::mt19937 rng(seed * 2654435761u + 1);
    const bool cancelLogin = rng() % 2 == 0;
    const TFaultPlan plan = TTrialPlan(TFaultTrial::kReadTimeoutMs)
                                .Pick(static_cast<int>(route_), route_ == TTrialRoute::Smtp, traffic_, rng);
    return trial_.Run(seed, plan, cancelLogin);
}
