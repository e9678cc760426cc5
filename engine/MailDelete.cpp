// Deleting the stored mails of a file or of a folder and everything below it.
#include "MailThread.h"

#include "MailFolders.h"
#include "StoredMail.h"
#include "TextUtil.h"

#include <algorithm>

bool TMailThread::DeleteMails(const std::string& pathArg, bool ownMailOnly) {
    std::string path = pathArg;
    if (TrimSubject(path).empty()) path = CurrentOp.Path + CurrentOp.Name;
    std::string pattern = DeletePattern(path);
    if (ownMailOnly && !path.empty() && path.back() == '\\') pattern += "|";
    std::vector<bool> ok;
    return DeleteMatching({pattern}, ok) && ok[0];
}

bool TMailThread::DeleteMatching(const std::vector<std::string>& patterns, std::vector<bool>& ok) {
    if (!DeleteWhere(
            [&](const std::string& subject, std::vector<size_t>& groups) {
                for (size_t i = 0; i < patterns.size(); ++i)
                    if (SubjectMatchesPattern(subject, patterns[i])) groups.push_back(i);
            },
            patterns.size(), ok))
        return false;
    // A mail of the pattern stored a moment ago that the scan did not find may still be on
    // its way into the inbox: deleted now, it would come back when it arrives.
    const uint64_t now = TickMs();
    for (const auto& [subject, at] : RecentSends) {
        if (now - at > kDeliveryWaitMs || LastScanMatched.count(LowerAscii(TrimSubject(subject))))
            continue;
        for (size_t i = 0; i < patterns.size(); ++i) {
            if (!ok[i] || !SubjectMatchesPattern(subject, patterns[i])) continue;
            ok[i] = false;
            LastError = "Mails stored a moment ago have not reached the inbox yet, so they could "
                        "not be deleted with the rest; try again in a minute.";
        }
    }
    return true;
}

bool TMailThread::DeleteExact(const std::vector<std::string>& subjects,
                              const std::vector<std::string>& keep) {
    // Folded trimmed subject -> whether its newest mail is the one to keep.
    std::unordered_map<std::string, bool> wanted;
    for (const auto& s : subjects) wanted.emplace(LowerAscii(TrimSubject(s)), false);
    for (const auto& s : keep) {
        auto it = wanted.find(LowerAscii(TrimSubject(s)));
        if (it != wanted.end()) it->second = true;
    }
    if (wanted.empty()) return true;
    std::vector<bool> ok;
    const bool scanned = DeleteWhere(
        [&](const std::string& subject, std::vector<size_t>& groups) {
            auto it = wanted.find(LowerAscii(TrimSubject(subject)));
            if (it == wanted.end()) return;
            // The scan runs newest first: the newest mail of a kept subject is the new
            // version's own, sent after the old one.
            if (it->second) {
                it->second = false;
                groups.push_back(kKeptMail);
                return;
            }
            groups.push_back(0);
        },
        1, ok);
    return scanned && ok[0];
}

