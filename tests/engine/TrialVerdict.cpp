#include "TrialVerdict.h"

#include "FileUtil.h"
#include "TrialFiles.h"

namespace {
TShownFile ShownOf(const std::string& bytes) {
    return {static_cast<uint32_t>(bytes.size()), ChecksumUpdate(0, bytes.data(), bytes.size())};
}

// "a, b" of the differences between a table and the files it should show.
std::string TableDifferences(const TShownTable& table, const TFileBytes& files) {
    std::string out;
    auto add = [&](const std::string& s) { out += (out.empty() ? "" : ", ") + s; };
    for (const auto& [path, bytes] : files) {
        auto f = table.find(path);
        if (f == table.end())
            add(path + " missing");
        else if (!(f->second == ShownOf(bytes)))
            add(path + " shown with size " + std::to_string(f->second.size) + " instead of " +
                std::to_string(bytes.size()));
    }
    for (const auto& [path, shown] : table)
        if (!files.count(path)) add(path + " shown but not expected");
    return out;
}
} // namespace

TTrialVerdict::TTrialVerdict(TTrialOp op, const TFileBytes& before, const std::string& target,
                             const std::string& newBytes)
    : op_(op), before_(before), target_(target), newBytes_(newBytes), expected_(before) {
    if (op == TTrialOp::Upload || op == TTrialOp::Replace) expected_[target] = newBytes;
    if (op == TTrialOp::Delete) expected_.erase(target);
}

std::string TTrialVerdict::LostFiles(const TTrialSeen& seen) const {
    std::string out;
    for (const auto& [path, bytes] : before_) {
        auto f = seen.fetched.find(path);
        const bool fetched = f != seen.fetched.end();
        bool kept = fetched && f->second == bytes;
        if (path == target_ && op_ == TTrialOp::Replace) kept = kept || (fetched && f->second == newBytes_);
        // A delete reported as done that left some of the file is a wrong success, not a loss.
        if (path == target_ && op_ == TTrialOp::Delete) kept = kept || seen.success || !seen.listed.count(path);
        if (kept) continue;
        out += (out.empty() ? "lost " : ", ") + path;
        if (!seen.listed.count(path))
            out += " (not listed)";
        else if (!fetched)
            out += " (listed, but its download failed)";
        else
            out += " (other bytes)";
    }
    return out;
}

std::string TTrialVerdict::Mismatches(const TTrialSeen& seen) const {
    std::string out;
    auto add = [&](const std::string& s) {
        if (!s.empty()) out += (out.empty() ? "" : "; ") + s;
    };
    const std::string server = TableDifferences(seen.listed, expected_);
    if (!server.empty()) add("server: " + server);
    for (const auto& [path, bytes] : expected_) {
        auto f = seen.fetched.find(path);
        if (seen.listed.count(path) && (f == seen.fetched.end() || f->second != bytes))
            add("server: " + path + " does not download as stored");
    }
    const std::string table = TableDifferences(seen.tableAfter, expected_);
    if (!table.empty()) add("table after the operation: " + table);
    if (op_ == TTrialOp::DownloadFile || op_ == TTrialOp::DownloadFolder) {
        for (const auto& [path, bytes] : before_) {
            const bool asked = op_ == TTrialOp::DownloadFile ? path == target_
                                                             : path.rfind(TTrialFiles::kFolder, 0) == 0;
            if (!asked) continue;
            auto c = seen.cacheAfter.find(path);
            if (c == seen.cacheAfter.end())
                add("download: " + path + " not in the cache");
            else if (c->second != bytes)
                add("download: " + path + " has other bytes in the cache");
        }
    }
    return out;
}

void TTrialVerdict::Judge(const TTrialSeen& seen, TTrialResult& r) const {
    r.reportedSuccess = seen.success;
    r.reason = seen.reason;
    // Part mails the files found on the server need; the rest are left over.
    int needed = 0;
    for (const auto& [path, bytes] : seen.fetched) needed += static_cast<int>(TTrialFiles::MailsFor(bytes.size()));
    r.extraMails = seen.partMails > needed ? seen.partMails - needed : 0;
    if (!seen.readBack) {
        r.outcome = TTrialOutcome::Lost;
        r.what = "the mailbox could not be read back";
        return;
    }
    const std::string lost = LostFiles(seen);
    if (!lost.empty()) {
        r.outcome = TTrialOutcome::Lost;
        r.what = lost;
        return;
    }
    if (seen.success) {
        r.what = Mismatches(seen);
        r.outcome = r.what.empty() ? TTrialOutcome::Ok : TTrialOutcome::WrongSuccess;
        return;
    }
    r.outcome = seen.reason.empty() ? TTrialOutcome::FailedWithoutReason : TTrialOutcome::FailedCleanly;
}
