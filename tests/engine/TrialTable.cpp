#include "TrialTable.h"

#include <cstdio>

namespace {
std::string FaultClass(const TTrialResult& r) {
    if (r.plan.route < 0) return "no fault";
    if (!r.fired) return "fault did not happen";
    return std::string(FaultKindName(r.plan.kind)) +
           (r.plan.direction == TFaultDirection::ToServer ? " to the server" : " to the client");
}

std::string Cell(const std::string& s, int width) {
    std::string out = s;
    if (static_cast<int>(out.size()) < width) out.append(static_cast<size_t>(width) - out.size(), ' ');
    return out;
}
} // namespace

void TTrialTable::Add(const TTrialResult& r) {
    TRow& row = rows_[{r.op, r.route}];
    ++row.trials;
    ++row.outcomes[r.outcome];
    if (r.extraMails > 0) ++row.duplicates;
    if (r.plan.route >= 0 && !r.fired) ++row.unhit;
    auto note = [&](const std::string& what) {
        TGroup& g = groups_[{r.op, r.route, what, FaultClass(r)}];
        if (g.count++ == 0) g.example = r.Describe();
    };
    if (r.outcome != TTrialOutcome::Ok && r.outcome != TTrialOutcome::FailedCleanly)
        note(OutcomeName(r.outcome));
    if (r.extraMails > 0) note("duplicates");
}

void TTrialTable::NotApplicable(TTrialOp op, TTrialRoute route) { notApplicable_.push_back({op, route}); }

std::string TTrialTable::Print() const {
    const TTrialOutcome order[] = {TTrialOutcome::Ok, TTrialOutcome::FailedCleanly,
                                   TTrialOutcome::FailedWithoutReason, TTrialOutcome::WrongSuccess,
                                   TTrialOutcome::Lost};
    std::string out = Cell("operation", 17) + Cell("protocol", 9) + Cell("trials", 7);
    for (TTrialOutcome o : order) out += Cell(OutcomeName(o), static_cast<int>(std::string(OutcomeName(o)).size()) + 2);
    out += "duplicates  unhit\n";
    for (const auto& [key, row] : rows_) {
        out += Cell(OpName(key.first), 17) + Cell(RouteName(key.second), 9) + Cell(std::to_string(row.trials), 7);
        for (TTrialOutcome o : order) {
            auto f = row.outcomes.find(o);
            out += Cell(std::to_string(f == row.outcomes.end() ? 0 : f->second),
                        static_cast<int>(std::string(OutcomeName(o)).size()) + 2);
        }
        out += Cell(std::to_string(row.duplicates), 12) + std::to_string(row.unhit) + "\n";
    }
    for (const auto& [op, route] : notApplicable_)
        out += std::string("(") + OpName(op) + " makes no " + RouteName(route) + " connection: no row)\n";
    if (!groups_.empty()) out += "\nFaults seen (count, then one trial that shows it):\n";
    for (const auto& [key, g] : groups_) {
        const auto& [op, route, what, fault] = key;
        out += std::string("  ") + OpName(op) + " / " + RouteName(route) + " / " + what + " / " + fault +
               ": " + std::to_string(g.count) + "\n      " + g.example + "\n";
    }
    return out;
}