bool TMailThread::DeleteWhere(
    const std::function<void(const std::string&, std::vector<size_t>&)>& match, size_t groups,
    std::vector<bool>& ok) {
    CountBytes = false;
    ok.assign(groups, true);
    LastScanMatched.clear();
    TClosing guard{ReaderClosing()}; // for POP3 the QUIT makes the deletions final
    if (!ConnectReader()) return false;
    SetStatus("Locate mail should be deleted...");
    // The size's listing names the UIDs the scan starts with, in the same round trip.
    int64_t size = 0;
    if (UseImap && !Imap4.SelectMailboxAndSize("INBOX", size)) return false;
    const int n = ReaderCount();
    Maximum = n;

    // The matching mails, highest number first, with the patterns each one matches.
    struct TMatch {
        int number;
        std::vector<size_t> patterns;
        std::string folded; // its subject, trimmed and case folded
    };
    std::vector<TMatch> matches;
    std::string unreadable; // a header whose fetch raised an error: the scan ends there
    bool stopped = false;
    std::vector<std::pair<int, std::string>> matchedFromCache;
    ScanHeaders(n, true, [&](int a, const THeader& h) {
        Position = n - a + 1;
        ReportScanProgress(a == n);
        if (h.State == THeader::srError) {
            unreadable = h.Error;
            stopped = true;
            return false;
        }
        if (h.State != THeader::srRead) return true; // never delete an unread header
        TMatch m{a, {}, {}};
        match(h.Subject, m.patterns);
        if (m.patterns.empty()) return true;
        m.folded = LowerAscii(TrimSubject(h.Subject));
        LastScanMatched.insert(m.folded);
        if (ScanCached[static_cast<size_t>(a)]) matchedFromCache.emplace_back(a, h.Subject);
        m.patterns.erase(std::remove(m.patterns.begin(), m.patterns.end(), kKeptMail),
                         m.patterns.end());
        if (!m.patterns.empty()) matches.push_back(std::move(m));
        return true;
    });
    // A mail is deleted on what the server says its subject is. A subject from the cache
    // that does not hold fails the attempt before anything is deleted; the cache is gone
    // then, and the next attempt reads every subject from the server.
    if (!stopped && !CachedSubjectsHold(matchedFromCache))
        throw EIdException("A mail of the inbox is not the one its id named before.");

    // The matching mails are deleted together: DELE pipelined (POP3), one STORE for up to
    // kStoreChunk numbers (IMAP4), each mail with its own outcome.
    std::vector<bool> deleted(matches.size(), false);
    constexpr size_t kStoreChunk = 500;
    if (!matches.empty()) SetStatus("Delete...");
    for (size_t start = 0; start < matches.size(); start += kStoreChunk) {
        const size_t end = std::min(matches.size(), start + kStoreChunk);
        std::vector<int> numbers;
        for (size_t k = start; k < end; ++k) numbers.push_back(matches[k].number);
        if (!UseImap) {
            std::vector<bool> r = Pop3.DeleteMessages(numbers);
            for (size_t k = start; k < end; ++k) deleted[k] = r[k - start];
        } else if (Imap4.DeleteMessages(numbers)) {
            for (size_t k = start; k < end; ++k) deleted[k] = true;
        } else {
            for (size_t k = start; k < end; ++k) deleted[k] = Imap4.DeleteMessages({matches[k].number});
        }
    }
    // Flagged mails are removed for good, so they do not come back at the next refresh.
    const bool any = std::find(deleted.begin(), deleted.end(), true) != deleted.end();
    if (UseImap && any && !Imap4.ExpungeMailbox()) deleted.assign(deleted.size(), false);
    // POP3 removes marked mails only when the server takes QUIT: until its answer came,
    // nothing is deleted.
    if (!UseImap && any && !stopped) {
        try {
            Pop3.Disconnect();
        } catch (const TStopped&) {
            throw;
        } catch (const std::exception& e) {
            LastError = e.what();
            deleted.assign(deleted.size(), false);
        }
    }
    for (size_t k = 0; k < matches.size(); ++k)
        for (size_t i : matches[k].patterns) ok[i] = ok[i] && deleted[k];
    // What is gone is no longer waited for by a later delete.
    std::unordered_set<std::string> gone;
    for (size_t k = 0; k < matches.size(); ++k)
        if (deleted[k]) gone.insert(matches[k].folded);
    if (!gone.empty())
        RecentSends.erase(std::remove_if(RecentSends.begin(), RecentSends.end(),
                                         [&](const auto& r) {
                                             return gone.count(LowerAscii(TrimSubject(r.first))) > 0;
                                         }),
                          RecentSends.end());
    Position = n;
    ReportScanProgress(true);
    if (stopped) throw EIdException(unreadable); // as the header's own fetch did: the attempt fails
    return true;
}

void TMailThread::FinishIfFirst(const TExOp& op) {
    if (MailboxAlive()) {
        const TExOpList& ops = Mailbox->Ops;
        if (ops.Count() == 0) return;
        if (ops.Get(0) != op) return; // the queue changed meanwhile; picked again later
    }
    FinishOp();
}

void TMailThread::DeleteBatch() {
    const std::vector<TExOp>& run = DeleteRun; // left alone until the next pick
    std::vector<std::string> patterns;
    for (const TExOp& op : run) patterns.push_back(DeletePattern(op.Path + op.Name));
    std::vector<bool> ok;
    bool scanned = false;
    const bool attempted = !Cancelled && !Terminated();
    if (attempted) {
        try {
            scanned = DeleteMatching(patterns, ok);
        } catch (const TStopped&) {
            throw;
        } catch (const std::exception& e) {
            LastError = e.what(); // as a single delete's first attempt would record it
        } catch (...) {
        }
    }
    if (!scanned) {
        // This was the first attempt of the first delete; the others stay queued as they
        // are and are picked again after it.
        Success = false;
        if (attempted) {
            WaitMs(config_.RetryDelayUnitMs);
            Attempts([this] { return DeleteMails(""); }, {}, 2);
        }
        Sync([this] { FinishOp(); });
        return;
    }
    // Each delete ends on its own, in queue order, with its own outcome; one whose mails were
    // not all deleted goes on with its further attempts first.
    for (size_t i = 0; i < run.size(); ++i) {
        CurrentOp = run[i];
        Success = ok[i];
        LastError.clear(); // the error shown is this delete's own
        if (!Success) {
            if (Terminated() && i > 0) return; // the rest stays queued
            Cancelled = false;
            WaitMs(config_.RetryDelayUnitMs);
            Attempts([this] { return DeleteMails(""); }, {}, 2);
        }
        Sync([this, &run, i] { FinishIfFirst(run[i]); });
    }
}
