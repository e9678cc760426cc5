#include "TrialSeries.h"

#include "TrialPlan.h"

TTrialResult TTrialSeries::Calibrate() {
    TTrialResult r = trial_.Run(kCalibrationSeed, TFaultPlan{}, false);
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

std::string TTrialSeries::DescribeTraffic() const {
    std::string s;
    for (size_t i = 0; i < traffic_.size(); ++i)
        s += (i ? "; connection " : "connection ") + std::to_string(i + 1) + ": " +
             std::to_string(traffic_[i].toServer) + " bytes to the server, " +
             std::to_string(traffic_[i].toClient) + " to the client";
    return s;
}
