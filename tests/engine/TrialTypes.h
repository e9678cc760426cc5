#pragma once
// The words of the fault trials: which operation, which route carries the fault, how a
// trial ended, and the record of one trial.
#include "FaultRelay.h"

#include <cstdint>
#include <string>

enum class TTrialOp { Upload, Replace, DownloadFile, DownloadFolder, Refresh, Delete };
// The route that carries the fault; also the order of the relay's routes. The reader of a
// mailbox is POP3 unless the fault is on the IMAP4 route.
enum class TTrialRoute { Pop3, Imap4, Smtp };
enum class TTrialOutcome {
    Ok,                  // reported success, and the server holds what it should
    FailedCleanly,       // reported failure with a reason, nothing stored before is lost
    FailedWithoutReason, // as above, but no reason was given
    WrongSuccess,        // reported success, but the server or the table is not as it should be
    Lost,                // a file stored before can no longer be fetched with its bytes
};

inline const char* OpName(TTrialOp op) {
    switch (op) {
    case TTrialOp::Upload: return "upload new file";
    case TTrialOp::Replace: return "replace file";
    case TTrialOp::DownloadFile: return "download file";
    case TTrialOp::DownloadFolder: return "download folder";
    case TTrialOp::Refresh: return "refresh";
    case TTrialOp::Delete: return "delete file";
    }
    return "?";
}

inline const char* RouteName(TTrialRoute r) {
    switch (r) {
    case TTrialRoute::Pop3: return "POP3";
    case TTrialRoute::Imap4: return "IMAP4";
    case TTrialRoute::Smtp: return "SMTP";
    }
    return "?";
}

inline const char* OutcomeName(TTrialOutcome o) {
    switch (o) {
    case TTrialOutcome::Ok: return "ok";
    case TTrialOutcome::FailedCleanly: return "failed-cleanly";
    case TTrialOutcome::FailedWithoutReason: return "failed-no-reason";
    case TTrialOutcome::WrongSuccess: return "wrong-success";
    case TTrialOutcome::Lost: return "lost";
    }
    return "?";
}

struct TTrialResult {
    TTrialOp op = TTrialOp::Upload;
    TTrialRoute route = TTrialRoute::Pop3;
    uint32_t seed = 0;
    TFaultPlan plan;
    bool fired = false;          // the planned fault happened
    bool cancelLogin = false;    // a login question was answered Cancel (else No)
    bool reportedSuccess = false;
    std::string reason;          // the error of the first operation that failed
    int failedAttempts = 0;      // waits between attempts, over all operations of the trial
    TTrialOutcome outcome = TTrialOutcome::Ok;
    int extraMails = 0;          // part mails on the server beyond what the files there need
    std::string what;            // what was wrong; empty when nothing was

    // Extra part mails count against it too, except the old version's mails that stay when
    // the user cancels the login question of a replace's clean-up (the new version is
    // stored and shown; the old one's mails go with the next delete of the path, or its next
    // replace after a refresh).
    bool Holds() const {
        const bool extraAllowed = cancelLogin && op == TTrialOp::Replace && outcome == TTrialOutcome::Ok;
        return (extraMails == 0 || extraAllowed) &&
               (outcome == TTrialOutcome::Ok || outcome == TTrialOutcome::FailedCleanly);
    }
    // One line for reports: operation, protocol, seed, fault, outcome and what went wrong.
    std::string Describe() const {
        std::string s = std::string(OpName(op)) + " / " + RouteName(route) + " / seed " +
                        std::to_string(seed) + " / " + plan.Describe() +
                        (fired ? "" : " (did not happen)") +
                        (cancelLogin ? " / login question: Cancel" : "") + " -> reported " +
                        (reportedSuccess ? "success" : "failure") + ", " + OutcomeName(outcome);
        if (extraMails > 0) s += ", " + std::to_string(extraMails) + " extra part mails";
        if (!reason.empty()) s += "; reason: " + reason;
        if (failedAttempts > 0) s += "; failed attempts: " + std::to_string(failedAttempts);
        if (!what.empty()) s += "; " + what;
        return s;
    }
};
