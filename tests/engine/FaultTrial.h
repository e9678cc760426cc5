#pragma once
// One trial of one operation against the real local servers. The mailbox is set up with
// the files of TTrialFiles (written into the Maildir, its table filled as a refresh would
// have left it), the operation runs through a TFaultRelay in front of POP3, IMAP4 and SMTP
// with at most one planned fault, and then a worker of its own reads the server back
// without faults: a refresh and a download of every file listed. TTrialVerdict judges what
// was seen.
//
// The worker waits 1 ms units between attempts and times out reads after kReadTimeoutMs,
// so a stall costs little. A login question (shown when a connection fails before or
// during its login) is answered No, or Cancel when the trial says so.
#include "EngineFixture.h"
#include "FaultRelay.h"
#include "TrialFiles.h"
#include "TrialTypes.h"
#include "TrialVerdict.h"

class TFaultTrial {
public:
    static constexpr int kReadTimeoutMs = 1500;
    static constexpr int kConnectTimeoutMs = 1000;
    // Longest wait for an operation (all its attempts) to end.
    static constexpr int kOperationTimeoutMs = 90000;

    TFaultTrial(EngineTest& t, TTrialOp op, TTrialRoute route) : t_(t), op_(op), route_(route) {}

    TTrialResult Run(uint32_t seed, const TFaultPlan& plan, bool cancelLogin);
    // Per connection, what the fault's route carried in the last run.
    const std::vector<TConnectionTraffic>& Traffic() const { return traffic_; }

private:
    void Perform(TMailFolder& box, const TTrialFiles& files);
    // The fault-free look at the server; false when its refresh failed.
    bool ReadBack(TTrialSeen& seen);
    std::string TargetPath() const;

    EngineTest& t_;
    TTrialOp op_;
    TTrialRoute route_;
    std::vector<TConnectionTraffic> traffic_;
};
