#include "MailThread.h"

#include "AppDir.h"
#include "MailFolders.h"
#include "Prompt.h"
#include "TextUtil.h"
#include "WorkSignal.h"

#include <chrono>

namespace {
// One value for the whole process: at most one byte-progress report per 100 ms.
std::atomic<uint64_t> g_lastReportTick{0};
} // namespace

// What the collection holds: it asks the thread to stop, waits, and at the end lets it go.
// The thread keeps its own reference to the worker, so a thread that is given up can end
// later without touching freed memory.
class TMailThreadHandle : public IMailWorker {
public:
    TMailThreadHandle(std::shared_ptr<TMailThread> worker) : worker_(std::move(worker)) {
        thread_ = std::thread([w = worker_] {
            w->Execute();
            w->ended_ = true;
        });
    }
    ~TMailThreadHandle() override {
        if (!thread_.joinable()) return;
        if (worker_->ended_) {
            thread_.join();
        } else {
            ForceEnd();
        }
    }
    void RequestStop() override {
        worker_->stop_ = true;
        NotifyWork(); // ends its idle wait
    }
    bool WaitFor(int ms) override {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!worker_->ended_ && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (worker_->ended_ && thread_.joinable()) thread_.join();
        return worker_->ended_;
    }
    void ForceEnd() override {
        worker_->stop_ = true;
        worker_->abandoned_ = true;
        NotifyWork();
        if (thread_.joinable()) thread_.detach();
    }

private:
    std::shared_ptr<TMailThread> worker_;
    std::thread thread_;
};

TMailThread::TMailThread(TMailFolders& owner, IDispatcher& dispatcher, TEngineConfig config)
    : Owner(owner), dispatcher_(dispatcher), config_(std::move(config)),
      SubjectCaches(AppDir() + kSubjectCacheFile) {
    auto work = [this](TIdTCPConnection&, TWorkMode, int64_t count) { WorkHandler(count); };
    Pop3.OnWork = work;
    Smtp.OnWork = work;
    Imap4.OnWorkForPart = work;
    for (TIdSSLIOHandlerSocketOpenSSL* tls : {&PopTls, &SmtpTls, &ImapTls}) {
        tls->SSLOptions.VerifyPeer = config_.VerifyPeer;
        tls->SSLOptions.RootCertFile = config_.CaFile;
    }
    for (TIdTCPConnection* c : {static_cast<TIdTCPConnection*>(&Pop3),
                                static_cast<TIdTCPConnection*>(&Smtp),
                                static_cast<TIdTCPConnection*>(&Imap4)}) {
        c->ConnectTimeout = config_.ConnectTimeoutMs;
        c->ReadTimeout = config_.ReadTimeoutMs;
    }
}

TMailThread::~TMailThread() = default;

std::unique_ptr<IMailWorker> TMailThread::Start(TMailFolders& owner, IDispatcher& dispatcher,
                                                TEngineConfig config) {
    return std::make_unique<TMailThreadHandle>(
        std::make_shared<TMailThread>(owner, dispatcher, std::move(config)));
}

TWorkerFactory TMailThread::Factory(IDispatcher& dispatcher, TEngineConfig config) {
    return [&dispatcher, config](TMailFolders& owner) { return Start(owner, dispatcher, config); };
}

void TMailThread::Sync(const std::function<void()>& fn) {
    if (abandoned_) throw TStopped{};
    dispatcher_.Sync([&] {
        if (abandoned_) throw TStopped{};
        fn();
    });
}

