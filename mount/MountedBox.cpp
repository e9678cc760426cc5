#include "MountedBox.h"

#include "AppDir.h"
#include "Completion.h"
#include "Dispatcher.h"
#include "EngineConfig.h"
#include "IniFile.h"
#include "MailFolders.h"
#include "MailThread.h"
#include "ModelThread.h"
#include "MountLog.h"
#include "MountPrompt.h"
#include "MountTable.h"
#include "TextUtil.h"

#include <chrono>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

double SteadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

TMountedBox::TMountedBox(TMountLog& log, TMountPrompt& prompt)
    : log_(log), prompt_(prompt), table_(std::make_shared<TMountTable>()) {}

TMountedBox::~TMountedBox() { Close(); }

bool TMountedBox::Load(TModelThread& thread, const std::string& alias, std::string& error,
                       int& status) {
    status = 1;
    // One user of a program folder at a time: the window, tavrel-cli and tavrel-mount each
    // empty the cache folder when they end.
    if (!lock_.Acquire(AppDir())) {
        error = lock_.Error() + (lock_.Busy() ? "; try again when it has finished" : "");
        if (lock_.Busy()) status = 2;
        return false;
    }
    TWorkerFactory factory = TMailThread::Factory(thread.Dispatcher(), LoadEngineConfig(IniFile()));
    owned_ = std::make_unique<TMailFolders>(
        [this](TMailFolder*, int32_t pos, int32_t max) { log_.Progress(pos, max); },
        TMailFolders::TDoneEvent{}, factory);
    folders_ = owned_.get();
    folders_->OnStatus = [this](const std::string& s) { log_.Status(s); };
    folders_->OnOperationFinished = [this](TMailFolder* box, const TExOp& op, bool ok) {
        Finished(box, op, ok);
    };
    folders_->ProcessMessages = [t = &thread] { t->Dispatcher().ProcessMessages(); };
    const std::string data = AppDir() + "Data.bin";
    if (!folders_->LoadFromFile(data)) {
        error = "cannot read the mailbox list " + data +
                " (damaged, or written by a newer version); it was left as it is";
        return false;
    }
    std::string known;
    for (int i = 0; i < folders_->Count(); ++i) {
        if (SameTextAscii(folders_->Items(i).Alias, alias)) box_ = &folders_->Items(i);
        known += (i ? ", " : "") + folders_->Items(i).Alias;
    }
    if (!box_) {
        error = "unknown mailbox \"" + alias + "\"" +
                (known.empty() ? std::string("; there is none yet (tavrel-cli add-box adds one)")
                               : "; known: " + known);
        status = 2;
        return false;
    }
    return UseBox(error, status);
}

bool TMountedBox::Attach(TMailFolders& folders, TMailFolder& box, std::string& error) {
    folders_ = &folders;
    box_ = &box;
    changed_ = true;
    int status = 0;
    if (UseBox(error, status)) return true;
    folders_ = nullptr;
    box_ = nullptr;
    return false;
}

bool TMountedBox::UseBox(std::string& error, int& status) {
    if (box_->CacheDir().empty() || !box_->EnsureCacheDir()) {
        error = "mailbox \"" + box_->Alias + "\" has no usable cache folder (its name)";
        status = 2;
        return false;
    }
    // Our staging folder sits beside the mailboxes' cache folders under a name no alias has.
    std::string name = ".tavrel-mount";
    for (int n = 2;; ++n) {
        bool taken = false;
        for (int i = 0; i < folders_->Count(); ++i)
            taken = taken || SameTextAscii(folders_->Items(i).Alias, name);
        if (!taken) break;
        name = ".tavrel-mount-" + std::to_string(n);
    }
    staging_ = folders_->MailRootDir + name;
    std::error_code ec;
    fs::remove_all(staging_, ec);
    if (!TMailFolders::MakeHiddenDir(staging_)) {
        error = "cannot make the folder " + staging_;
        return false;
    }
    return true;
}

