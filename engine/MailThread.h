#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Dispatcher.h"
#include "EngineConfig.h"
#include "ExOp.h"
#include "IdIMAP4.h"
#include "IdMessage.h"
#include "IdPOP3.h"
#include "IdSMTP.h"
#include "IdSSLOpenSSL.h"
#include "MailWorker.h"
#include "SubjectCaches.h"

class TMailFolders;
class TMailFolder;
struct TExFile;

// The one background worker: it takes the queued operations of the mailboxes one at a
// time, performs them against the mail servers with retries, and hands every change of the
// model to the window's thread as a synchronous call.
class TMailThread : public std::enable_shared_from_this<TMailThread> {
public:
    TMailThread(TMailFolders& owner, IDispatcher& dispatcher, TEngineConfig config);
    ~TMailThread();

    // The worker as the collection holds it; the thread starts at once.
    static std::unique_ptr<IMailWorker> Start(TMailFolders& owner, IDispatcher& dispatcher,
                                              TEngineConfig config);
    static TWorkerFactory Factory(IDispatcher& dispatcher, TEngineConfig config);

    // Status text last set (read on the window's thread during a synchronous call).
    const std::string& StatusText() const { return StatusText_; }

private:
    friend class TMailThreadHandle;
    struct TStopped {}; // thrown when the thread must end at once
    // Closing steps of an operation, run however it ends (errors in them are ignored).
    struct TClosing {
        std::function<void()> close;
        ~TClosing() {
            try {
                close();
            } catch (...) {
            }
        }
    };

    void Execute();
    // Longest sleep of an idle worker between two looks at the queues.
    static constexpr int kIdleTickMs = 250;
    bool Terminated() const { return stop_ || abandoned_; }
    void Sync(const std::function<void()>& fn);
    // Attempts first .. 5 of an operation (the ones before were made and failed).
    void Attempts(const std::function<bool()>& op, const std::function<void()>& afterFailedWait = {},
                  int first = 1);
    void WaitMs(int ms);

    // Window-thread steps.
    void PickNext();
    void FinishOp();
    void Configure(TMailFolder& m);
    void ReportProgress();
    void AskPassword();
    bool MailboxAlive() const;

    void SetStatus(const std::string& text);
    int ShowBox(const std::string& text, const std::string& caption, unsigned flags);
    void WorkHandler(int64_t count);
    // Byte counting on; the first report of the transfer comes at once.
    void StartCounting();

    // Connection and login.
    // reuse: an open reader session is used as it is (a download after a download);
    // *reused tells whether it was.
    bool ConnectReader(bool reuse = false, bool* reused = nullptr);
    // An open, logged-in SMTP session is used again for up to kMaxSessionMails mails; many
    // providers refuse more mails on one connection than that.
    bool ConnectSmtp();
    static constexpr int kMaxSessionMails = 50;
    int SessionMails = 0; // mails sent on the open SMTP session; above 1: it was used again
    // Sends Message over the session ConnectSmtp opened, status text `sending`. A kept
    // session that fails before the server took the mail's data (a provider's limit of
    // mails a connection, an idle connection it dropped) ends that session, not the
    // upload: the mail goes once more over a new one. False: no new session (cancelled).
    bool SendMail(const std::string& sending);
    TIdTCPConnection& Reader();
    // A TLS handshake that failed: the operation ends with the reason, no password question.
    bool RefuseTls(TIdTCPConnection& client, const EIdTLSHandshakeError& e);
    void DisconnectQuietly(TIdTCPConnection& client);
    // A session left open by an operation of this kind, for the next one of the same kind
    // and mailbox settings: back-to-back uploads share one SMTP login, back-to-back
    // downloads one reader login. Any other operation, other settings, or an empty queue
    // close it first.
    void KeepSession(uint8_t kind);
    void CloseKeptSession();
    // The open client can be used again: the server has said nothing since (a goodbye such
    // as "421" or a closed connection shows as input).
    static bool StillOpen(TIdTCPConnection& client);
    // Everything of a mailbox a connection depends on.
    static std::string SessionKey(const TMailFolder& m);
    int ReaderCount();
    // Disconnect the reader, progress back to 0 of 0, status cleared.
    std::function<void()> ReaderClosing();

