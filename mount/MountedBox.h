#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "ExOp.h"
#include "ProgramLock.h"

class TCompletion;
class TMailFolder;
class TMailFolders;
class TModelThread;
class TMountLog;
class TMountPrompt;
class TMountTable;

// The mounted mailbox on the model thread: the one mailbox that is mounted and the
// requests of the file system that wait for an operation of the worker (downloads,
// uploads, refreshes). Every method but Table() runs on the model thread.
//
// Two ways to get the mailbox: Load (tavrel-mount) takes the program-folder lock and owns
// the collection from Data.bin with its worker; Attach (the window) works on a mailbox of
// a collection that somebody else owns, who then hands every operation's end to
// Finished and calls Publish after changes.
//
// While a structure refresh is queued, changes wait (WhenWritable): a refresh replaces the
// table, and an entry added before it ran would be lost from it.
class TMountedBox {
public:
    TMountedBox(TMountLog& log, TMountPrompt& prompt);
    ~TMountedBox();

    // Takes the lock of AppDir, reads Data.bin (its worker calls through `thread`) and
    // finds the mailbox. False with `error` and the exit status (2: another program holds
    // the folder, unknown mailbox; 1: else).
    bool Load(TModelThread& thread, const std::string& alias, std::string& error, int& status);
    // Works on `box` of `folders` (both outlive this object or its Close). False with
    // `error` when the box has no cache folder or the staging folder cannot be made.
    bool Attach(TMailFolders& folders, TMailFolder& box, std::string& error);
    // An operation of the collection ended (Load installs this itself).
    void Finished(TMailFolder* box, const TExOp& op, bool success);
    // The table is built again at the next Publish (a change made outside this object).
    void MarkChanged() { changed_ = true; }
    // Queues a structure refresh; `done` ends with it (false when the mailbox is not open).
    void Refresh(std::shared_ptr<TCompletion> done);
    // Runs `fn` now, or after the refresh that is queued.
    void WhenWritable(std::function<void()> fn);

    // Stores the local file `localPath` (a private copy of ours) as `folder` + its file
    // name. `done` ends with the upload; on success the copy becomes the cache copy.
    void Store(const std::string& folder, const std::string& localPath,
               std::shared_ptr<TCompletion> done);
    // The file is in the cache and checks out; else its download is queued (once for any
    // number of waiters) and `done` ends with it.
    void EnsureLocal(const std::string& mailboxPath, std::shared_ptr<TCompletion> done);
    bool NewFolder(const std::string& parent, const std::string& name);
    void Delete(const std::string& mailboxPath);

    TMailFolder& Box() { return *box_; }
    std::string CachePathOf(const std::string& mailboxPath) const;
    // A folder for our own files inside the cache folder, out of every mailbox's reach.
    const std::string& StagingDir() const { return staging_; }
    // Operations queued in the mailbox, and the stores among them (their paths).
    int Queued() const;
    std::vector<std::string> QueuedStores() const;
    // Time of the last structure refresh that succeeded (steady seconds).
    double LastRefresh() const { return lastRefresh_; }
    bool Refreshing() const { return refreshing_; }

    // After each round of the model thread: a changed table is published.
    void Publish();
    // The table as last published (any thread).
    std::shared_ptr<const TMountTable> Table();
    // Fails every waiting request. A loaded collection ends (cache folder wiped, worker
    // stopped, lock released); an attached one only loses its staging folder.
    void Close();

private:
    bool UseBox(std::string& error, int& status);
    void AfterStore(const TExOp& op, bool success);

    TMountLog& log_;
    TMountPrompt& prompt_;
    TProgramLock lock_;
    std::unique_ptr<TMailFolders> owned_;
    TMailFolders* folders_ = nullptr;
    TMailFolder* box_ = nullptr;
    std::string staging_;
    bool changed_ = true;
    bool refreshing_ = false;
    double lastRefresh_ = 0;
    std::vector<std::shared_ptr<TCompletion>> refreshWaiters_;
    std::vector<std::function<void()>> deferred_;
    // Downloads by folded mailbox path, uploads by local path.
    std::unordered_map<std::string, std::vector<std::shared_ptr<TCompletion>>> downloads_;
    std::unordered_map<std::string, std::shared_ptr<TCompletion>> uploads_;

    std::mutex tableMutex_;
    std::shared_ptr<const TMountTable> table_;
};

// Seconds of a steady clock.
double SteadySeconds();