void TMountedBox::Refresh(std::shared_ptr<TCompletion> done) {
    if (!refreshing_) {
        box_->QueueRefresh();
        refreshing_ = true;
    }
    if (done) refreshWaiters_.push_back(std::move(done));
}

void TMountedBox::WhenWritable(std::function<void()> fn) {
    if (refreshing_)
        deferred_.push_back(std::move(fn));
    else
        fn();
}

void TMountedBox::Store(const std::string& folder, const std::string& localPath,
                        std::shared_ptr<TCompletion> done) {
    prompt_.TakeLastError();
    const int before = box_->Ops.Count();
    box_->AddLocal(folder, localPath, false);
    changed_ = true;
    const bool queued = box_->Ops.Count() > before &&
                        box_->Ops.Get(box_->Ops.Count() - 1).Name == localPath;
    if (!queued) {
        std::string why = prompt_.TakeLastError();
        if (why.empty()) why = "the file could not be put in the queue";
        std::error_code ec;
        fs::remove(localPath, ec);
        if (done) done->Finish(false, why);
        return;
    }
    uploads_[localPath] = std::move(done);
}

void TMountedBox::EnsureLocal(const std::string& mailboxPath, std::shared_ptr<TCompletion> done) {
    const int i = box_->Files.IndexOf(mailboxPath);
    if (i < 0 || box_->Files.Items(i).IsFolder) {
        done->Finish(false, "it is no longer in the mailbox");
        return;
    }
    const TExFile& e = box_->Files.Items(i);
    const std::string cache = CachePathOf(mailboxPath);
    if (cache.empty()) {
        done->Finish(false, "its name cannot name a file in the cache folder");
        return;
    }
    if (e.Size == 0 && e.State != fsSending) {
        // Nothing to fetch: the cache copy of an empty file is made here.
        std::error_code ec;
        fs::create_directories(fs::path(cache).parent_path(), ec);
        if (FILE* f = std::fopen(cache.c_str(), "wb")) std::fclose(f);
    }
    if (box_->IsLocal(mailboxPath)) {
        done->Finish(true);
        return;
    }
    auto& waiters = downloads_[LowerAscii(mailboxPath)];
    waiters.push_back(std::move(done));
    if (waiters.size() > 1) return; // its download is queued already
    const std::string parent = ParentPath(mailboxPath);
    const int before = box_->Ops.Count();
    box_->DownloadItem(parent, mailboxPath.substr(parent.size()), -1);
    changed_ = true;
    if (box_->Ops.Count() == before) {
        // Nothing was queued: nobody would ever end the wait.
        auto it = downloads_.find(LowerAscii(mailboxPath));
        for (auto& w : it->second) w->Finish(false, "its download could not be queued");
        downloads_.erase(it);
    }
}

bool TMountedBox::NewFolder(const std::string& parent, const std::string& name) {
    changed_ = true;
    return box_->NewFolder(parent, name);
}

void TMountedBox::Delete(const std::string& mailboxPath) {
    const int i = box_->Files.IndexOf(mailboxPath);
    if (i < 0) return;
    // A folder's own entry goes from the table once its mail is deleted, as a file's does.
    box_->Files.Items(i).DropWhenDeleted = true;
    const std::string parent = ParentPath(mailboxPath);
    box_->DeleteItem(parent, mailboxPath.substr(parent.size()), true);
    std::error_code ec;
    const std::string cache = CachePathOf(mailboxPath);
    if (!cache.empty()) fs::remove_all(cache, ec);
    changed_ = true;
}

std::string TMountedBox::CachePathOf(const std::string& mailboxPath) const {
    return box_->CachePathOf(mailboxPath);
}

int TMountedBox::Queued() const { return box_ ? box_->Ops.Count() : 0; }

std::vector<std::string> TMountedBox::QueuedStores() const {
    std::vector<std::string> out;
    if (!box_) return out;
    for (int i = 0; i < box_->Ops.Count(); ++i) {
        const TExOp op = box_->Ops.Get(i);
        if (op.Kind == opSend) out.push_back(AffectedPath(op));
    }
    return out;
}