    // Subjects read before (TSubjectCaches), kept in the program folder across runs.
    using TSubjectCache = TSubjectCaches::TCache;
    // The file is written when a scan changed a cache and the queue is empty, at the
    // latest this long after the change while work goes on, and when the worker ends.
    static constexpr uint64_t kSubjectSaveMs = 30000;
    static constexpr const char* kSubjectCacheFile = "SubjectCache.bin";
    void SaveSubjects(bool now);
    uint64_t SubjectsSavedAt = 0;
    // Mailboxes larger than this are read without ids (and without the cache).
    static constexpr int kMaxListedMessages = 1000000;
    // Headers fetched in one go when the cache does not know them.
    static constexpr std::size_t kScanChunk = 2000;
    // One header as a scan delivers it.
    using THeader = TIdSubjectResult;
    // Visits the headers of messages 1 .. n of the open reader (highest number first when
    // descending), each exactly as a fetch of its own would give it, taking known subjects
    // from the cache and fetching the others in batches. visit returns false to stop. An
    // error of the connection is raised where the visit reaches the first header it lost.
    void ScanHeaders(int n, bool descending, const std::function<bool(int, const THeader&)>& visit);
    TSubjectCache* CacheForReader(std::vector<std::string>& ids, int n);
    // The key of the open reader's cache: protocol, server and account, no password.
    std::string ReaderCacheKey();
    // For the mails of the last scan that were matched: those whose subject came from the
    // cache are read from the server once more. False (and the cache dropped, so that the
    // next scan reads every subject) when one of them does not read the same: an id the
    // server gave to another mail. Used before anything is deleted on a cached subject.
    bool CachedSubjectsHold(const std::vector<std::pair<int, std::string>>& matched);
    // Whether the subject of message a came from the cache in the last scan.
    std::vector<bool> ScanCached;
    // Progress of a scan: reported at most every 50 ms, and always when forced.
    void ReportScanProgress(bool force);
    uint64_t LastScanReport = 0;
    // Milliseconds of a steady clock, for throttling reports.
    static uint64_t TickMs();

    // The operations.
    bool Upload();
    bool UploadEntry(); // Upload without its session handling
    bool UploadFile(const std::string& localPath, const std::string& entryPath);
    // Records the next subject of the upload; count: the parts it will have in all.
    void AddPart(const std::string& subject, uint32_t count);
    // After the attempts of an upload: on success the replaced version's mails and any
    // stale parts are deleted, on failure the parts this upload sent.
    void AfterUpload();
    // Window thread: a failed upload puts the replaced entry back, or drops the entry of a
    // new file of which nothing stayed on the server.
    void FinishFailedUpload(TMailFolder& m);
    // Window thread: stores of the same path queued after this one replace what this one
    // stored (it is the stored version now).
    void FinishStoredUpload(TMailFolder& m);
    // False (and Refused) when a part of partBytes would exceed the SIZE the server named.
    bool FitsSizeLimit(uint64_t partBytes, uint32_t part);
    bool RefreshStructure();
    // The mailbox's size into MeasuredSize (IMAP4: INBOX selected with it); false when
    // INBOX cannot be selected.
    bool MeasureReader();
    bool MeasureSize();
    bool Download();
    // ownMailOnly: for a folder, only the folder's own mail (the clean-up after a failed
    // upload), not what is stored below it.
    bool DeleteMails(const std::string& path, bool ownMailOnly = false);
    // One connection and one scan for several patterns: ok[i] tells whether every deletion
    // that pattern i asked for was confirmed. False when the scan could not be made.
    bool DeleteMatching(const std::vector<std::string>& patterns, std::vector<bool>& ok);
    // Deletes the mails whose subjects are exactly (trimmed, ASCII case folded) one of
    // `subjects`; of a subject that is also in `keep` the newest mail stays. True when every
    // such deletion was confirmed.
    bool DeleteExact(const std::vector<std::string>& subjects, const std::vector<std::string>& keep);
    // One connection, one scan: match puts the groups a subject belongs to; ok[g] tells
    // whether every mail of group g was deleted. False when the scan could not be made.
    // kKeptMail as a group: a mail that stays but that the choice of the others rests on
    // (its subject is checked as those of the deleted ones are).
    bool DeleteWhere(const std::function<void(const std::string&, std::vector<size_t>&)>& match,
                     size_t groups, std::vector<bool>& ok);
    static constexpr size_t kKeptMail = SIZE_MAX;
    // Mails this worker had accepted by the server a moment ago (subject, steady ms). The
    // server puts a mail into the inbox some time after it took it, so a delete right
    // after a store may not find it yet; the delete is then not done (it is tried again)
    // until the scan finds and removes it, or the wait is over.
    std::deque<std::pair<std::string, uint64_t>> RecentSends;
    static constexpr uint64_t kDeliveryWaitMs = 60000;
    static constexpr size_t kMaxRecentSends = 100000;
    void NoteSent(const std::string& subject);
    // Subjects (trimmed, ASCII case folded) of the mails the last DeleteWhere matched.
    std::unordered_set<std::string> LastScanMatched;
    // The queued deletes that follow CurrentOp directly in its mailbox's queue, served by
    // one connection; each is finished on its own, in order.
    void DeleteBatch();
    // FinishOp, when the first queued operation is still `op`.
    void FinishIfFirst(const TExOp& op);