void TMailThread::WaitMs(int ms) {
    if (config_.OnRetryWait) config_.OnRetryWait(ms);
    auto start = std::chrono::steady_clock::now();
    while (!Terminated() &&
           std::chrono::steady_clock::now() - start < std::chrono::milliseconds(ms))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TMailThread::Attempts(const std::function<bool()>& op,
                           const std::function<void()>& afterFailedWait, int first) {
    for (int a = first; a <= 5; ++a) {
        if (Cancelled || Terminated()) return;
        try {
            Success = op();
        } catch (const TStopped&) {
            throw;
        } catch (const std::exception& e) {
            LastError = e.what();
            Success = false;
        } catch (...) {
            Success = false;
        }
        if (Success) return;
        if (Refused) {
            // The server refused for good (or cannot be spoken to): trying again would
            // only repeat the refusal.
            Cancelled = true;
            return;
        }
        WaitMs(a * config_.RetryDelayUnitMs);
        if (afterFailedWait) afterFailedWait();
    }
}

void TMailThread::Execute() {
    bool ranOne = false; // the cycle before finished an operation
    while (!Terminated()) {
        // A breath between cycles; not after an operation, when the next one may be
        // waiting (a thousand small downloads would wait a second in all).
        if (!ranOne) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ranOne = false;
        try {
            SaveSubjects(false);
            // Read before the queues are looked at: an operation queued after this wakes
            // the wait below at once.
            const uint64_t seen = WorkGeneration();
            Sync([this] { PickNext(); });
            if (!Mailbox || CurrentOp.Kind != opDownload || Mailbox != AheadBox ||
                PickedKey != AheadKey)
                DropFetchedAhead();
            if (!Mailbox) {
                if (!KeptKey.empty()) CloseKeptSession(); // the queue is empty
                SaveSubjects(true);
                // Nothing to do: sleep until an operation is queued. The fallback tick
                // keeps the old behaviour for anything that changes without a notice.
                if (!Terminated()) WaitForWork(seen, kIdleTickMs);
                continue;
            }
            if (ConfigurePending) {
                // The kept session is of no use to this operation: closed here, off the
                // window's thread, before the clients take the mailbox's settings.
                ConfigurePending = false;
                CloseKeptSession();
                bool alive = false;
                Sync([&] {
                    alive = MailboxAlive();
                    if (!alive) return;
                    PickedKey = SessionKey(*Mailbox); // the settings may have changed since
                    Configure(*Mailbox);
                });
                if (!alive) continue;
            }
            Success = false;
            Cancelled = false;
            Refused = false;
            LastError.clear();
            auto clearCache = [this] {
                HeaderCache.clear();
                HeaderCacheKey.clear();
            };
            switch (CurrentOp.Kind) {
            case opSend:
                clearCache();
                UploadPath = AffectedPath(CurrentOp);
                Sent = {};
                Attempts([this] { return Upload(); });
                AfterUpload();
                break;
            case opDelete:
                clearCache();
                if (DeleteRun.size() > 1) {
                    DeleteBatch(); // finishes each of its operations itself
                    continue;
                }
                Attempts([this] { return DeleteMails(""); });
                break;
            case opDownload:
                // A failed attempt reads the subjects again from the server: a cached one
                // may have named a mail that is no longer the part it was.
                Attempts([this] { return Download(); },
                         [&] {
                             clearCache();
                             SubjectCaches.Drop(ReaderCacheKey());
                         });
                break;
            case opRefresh:
                clearCache();
                Attempts([this] { return RefreshStructure(); });
                break;
            case opGetSize:
                clearCache();
                Attempts([this] { return MeasureSize(); });
                break;
            default:
                continue;
            }
            Sync([this] { FinishOp(); });
            ranOne = true;
        } catch (...) {
            // Any error of a cycle is swallowed; the loop goes on (or ends when stopped).
        }
    }
    DropFetchedAhead();
    for (TIdTCPConnection* c : {static_cast<TIdTCPConnection*>(&Imap4),
                                static_cast<TIdTCPConnection*>(&Smtp),
                                static_cast<TIdTCPConnection*>(&Pop3)})
        DisconnectQuietly(*c);
    try {
        SaveSubjects(true);
    } catch (...) {
    }
}

void TMailThread::DisconnectQuietly(TIdTCPConnection& client) {
    try {
        if (client.IsConnected()) client.Disconnect();
    } catch (...) {
    }
    client.CloseConnection();
}

bool TMailThread::MailboxAlive() const { return Mailbox && Owner.IndexOf(Mailbox) >= 0; }

void TMailThread::PickNext() {
    Mailbox = nullptr;
    for (int i = 0; i < Owner.Count(); ++i) {
        TMailFolder& m = Owner.Items(i);
        if (m.Ops.Count() == 0) continue;
        Mailbox = &m;
        CurrentOp = m.Ops.Get(0);
        break;
    }
    DeleteRun.clear();
    if (Mailbox && CurrentOp.Kind == opDelete) {
        // Deletes queued back to back (a deleted folder's children, then the folder) can
        // share one connection and one scan of the inbox.
        for (int i = 0; i < Mailbox->Ops.Count() && i < kMaxDeleteRun; ++i) {
            TExOp op = Mailbox->Ops.Get(i);
            if (op.Kind != opDelete) break;
            DeleteRun.push_back(std::move(op));
        }
    }
    if (!Mailbox) {
        Position = 0;
        Maximum = 0;
        ReportProgress();
        return;
    }
    PickedKey = SessionKey(*Mailbox);
    ConfigurePending = !KeptKey.empty() && !(KeptKind == CurrentOp.Kind && KeptKey == PickedKey);
    if (!ConfigurePending) Configure(*Mailbox);
}

void TMailThread::FinishOp() {
    if (!MailboxAlive()) return;
    TMailFolder& m = *Mailbox;
    if (m.Ops.Count() > 0) m.Ops.Delete(0);
    auto reset = [&](const std::string& path) {
        int i = m.Files.IndexOf(path);
        if (i >= 0) m.Files.Items(i).State = fsNone;
    };
    switch (CurrentOp.Kind) {
    case opSend:
        if (Success)
            FinishStoredUpload(m);
        else
            FinishFailedUpload(m);
        reset(UploadPath.empty() ? AffectedPath(CurrentOp) : UploadPath);
        m.UpdateOpStates();
        break;
    case opDelete: {
        int i = m.Files.IndexOf(CurrentOp.Path + CurrentOp.Name);
        if (i >= 0 && Success && m.Files.Items(i).DropWhenDeleted) m.Files.Delete(i);
        m.UpdateOpStates();
        break;
    }
    case opDownload:
        reset(CurrentOp.Path + CurrentOp.Name);
        m.UpdateOpStates();
        m.PendingDrags->DownloadEnded(CurrentOp.Ticket, Success);
        break;
    case opRefresh:
        if (Success) {
            m.Files.Clear();
            m.Opened = true;
            m.UsedSize = static_cast<uint32_t>(MeasuredSize);
            for (const auto& s : Subjects) m.Files.AddSubject(s);
            Subjects.clear();
            Owner.CurrentFolder = &m;
            m.UpdateOpStates();
        } else if (m.Opened) {
            // The table read before stays: it is what the server held then, and the work
            // queued on it goes on.
        } else {
            m.Files.Clear();
            m.Ops.Clear();
            m.PendingDrags->DropOrphans();
        }
        break;
    case opGetSize:
        if (Success) m.UsedSize = static_cast<uint32_t>(MeasuredSize);
        break;
    default:
        break;
    }
    Owner.OperationError = Success ? std::string() : LastError;
    Owner.OperationCancelled = !Success && Cancelled && !Refused;
    if (Owner.OnOperationFinished) Owner.OnOperationFinished(&m, CurrentOp, Success);
    Owner.OperationError.clear();
    Owner.OperationCancelled = false;
    if (Owner.OnOperationDone) Owner.OnOperationDone(&m);
}

void TMailThread::ReportProgress() {
    if (!Owner.OnProgress) return;
    int64_t pos = Position, max = Maximum;
    while (max > INT32_MAX || pos > INT32_MAX) {
        pos /= 2;
        max /= 2;
    }
    Owner.OnProgress(Mailbox, static_cast<int32_t>(pos), static_cast<int32_t>(max));
}

void TMailThread::SetStatus(const std::string& text) {
    StatusText_ = text;
    Sync([&] {
        if (Owner.OnStatus) Owner.OnStatus(text);
    });
}

int TMailThread::ShowBox(const std::string& text, const std::string& caption, unsigned flags) {
    int result = id::Cancel;
    std::string shownCaption = caption;
    if (shownCaption.find_first_not_of(" \t\r\n") == std::string::npos) shownCaption.clear();
    Sync([&] { result = Prompt().MessageBox(text, shownCaption, flags); });
    return result;
}

void TMailThread::StartCounting() {
    CountBytes = true;
    g_lastReportTick = 0;
}

void TMailThread::WorkHandler(int64_t count) {
    if (!CountBytes) {
        g_lastReportTick = 0;
        return;
    }
    uint64_t now = TickMs();
    if (now - g_lastReportTick <= 100) return;
    // While a question is open the window holds the worker's calls; a transfer must not
    // stall on a progress report (the server would time the session out).
    if (OpenQuestions() > 0) return;
    g_lastReportTick = now;
    Position = ProgressBase + count;
    Sync([this] { ReportProgress(); });
}

uint64_t TMailThread::TickMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
