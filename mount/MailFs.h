#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unordered_map>
#include <utility>
#include <vector>

#include "MountTable.h"

class IModelCaller;
class TMountedBox;
class TMountLog;
struct TStagedFile;

// The file system over a mounted mailbox, as libfuse's threads call it: every method
// returns 0 or a negative errno and may run on any thread at the same time as the others.
// Attributes and listings come from the published table (no wait for the model thread);
// changes run on the model thread; a request that needs the network (a download, an
// upload) waits for its own operation while the others are served.
//
// Reading: a file that is not in the cache is downloaded on open (one download for any
// number of readers) and read from its verified cache copy. Writing: a staging file per
// path; a flush (close) of a changed file stores a copy of it and waits for the upload
// unless `async`. Rename of a file stores it again under the new name and deletes the old
// one after that; a folder with something in it cannot be renamed (EXDEV).
class TMailFs {
public:
    struct THandle {
        int fd = -1; // the cache copy, for a reader
        std::shared_ptr<TStagedFile> staged;
        int flags = 0;
    };
    using TDirEntry = std::pair<std::string, struct stat>;

    TMailFs(IModelCaller& model, TMountedBox& box, TMountLog& log, bool async, int refreshSeconds);
    ~TMailFs();

    int Getattr(const std::string& path, struct stat& st, THandle* h);
    int Readdir(const std::string& path, std::vector<TDirEntry>& out);
    int Open(const std::string& path, int flags, THandle*& out);
    int Create(const std::string& path, mode_t mode, int flags, THandle*& out);
    int Read(THandle& h, char* buf, size_t size, off_t offset);
    int Write(THandle& h, const char* buf, size_t size, off_t offset);
    int Flush(THandle& h);
    int Release(THandle* h);
    int Truncate(const std::string& path, off_t size, THandle* h);
    int Utimens(const std::string& path, const struct timespec tv[2], THandle* h);
    int Chmod(const std::string& path, mode_t mode, THandle* h);
    int Chown(const std::string& path, uid_t uid, gid_t gid);
    int Mkdir(const std::string& path);
    int Unlink(const std::string& path);
    int Rmdir(const std::string& path);
    int Rename(const std::string& from, const std::string& to, unsigned flags);
    int Statfs(struct statvfs& st);

    // Files open for writing now (a refresh waits while there are any).
    size_t OpenForWriting();

private:
    void Fill(const TMountTable::TNode& n, struct stat& st) const;
    bool FillStaged(TStagedFile& s, struct stat& st) const;
    std::shared_ptr<TStagedFile> FindStaged(const std::string& path);
    // A new staging file for `path`, empty or a copy of `from` (with its times), mode set.
    int NewStaged(const std::string& path, const std::string& from, const TMountTable::TNode* node,
                  mode_t mode, std::shared_ptr<TStagedFile>& out);
    // Stores the staged bytes (a copy of them) under the file's path.
    int Store(TStagedFile& s);
    // Runs `fn` on the model thread once changes may be made, and waits for it.
    void Mutate(const std::function<void()>& fn);
    // The cache copy of a stored file, downloaded first if need be; "" with `err` set.
    std::string LocalCopy(const TMountTable::TNode& n, int& err);
    // Changes a file that is not open: stage it, apply `change` to the staging file, store.
    int ChangeClosed(const std::string& path, const std::function<int(TStagedFile&)>& change);
    // A private folder for one copy to be stored: StagingDir()/u<n>/ (made).
    std::string NewUploadDir();
    void MaybeRefresh(const std::string& path);
    std::shared_ptr<const TMountTable> Table();

    IModelCaller& model_;
    TMountedBox& box_;
    TMountLog& log_;
    const bool async_;
    const int refreshSeconds_;
    const uid_t uid_;
    const gid_t gid_;
    const struct timespec started_;
    std::string staging_;

    std::mutex mutex_; // staged_, listed_, seq_
    std::unordered_map<std::string, std::shared_ptr<TStagedFile>> staged_; // by PathKey
    std::unordered_map<std::string, double> listed_;
    uint64_t seq_ = 0;
    std::mutex openWrite_; // one open for writing at a time decides who stages a path
    double readyAt_;
};
