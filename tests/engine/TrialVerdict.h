#pragma once
// Judging one trial from what was seen. The rule: EITHER the operation reported success and
// the server holds exactly the expected files byte for byte (read back afresh, without
// faults) and the table shown after the operation lists them, OR it reported failure with a
// reason and every file stored before can still be fetched with its old bytes. A file the
// operation was asked to change may, after a failure, be found as before or as asked: the
// replaced file with its old or its new bytes, the deleted file with its old bytes or gone
// (a delete reported as done must leave nothing of it).
// Part mails beyond what the files found on the server need are counted apart.
#include "TrialTypes.h"

#include <map>
#include <string>

struct TShownFile {
    uint32_t size = 0, hash = 0;
    bool operator==(const TShownFile&) const = default;
};
using TShownTable = std::map<std::string, TShownFile>;    // the file entries of a table
using TFileBytes = std::map<std::string, std::string>;    // path -> bytes

struct TTrialSeen {
    bool success = false;
    std::string reason;
    TShownTable tableAfter;  // the trial mailbox's table once the operation ended
    TFileBytes cacheAfter;   // the downloaded files in its cache
    bool readBack = false;   // the fault-free refresh of the check worked
    TShownTable listed;      // what that refresh listed
    TFileBytes fetched;      // what could be downloaded then, checked by the worker
    int partMails = 0;       // file part mails in the Maildir
};

class TTrialVerdict {
public:
    TTrialVerdict(TTrialOp op, const TFileBytes& before, const std::string& target,
                  const std::string& newBytes);
    // Sets outcome, extraMails and what.
    void Judge(const TTrialSeen& seen, TTrialResult& result) const;
    // What the server holds after a success.
    const TFileBytes& Expected() const { return expected_; }

private:
    std::string LostFiles(const TTrialSeen& seen) const;
    std::string Mismatches(const TTrialSeen& seen) const;

    TTrialOp op_;
    const TFileBytes& before_;
    std::string target_, newBytes_;
    TFileBytes expected_;
};
