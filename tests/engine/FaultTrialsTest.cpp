// Seeded fault trials against the real local servers: each operation over each route it
// uses, one broken connection a trial. FaultTrial.h tells how a trial runs, TrialVerdict.h
// the rule it must keep.
//
// TAVREL_FAULT_TRIALS=N sets the trials per operation and route (a few by default);
// bench/fault_trials.sh runs the long table of FaultTrialTable with it.
#include "TrialSeries.h"
#include "TrialTable.h"

#include <cstdlib>
#include <iostream>

namespace {
constexpr uint32_t kSeed = 1000;

uint32_t EnvNumber(const char* name, uint32_t fallback) {
    const char* v = std::getenv(name);
    if (!v || !*v) return fallback;
    char* end = nullptr;
    const unsigned long n = std::strtoul(v, &end, 10);
    return end && *end == '\0' && n > 0 ? static_cast<uint32_t>(n) : fallback;
}

struct TCase {
    TTrialOp op;
    TTrialRoute route;
};

std::string CaseName(const ::testing::TestParamInfo<TCase>& info) {
    std::string s = std::string(OpName(info.param.op)) + "_over_" + RouteName(info.param.route);
    for (auto& c : s)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return s;
}
} // namespace

class FaultTrials : public EngineTest, public ::testing::WithParamInterface<TCase> {};

TEST_P(FaultTrials, StoredFilesOutliveOneBrokenConnection) {
    TTrialSeries series(*this, GetParam().op, GetParam().route);
    const TTrialResult clean = series.Calibrate(kSeed);
    EXPECT_TRUE(clean.Holds()) << clean.Describe();
    ASSERT_TRUE(series.Applies()) << "the operation made no connection on this route";
    const uint32_t n = EnvNumber("TAVREL_FAULT_TRIALS", 3);
    for (uint32_t i = 1; i <= n; ++i) {
        const TTrialResult r = series.Trial(kSeed + i);
        EXPECT_TRUE(r.Holds()) << r.Describe();
    }
}

using TR = TTrialRoute;
using TO = TTrialOp;
INSTANTIATE_TEST_SUITE_P(Holding, FaultTrials,
                         ::testing::Values(TCase{TO::DownloadFile, TR::Pop3}, TCase{TO::DownloadFile, TR::Imap4},
                                           TCase{TO::DownloadFolder, TR::Pop3},
                                           TCase{TO::DownloadFolder, TR::Imap4},
                                           TCase{TO::Delete, TR::Pop3}, TCase{TO::Delete, TR::Imap4}),
                         CaseName);
// These fail on the current code, through faults that are being mended.
INSTANTIATE_TEST_SUITE_P(DISABLED_KnownFaults, FaultTrials,
                         ::testing::Values(TCase{TO::Upload, TR::Smtp}, TCase{TO::Replace, TR::Smtp},
                                           TCase{TO::Replace, TR::Pop3}, TCase{TO::Replace, TR::Imap4},
                                           TCase{TO::Refresh, TR::Pop3}, TCase{TO::Refresh, TR::Imap4}),
                         CaseName);

// The long run: every operation over every route, the outcome table printed. Skipped unless
// TAVREL_FAULT_TRIALS is set; TAVREL_FAULT_SEED moves the seeds.
class FaultTrialTable : public EngineTest {};

TEST_F(FaultTrialTable, EveryOperationOverEveryRoute) {
    if (!std::getenv("TAVREL_FAULT_TRIALS")) GTEST_SKIP() << "set TAVREL_FAULT_TRIALS=N (bench/fault_trials.sh)";
    const uint32_t n = EnvNumber("TAVREL_FAULT_TRIALS", 3);
    const uint32_t base = EnvNumber("TAVREL_FAULT_SEED", kSeed);
    TTrialTable table;
    for (TO op : {TO::Upload, TO::Replace, TO::DownloadFile, TO::DownloadFolder, TO::Refresh, TO::Delete}) {
        for (TR route : {TR::Pop3, TR::Imap4, TR::Smtp}) {
            TTrialSeries series(*this, op, route);
            const TTrialResult clean = series.Calibrate(base);
            if (!series.Applies()) {
                table.NotApplicable(op, route);
                continue;
            }
            if (!clean.Holds()) std::cerr << "the fault-free run did not hold: " << clean.Describe() << "\n";
            for (uint32_t i = 1; i <= n; ++i) table.Add(series.Trial(base + i));
            std::cerr << OpName(op) << " over " << RouteName(route) << ": " << n << " trials done\n";
        }
    }
    std::cout << "\n" << table.Print() << std::flush;
}
