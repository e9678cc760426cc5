#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "MailFolder.h"
#include "MailWorker.h"
#include "Options.h"

// The root of the model: every mailbox, the options, the worker, the open mailbox, and
// the file Data.bin that stores the list.
class TMailFolders {
public:
    using TProgressEvent = std::function<void(TMailFolder*, int32_t position, int32_t maximum)>;
    using TDoneEvent = std::function<void(TMailFolder*)>;

    // Creates MailRoot (hidden) in AppDir and the worker when a factory is given.
    TMailFolders(TProgressEvent onProgress, TDoneEvent onOperationDone,
                 const TWorkerFactory& workerFactory = {});
    ~TMailFolders();
    TMailFolders(const TMailFolders&) = delete;
    TMailFolders& operator=(const TMailFolders&) = delete;

    bool LoadFromFile(const std::string& fileName);
    // Writes Data.bin atomically (mode 0600). Throws std::runtime_error when it cannot be
    // written; the list in memory and the file on disk are then unchanged.
    void Save();

    int Count() const { return static_cast<int>(list_.size()); }
    TMailFolder& Items(int index) { return *list_.at(static_cast<size_t>(index)); }
    int IndexOf(const TMailFolder* folder) const;

    bool AddFolder();
    void DeleteFolder(int index);
    void Clear();
    bool EditOptions();
    // Appends a mailbox that is already filled in (command line front end, tests); no save.
    TMailFolder& Append(std::unique_ptr<TMailFolder> folder);

    static bool DeleteDirTree(const std::string& dir);
    // Creates one folder level if missing and makes it private to the user.
    static bool MakeHiddenDir(const std::string& dir);

    IMailWorker* MailThread() const { return worker_.get(); }
    // Runs calls that the worker waits for on the window's thread (set by the front end);
    // used while shutdown waits for the worker.
    std::function<void()> ProcessMessages;

    std::string DataFileName;
    std::string MailRootDir; // AppDir + "MailRoot/"
    TMailFolder* CurrentFolder = nullptr;
    TDoneEvent OnOperationDone;
    TProgressEvent OnProgress;
    // The outcome of one operation, before OnOperationDone (front ends that report it).
    std::function<void(TMailFolder*, const TExOp&, bool success)> OnOperationFinished;
    // While OnOperationFinished runs for a failed operation: the worker's last error text
    // for it (empty when the attempts failed without one).
    std::string OperationError;
    // ... and whether the user ended it at a question (nothing more to tell).
    bool OperationCancelled = false;
    // The worker's status text (empty to clear), shown in the first panel of the status bar.
    std::function<void(const std::string&)> OnStatus;
    std::unique_ptr<TOptions> Options;

private:
    void StopWorker();

    std::vector<std::unique_ptr<TMailFolder>> list_;
    std::unique_ptr<IMailWorker> worker_;
    bool keepBackupOnSave_ = false; // Data.bin failed to load: keep it as Data.bin.bak
};
