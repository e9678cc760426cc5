// Seeded fault trials against the real local servers: each operation over each route it
// uses, one broken connection a trial. FaultTrial.h tells how a trial runs, TrialVerdict.h
// the rule it must keep.
//
// TAVREL_FAULT_TRIALS=N sets the trials per operation and route (five by default);
// bench/fault_trials.sh runs the long table of FaultTrialTable with it. Trial i uses seed
// TAVREL_FAULT_SEED + i (1000 by default), so one trial is run again alone by
//     TAVREL_FAULT_SEED=<its seed - 1> TAVREL_FAULT_TRIALS=1 TAVREL_FAULT_VERBOSE=1
//         engine_fault_trials --gtest_filter='*<op>_over_<protocol>'
// TAVREL_FAULT_VERBOSE=1 prints every trial, and the traffic of the fault-free run.
#include "TrialSeries.h"
#include "TrialTable.h"

#include <cctype>
#include <cstdlib>
#include <iostream>

namespace {
constexpr uint32_t kSeed = 1000;

bool Verbose() { return std::getenv("TAVREL_FAULT_VERBOSE") != nullptr; }

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
    const TTrialResult clean = series.Calibrate();
    EXPECT_TRUE(clean.Holds()) << clean.Describe();
    ASSERT_TRUE(series.Applies()) << "the operation made no connection on this route";
    if (Verbose()) std::cerr << "fault-free run: " << series.DescribeTraffic() << "\n";
    const uint32_t n = EnvNumber("TAVREL_FAULT_TRIALS", 5);
    const uint32_t base = EnvNumber("TAVREL_FAULT_SEED", kSeed);
    for (uint32_t i = 1; i <= n; ++i) {
        const TTrialResult r = series.Trial(base + i);
        if (Verbose()) std::cerr << r.Describe() << "\n";
        EXPECT_TRUE(r.Holds()) << r.Describe();
    }
}

using TR = TTrialRoute;
using TO = TTrialOp;
// Every operation over every route it uses. The long run (bench/fault_trials.sh) makes many
// more trials than these few fixed seeds.
INSTANTIATE_TEST_SUITE_P(EveryOperation, FaultTrials,
                         ::testing::Values(TCase{TO::Upload, TR::Smtp}, TCase{TO::Replace, TR::Smtp},
                                           TCase{TO::Replace, TR::Pop3}, TCase{TO::Replace, TR::Imap4},
                                           TCase{TO::DownloadFile, TR::Pop3}, TCase{TO::DownloadFile, TR::Imap4},
                                           TCase{TO::DownloadFolder, TR::Pop3},
                                           TCase{TO::DownloadFolder, TR::Imap4},
                                           TCase{TO::Refresh, TR::Pop3}, TCase{TO::Refresh, TR::Imap4},
                                           TCase{TO::Delete, TR::Pop3}, TCase{TO::Delete, TR::Imap4}),
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
            const TTrialResult clean = series.Calibrate();
            if (!series.Applies()) {
                table.NotApplicable(op, route);
                continue;
            }
            if (!clean.Holds()) std::cerr << "the fault-free run did not hold: " << clean.Describe() << "\n";
            if (Verbose()) std::cerr << "fault-free run: " << series.DescribeTraffic() << "\n";
            for (uint32_t i = 1; i <= n; ++i) {
                const TTrialResult r = series.Trial(base + i);
                if (Verbose()) std::cerr << r.Describe() << "\n";
                table.Add(r);
            }
            std::cerr << OpName(op) << " over " << RouteName(route) << ": " << n << " trials done\n";
        }
    }
    std::cout << "\n" << table.Print() << std::flush;
}

// The server refuses the mailbox's own address for good (5xx at RCPT: a recipient outside
// its domain). Trying again cannot change that: the upload ends after its one attempt, says
// the server's reason, and leaves nothing on the server.
TEST_F(EngineTest, APermanentSmtpRefusalEndsTheUploadAtOnce) {
    TFaultRelay relay(1);
    const uint16_t smtp = relay.AddRoute(servers_->host, static_cast<uint16_t>(servers_->smtpPort));
    TMailFolder& box = AddBox("Work");
    box.Address = "user1@elsewhere.example"; // logs in as user1, mails to an outside address
    box.SmtpPort = smtp;
    bool ok = true;
    std::string reason;
    folders_->OnOperationFinished = [&](TMailFolder*, const TExOp&, bool success) {
        ok = success;
        reason = folders_->OperationError;
    };
    box.AddLocal("\\", MakeLocal("f.bin", Random(100, 3)), true);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_FALSE(ok);
    EXPECT_NE(reason.find("Relay access denied"), std::string::npos) << reason;
    EXPECT_EQ(relay.Connections(0), 1);
    EXPECT_TRUE(WaitForDeliveries(*servers_, 30000));
    EXPECT_EQ(CountMails(servers_->maildir1), 0);
    folders_->OnOperationFinished = nullptr;
}

// A POP3 session makes its deletions final only when the server takes its QUIT. A delete
// whose QUIT never reaches the server, or reaches it garbled, has deleted nothing: it must
// not be reported as done with the mails still there.
TEST_F(EngineTest, APop3DeleteIsDoneOnlyWhenItsQuitIsTaken) {
    TFaultTrial trial(*this, TTrialOp::Delete, TTrialRoute::Pop3);
    ASSERT_TRUE(trial.Run(1, TFaultPlan{}, false).Holds());
    ASSERT_EQ(trial.Traffic().size(), 1u);
    const uint64_t sent = trial.Traffic()[0].toServer; // the session ends with "QUIT\r\n"
    ASSERT_GT(sent, 6u);
    const struct {
        const char* name;
        TFaultKind kind;
        uint64_t after;
    } cases[] = {
        {"closed where the QUIT starts", TFaultKind::Close, sent - 6},
        {"garbage inside the QUIT", TFaultKind::Garbage, sent - 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TTrialResult r = trial.Run(2, {.route = static_cast<int>(TTrialRoute::Pop3), .connection = 1,
                                             .direction = TFaultDirection::ToServer, .afterBytes = c.after,
                                             .kind = c.kind, .garbageBytes = 7},
                                         false);
        EXPECT_TRUE(r.fired);
        EXPECT_TRUE(r.Holds()) << r.Describe();
    }
}