    TMailFolders& Owner;
    IDispatcher& dispatcher_;
    TEngineConfig config_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> abandoned_{false};
    std::atomic<bool> ended_{false};

    // The TLS transports outlive the clients that use them.
    TIdSSLIOHandlerSocketOpenSSL PopTls, SmtpTls, ImapTls;
    TIdMessage Message;
    TIdPOP3 Pop3;
    TIdSMTP Smtp;
    TIdIMAP4 Imap4;
    bool UseImap = false;

    // Progress in bytes; reported scaled down when it does not fit 32 bits.
    int64_t ProgressBase = 0;
    int64_t Position = 0;
    int64_t Maximum = 0;
    bool CountBytes = false;
    TExOp CurrentOp;
    // CurrentOp and the deletes that directly follow it in the queue (PickNext).
    std::vector<TExOp> DeleteRun;
    static constexpr int kMaxDeleteRun = 256;
    TMailFolder* Mailbox = nullptr;
    bool Success = false;
    int64_t MeasuredSize = 0;
    std::vector<std::string> Subjects;
    std::string UploadPath;                 // the upload's mailbox path
    std::vector<std::string> UploadParts;   // subjects composed so far
    std::string LastError;
    std::string NewPassword;
    bool Cancelled = false;
    // The server refused for good (a 5xx reply to a mail, a mail over its SIZE, a TLS
    // handshake that cannot succeed): no further attempt.
    bool Refused = false;
    // What one upload operation has stored so far, kept across its attempts.
    struct TSentParts {
        std::string localPath, created, modified;
        uint32_t size = 0, hash = 0, attributes = 0, partSize = 0;
        uint32_t accepted = 0;                 // parts 1 .. accepted were taken by the server
        std::vector<std::string> subjects;     // their subjects
        std::vector<std::string> uncertain;    // sent, the connection ended before the reply
        std::vector<std::string> stale;        // sent for an earlier state of the file
    } Sent;
    bool CleanedUp = false; // the failed upload's parts are gone from the server
    std::string StatusText_;
    // The inbox's message numbers by subject (case folded), for the downloads: the first
    // mail of each subject; unreadable headers are left out.
    std::unordered_map<std::string, int> HeaderCache;
    std::string HeaderCacheKey; // SessionKey of the account it was read from; empty: no list
    // Files fetched ahead: the downloads queued right behind a download of the same
    // mailbox ride on its command stream; each lands as a verified copy under a temporary
    // name beside its cache path and is taken over when its own operation runs.
    struct TFetchedAhead {
        std::string path;               // the entry
        uint32_t size = 0, hash = 0;
        std::vector<std::string> parts; // its part subjects when it was fetched
        std::string local;              // its cache path
        std::string temp;               // the verified copy
    };
    std::vector<TFetchedAhead> FetchedAhead;
    const TMailFolder* AheadBox = nullptr;
    std::string AheadKey; // SessionKey the copies were read with
    static constexpr int kMaxAheadFiles = 256;
    static constexpr uint64_t kMaxAheadBytes = 32u << 20;
    // Removes the copies no operation took (another kind of operation, another mailbox,
    // an empty queue, the end of the thread).
    void DropFetchedAhead();
    // The downloads queued right behind the current one that can ride on its fetch:
    // files of this mailbox whose every part is in the header list, within the bounds.
    std::vector<TFetchedAhead> DownloadsBehind(const std::string& current);
    // The copy fetched ahead for this entry, moved to its cache path; false when there is
    // none or the entry changed since.
    bool TakeFetchedAhead(const std::string& path, uint32_t size, uint32_t hash,
                          const std::vector<std::string>& parts, const std::string& local);
    TSubjectCaches SubjectCaches;

    // The kept session (KeepSession): for which operations and settings; empty key: none.
    uint8_t KeptKind = opRefresh;
    std::string KeptKey;
    std::string PickedKey; // SessionKey of the mailbox PickNext chose
    bool ConfigurePending = false; // PickNext left Configure until the kept session is closed

    // Settings of the served mailbox, copied on the window's thread in PickNext.
    std::string BoxAddress, BoxAlias, MailRootDir;
    uint32_t BoxMaxAttachSize = 0;
};
