#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
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
    bool Terminated() const { return stop_ || abandoned_; }
    void Sync(const std::function<void()>& fn);
    template <class Op> void Attempts(Op op, const std::function<void()>& afterFailedWait = {});
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
    bool ConnectReader();
    bool ConnectSmtp();
    TIdTCPConnection& Reader();
    void DisconnectQuietly(TIdTCPConnection& client);
    int ReaderCount();
    // Disconnect the reader, progress back to 0 of 0, status cleared.
    std::function<void()> ReaderClosing();
    bool ReaderFetchHeader(int n, std::string& subject);

    // The operations.
    bool Upload();
    bool UploadFile(const std::string& localPath, const std::string& entryPath);
    void AddPart(const std::string& subject);
    bool RefreshStructure();
    bool MeasureSize();
    bool Download();
    // ownMailOnly: for a folder, only the folder's own mail (the clean-up after a failed
    // upload), not what is stored below it.
    bool DeleteMails(const std::string& path, bool ownMailOnly = false);

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
    TMailFolder* Mailbox = nullptr;
    bool Success = false;
    int64_t MeasuredSize = 0;
    std::vector<std::string> Subjects;
    std::string UploadPath;                 // the upload's mailbox path
    std::vector<std::string> UploadParts;   // subjects composed so far
    std::string LastError;
    std::string NewPassword;
    bool Cancelled = false;
    std::string StatusText_;
    // Subjects of the inbox by message number - 1; an unreadable header keeps an empty slot.
    std::vector<std::string> HeaderCache;
    bool HeaderCacheValid = false;

    // Settings of the served mailbox, copied on the window's thread in PickNext.
    std::string BoxAddress, BoxAlias, MailRootDir;
    uint32_t BoxMaxAttachSize = 0;
};
