#include "TrialPlan.h"

TFaultPlan TTrialPlan::Pick(int route, bool writer, const std::vector<TConnectionTraffic>& traffic,
                            std::mt19937& rng) const {
    TFaultPlan plan;
    std::vector<size_t> used; // connections that carried bytes
    for (size_t i = 0; i < traffic.size(); ++i)
        if (traffic[i].toServer + traffic[i].toClient > 0) used.push_back(i);
    if (used.empty()) return plan;
    const size_t c = used[rng() % used.size()];
    const TConnectionTraffic& t = traffic[c];
    plan.route = route;
    plan.connection = static_cast<int>(c) + 1;
    plan.kind = static_cast<TFaultKind>(rng() % 5);
    bool toServer = rng() % 2 == 0;
    if (plan.kind == TFaultKind::Garbage && writer) toServer = false;
    if ((toServer ? t.toServer : t.toClient) == 0) toServer = !toServer;
    if (plan.kind == TFaultKind::Garbage && writer && toServer) plan.kind = TFaultKind::Close;
    plan.direction = toServer ? TFaultDirection::ToServer : TFaultDirection::ToClient;
    const uint64_t carried = toServer ? t.toServer : t.toClient;
    plan.afterBytes = static_cast<uint64_t>(rng()) % carried;
    const int spread = readTimeoutMs_ / 4 + 1;
    plan.stallMs = rng() % 2 == 0 ? readTimeoutMs_ / 4 + static_cast<int>(rng() % spread)
                                  : readTimeoutMs_ + readTimeoutMs_ / 4 + static_cast<int>(rng() % spread);
    plan.garbageBytes = 1 + static_cast<int>(rng() % 24);
    return plan;
}
