#pragma once
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "Dispatcher.h"
#include "MailFolders.h"
#include "ProgramLock.h"

class TProgressPrinter;
class TTerminalPrompt;

// Set by SIGINT / SIGTERM: the waits end and the run stops.
extern std::atomic<bool> g_interrupted;

// A path inside a mailbox as named on the command line, found in the file table.
struct TEntryRef {
    std::string path;  // "\" for the root, a folder's path ends with "\"
    bool isRoot = false;
    bool isFolder = false;
};

// One run of the command line front end: the collection loaded from Data.bin, the worker
// (for commands that talk to the servers) and this thread as the window's thread that
// pumps the worker's calls. It counts what went wrong, for the exit status.
class TCliSession {
public:
    TCliSession(TProgressPrinter& printer, TTerminalPrompt& prompt, bool withWorker);
    ~TCliSession();

    // Takes the lock of the program folder and reads Data.bin. False (message printed)
    // when another run holds the lock or the list cannot be read.
    bool Load();
    // The exit status for a Load that failed: 2 when another program holds the folder.
    int LoadFailure() const;
    TMailFolders& Folders() { return *folders_; }

    // The mailbox with that alias (A..Z folded); prints the known ones when there is none.
    TMailFolder* FindBox(const std::string& alias);

    // Queues a structure refresh of the mailbox and waits for it. False (reason printed)
    // when it failed or the run was interrupted.
    bool OpenBox(TMailFolder& box);
    // Pumps the worker's calls until no mailbox has queued operations or waiting
    // drag-outs. False when interrupted. A password typed again after a failed login (the
    // worker puts it into the mailbox, where the window keeps it too) is then saved in
    // Data.bin: a run ends right after, and the next one logs in with it.
    bool RunUntilIdle();

    // Operations that failed, stores, deletes and downloads that succeeded, and error
    // boxes shown, since the start.
    int FailedOperations() const { return failed_; }
    int DoneOperations() const { return done_; }
    size_t ErrorBoxes() const;
    // The exit status for what happened so far: interrupted, 1 after a failed operation or
    // an error box beyond the first `inputErrorBoxes` (those refused input: status 2).
    int Status(size_t inputErrorBoxes = 0) const;
    // RunUntilIdle, then Status.
    int Finish(size_t inputErrorBoxes = 0);

private:
    void Finished(TMailFolder* box, const TExOp& op, bool success);
    void KeepNewPasswords();

    TProgressPrinter& printer_;
    TTerminalPrompt& prompt_;
    TProgramLock lock_; // released after the collection has wiped the cache folder
    TPumpedDispatcher dispatcher_; // outlives the collection: the worker calls into it
    std::unique_ptr<TMailFolders> folders_;
    std::vector<std::string> savedPasswords_; // as in Data.bin, one per mailbox
    bool withWorker_;
    int failed_ = 0;
    int done_ = 0;
};

// Mailbox path named on the command line ("a/b", "\a\b", "/a/b/") in the stored form
// without a trailing backslash ("\a\b"), or "\" for the root. False when a name in it is
// empty, "." or ".." or holds a character a stored name cannot hold.
bool NormalizeMailboxPath(const std::string& arg, std::string& path);
// Finds a normalized path in the table as a folder or a file.
bool FindEntry(TMailFolder& box, const std::string& normalized, TEntryRef& ref);
