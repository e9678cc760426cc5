#pragma once
// The outcome table of many trials: one row per operation and protocol with the count of
// each outcome, the trials that left extra part mails, and those whose fault never
// happened; then every kind of bad ending seen, grouped by operation, protocol, outcome and
// fault, with one trial that shows it.
#include "TrialTypes.h"

#include <map>
#include <string>
#include <tuple>
#include <vector>

class TTrialTable {
public:
    void Add(const TTrialResult& r);
    // The route carries nothing for this operation: no row, a note.
    void NotApplicable(TTrialOp op, TTrialRoute route);
    std::string Print() const;

private:
    struct TRow {
        int trials = 0, duplicates = 0, unhit = 0;
        std::map<TTrialOutcome, int> outcomes;
    };
    struct TGroup {
        int count = 0;
        std::string example;
    };
    using TKey = std::pair<TTrialOp, TTrialRoute>;
    std::map<TKey, TRow> rows_;
    std::vector<TKey> notApplicable_;
    // op, route, outcome (or "extra part mails"), fault kind and direction
    std::map<std::tuple<TTrialOp, TTrialRoute, std::string, std::string>, TGroup> groups_;
};