void TMountedBox::Finished(TMailFolder* box, const TExOp& op, bool success) {
    if (box != box_) return;
    changed_ = true;
    const std::string reason = folders_->OperationError.empty()
                                   ? std::string("it did not succeed in its attempts")
                                   : folders_->OperationError;
    if (!success && !folders_->OperationCancelled)
        log_.Line("failed: " + OperationText(op, box->Alias) + ": " + reason);
    switch (op.Kind) {
    case opRefresh: {
        refreshing_ = false;
        if (success) lastRefresh_ = SteadySeconds();
        auto waiters = std::move(refreshWaiters_);
        refreshWaiters_.clear();
        for (auto& w : waiters) w->Finish(success && box_->Opened, success ? "" : reason);
        auto deferred = std::move(deferred_);
        deferred_.clear();
        for (auto& fn : deferred) fn();
        break;
    }
    case opDownload: {
        auto it = downloads_.find(LowerAscii(AffectedPath(op)));
        if (it == downloads_.end()) break;
        auto waiters = std::move(it->second);
        downloads_.erase(it);
        const bool local = success && box_->IsLocal(AffectedPath(op));
        for (auto& w : waiters)
            w->Finish(local, success ? "the downloaded copy does not check out" : reason);
        break;
    }
    case opSend:
        AfterStore(op, success);
        {
            auto it = uploads_.find(op.Name);
            if (it != uploads_.end()) {
                auto w = std::move(it->second);
                uploads_.erase(it);
                if (w) w->Finish(success, reason);
            }
        }
        break;
    default:
        break;
    }
}

void TMountedBox::AfterStore(const TExOp& op, bool success) {
    if (op.Name.empty() || op.Name[0] != '/' || uploads_.count(op.Name) == 0) return;
    std::error_code ec;
    const std::string path = AffectedPath(op);
    const int i = box_->Files.IndexOf(path);
    const std::string cache = CachePathOf(path);
    // The stored file is the copy we uploaded: it becomes the cache copy, so reading it
    // back needs no download.
    struct stat st {};
    if (success && i >= 0 && !cache.empty() && ::stat(op.Name.c_str(), &st) == 0 &&
        static_cast<uint32_t>(st.st_size) == box_->Files.Items(i).Size) {
        fs::create_directories(fs::path(cache).parent_path(), ec);
        if (::rename(op.Name.c_str(), cache.c_str()) == 0 && ::stat(cache.c_str(), &st) == 0)
            box_->Checksums.Remember(cache, st, box_->Files.Items(i).Hash);
    }
    fs::remove(op.Name, ec);
    fs::remove(fs::path(op.Name).parent_path(), ec); // its private folder
}

void TMountedBox::Publish() {
    if (!changed_ || !box_) return;
    changed_ = false;
    auto t = TMountTable::Build(*box_);
    std::lock_guard<std::mutex> lock(tableMutex_);
    table_ = std::move(t);
}

std::shared_ptr<const TMountTable> TMountedBox::Table() {
    std::lock_guard<std::mutex> lock(tableMutex_);
    return table_;
}

void TMountedBox::Close() {
    if (owned_) {
        owned_->OnOperationFinished = {};
        owned_.reset();
    } else if (!staging_.empty()) {
        std::error_code ec;
        fs::remove_all(staging_, ec);
    }
    folders_ = nullptr;
    box_ = nullptr;
    for (auto& [k, ws] : downloads_)
        for (auto& w : ws) w->Finish(false, "the mailbox was unmounted");
    downloads_.clear();
    for (auto& [k, w] : uploads_)
        if (w) w->Finish(false, "the mailbox was unmounted");
    uploads_.clear();
    for (auto& w : refreshWaiters_) w->Finish(false, "the mailbox was unmounted");
    refreshWaiters_.clear();
}
