#include "FaultTrial.h"

#include "IdPOP3.h"

#include <filesystem>

namespace {
// The server numbers mails put straight into the Maildir only when a session next looks at
// it, after any mail delivered meanwhile (the operation's own). One session now makes the
// order the order of arrival, as it is on a real server.
bool IndexNow(const TestServers& s) {
    try {
        TIdPOP3 p;
        p.Host = s.host;
        p.Port = static_cast<uint16_t>(s.pop3Port);
        p.Username = s.acc1.user;
        p.Password = s.acc1.pass;
        p.Connect();
        p.CountMessages();
        p.Disconnect();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
} // namespace

namespace {
// The file entries of a table with their sizes and checksums.
TShownTable FilesOf(TMailFolder& box) {
    TShownTable out;
    for (int i = 0; i < box.Files.Count(); ++i) {
        const TExFile& e = box.Files.Items(i);
        if (!e.IsFolder && !e.Path.empty() && e.Path.back() != '\\') out[e.Path] = {e.Size, e.Hash};
    }
    return out;
}

void ResetRecords(EngineTest& t, bool cancelLogin) {
    t.waits_.clear();
    t.status_.clear();
    t.progress_.clear();
    t.done_.clear();
    t.prompt_.answers.clear();
    t.prompt_.entries.clear();
    t.prompt_.shown.clear();
    t.prompt_.defaultAnswer = cancelLogin ? id::Cancel : id::No;
}
} // namespace

std::string TFaultTrial::TargetPath() const {
    return op_ == TTrialOp::Upload ? TTrialFiles::kNewFile : TTrialFiles::kTarget;
}

void TFaultTrial::Perform(TMailFolder& box, const TTrialFiles& files) {
    const std::string folder = TTrialFiles::kFolder;
    switch (op_) {
    case TTrialOp::Upload:
        box.AddLocal(folder, t_.MakeLocal("n.bin", files.NewBytes()), true);
        break;
    case TTrialOp::Replace:
        t_.prompt_.answers.push_back(id::Yes); // "Would you like to replace the existing file?"
        box.AddLocal(folder, t_.MakeLocal("a.bin", files.NewBytes()), true);
        break;
    case TTrialOp::DownloadFile:
        box.DownloadItem(folder, "a.bin", -1);
        break;
    case TTrialOp::DownloadFolder:
        box.DownloadItem("\\", "d\\", -1);
        break;
    case TTrialOp::Refresh:
        box.QueueRefresh();
        break;
    case TTrialOp::Delete:
        box.DeleteItem(folder, "a.bin", true);
        break;
    }
}

TTrialResult TFaultTrial::Run(uint32_t seed, const TFaultPlan& plan, bool cancelLogin) {
    TTrialResult r;
    r.op = op_;
    r.route = route_;
    r.seed = seed;
    r.plan = plan;
    r.cancelLogin = cancelLogin;
    const TestServers& s = *t_.servers_;
    t_.Stop();
    TTrialFiles files(seed);
    std::vector<std::string> subjects;
    // Mails of the trial before must not land in this one.
    if (!WaitForDeliveries(s, 30000)) {
        r.outcome = TTrialOutcome::Lost;
        r.what = "the mails of the trial before were still not delivered";
        return r;
    }
    ClearMailbox(s.maildir1);
    if (!files.Deliver(s.maildir1, s.acc1.address, subjects) || !IndexNow(s)) {
        r.outcome = TTrialOutcome::Lost;
        r.what = "the mailbox could not be set up";
        return r;
    }

    TFaultRelay relay(seed);
    // In the order of TTrialRoute.
    const uint16_t pop3 = relay.AddRoute(s.host, static_cast<uint16_t>(s.pop3Port));
    const uint16_t imap = relay.AddRoute(s.host, static_cast<uint16_t>(s.imapPort));
    const uint16_t smtp = relay.AddRoute(s.host, static_cast<uint16_t>(s.smtpPort));
    relay.SetPlan(plan);
    t_.config_.ImapPort = imap;
    t_.config_.ReadTimeoutMs = kReadTimeoutMs;
    t_.config_.ConnectTimeoutMs = kConnectTimeoutMs;
    t_.config_.RetryDelayUnitMs = 1;
    ResetRecords(t_, cancelLogin);

    TMailFolders& f = t_.Start();
    TMailFolder& box = t_.AddBox("Trial", {.imap = route_ == TTrialRoute::Imap4,
                                           .maxAttach = TTrialFiles::kMaxAttach});
    box.PopPort = pop3;
    box.SmtpPort = smtp;
    if (op_ != TTrialOp::Refresh) {
        for (const std::string& subject : subjects) box.Files.AddSubject(subject);
        box.Opened = true;
        f.CurrentFolder = &box;
    }
    std::vector<std::pair<bool, std::string>> finished; // success, error of each operation
    f.OnOperationFinished = [&](TMailFolder*, const TExOp&, bool ok) {
        finished.emplace_back(ok, f.OperationError);
    };
    Perform(box, files);
    const bool idle = t_.RunUntilIdle(kOperationTimeoutMs);

    TTrialSeen seen;
    seen.success = idle && !finished.empty();
    for (const auto& [ok, error] : finished) {
        if (!ok && seen.success) seen.reason = error;
        seen.success = seen.success && ok;
    }
    if (op_ == TTrialOp::Refresh) seen.success = seen.success && box.Opened;
    seen.tableAfter = FilesOf(box);
    for (const auto& [path, bytes] : files.Before()) {
        const std::string cache = box.CachePathOf(path);
        if (!cache.empty() && std::filesystem::is_regular_file(cache))
            seen.cacheAfter[path] = EngineTest::ReadFile(cache);
    }
    f.OnOperationFinished = nullptr;
    r.failedAttempts = static_cast<int>(t_.waits_.size());
    t_.Stop();
    r.fired = relay.Fired();
    traffic_ = relay.Traffic(static_cast<int>(route_));
    relay.Stop();

    seen.readBack = ReadBack(seen);
    TTrialVerdict verdict(op_, files.Before(), TargetPath(), files.NewBytes());
    verdict.Judge(seen, r);
    if (!idle) r.what = "the operation did not end within " + std::to_string(kOperationTimeoutMs / 1000) +
                        " s" + (r.what.empty() ? "" : "; " + r.what);
    return r;
}

bool TFaultTrial::ReadBack(TTrialSeen& seen) {
    const TestServers& s = *t_.servers_;
    if (!WaitForDeliveries(s, 30000)) return false;
    seen.partMails = TTrialFiles::CountPartMails(s.maildir1);
    t_.config_.ImapPort = static_cast<uint16_t>(s.imapPort);
    ResetRecords(t_, false);
    TMailFolders& f = t_.Start();
    TMailFolder& box = t_.AddBox("Check", {.maxAttach = TTrialFiles::kMaxAttach});
    std::map<std::string, bool> downloaded;
    f.OnOperationFinished = [&](TMailFolder*, const TExOp& op, bool ok) {
        if (op.Kind == opDownload) downloaded[op.Path + op.Name] = ok;
    };
    box.QueueRefresh();
    bool ok = t_.RunUntilIdle(kOperationTimeoutMs) && box.Opened;
    if (ok) {
        seen.listed = FilesOf(box);
        box.DownloadItem("\\", "", -1);
        ok = t_.RunUntilIdle(kOperationTimeoutMs);
        for (const auto& [path, shown] : seen.listed)
            if (downloaded[path]) seen.fetched[path] = EngineTest::ReadFile(box.CachePathOf(path));
    }
    f.OnOperationFinished = nullptr;
    t_.Stop();
    return ok;
}
