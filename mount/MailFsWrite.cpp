// The mounted mailbox, changing side: new files and folders, writing, storing on close,
// deleting, renaming, and the attributes of files being written.
#include "MailFs.h"

#include "Completion.h"
#include "LocalCopy.h"
#include "MailFolder.h"
#include "ModelThread.h"
#include "MountLog.h"
#include "MountNames.h"
#include "MountedBox.h"
#include "StagedFile.h"
#include "TextUtil.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
constexpr uint64_t kLargestFile = 0xFFFFFFFFull; // sizes are stored in 32 bits

// The last component of `path` can be stored, and its parent is a folder of the table.
int CheckNew(const TMountTable& table, const std::string& path, std::string& parentMailbox,
             std::string& name) {
    std::string parent;
    SplitFsPath(path, parent, name);
    // A name that would be stored but not shown could never be reached again.
    if (!IsStorableName(name) || !IsShownName(name)) return -EINVAL;
    const TMountTable::TNode* p = table.Find(parent);
    if (!p) return -ENOENT;
    if (!p->isDir) return -ENOTDIR;
    parentMailbox = p->mailboxPath;
    return 0;
}
} // namespace

void TMailFs::Mutate(const std::function<void()>& fn) {
    auto done = std::make_shared<TCompletion>();
    std::function<void()> task = fn;
    model_.Call([&] {
        box_.WhenWritable([task, done] {
            task();
            done->Finish(true);
        });
    });
    done->Wait();
    // The change may have been made in a round that has not shown the new table yet; one
    // more call returns only after that round is over.
    model_.Call([] {});
}

std::string TMailFs::NewUploadDir() {
    std::string dir;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dir = staging_ + "/u" + std::to_string(++seq_);
    }
    std::error_code ec;
    fs::create_directory(dir, ec);
    return ec ? std::string() : dir;
}

int TMailFs::Create(const std::string& path, mode_t mode, int flags, THandle*& out) {
    std::lock_guard<std::mutex> writers(openWrite_);
    auto table = Table();
    std::string parentMailbox, name;
    if (const int r = CheckNew(*table, path, parentMailbox, name); r != 0) return r;
    if (auto s = FindStaged(path)) {
        if (flags & O_EXCL) return -EEXIST;
        if (::ftruncate(s->fd, 0) != 0) return -errno;
        s->dirty = true;
        std::lock_guard<std::mutex> lock(mutex_);
        ++s->refs;
        out = new THandle{-1, s, flags};
        return 0;
    }
    if (const TMountTable::TNode* n = table->Find(path)) {
        if (flags & O_EXCL) return -EEXIST;
        if (n->isDir) return -EISDIR;
    }
    std::shared_ptr<TStagedFile> s;
    if (const int r = NewStaged(path, "", nullptr, mode, s); r != 0) return r;
    s->dirty = true; // a new file is stored even when nothing is written into it
    std::lock_guard<std::mutex> lock(mutex_);
    s->refs = 1;
    staged_[PathKey(path)] = s;
    out = new THandle{-1, s, flags};
    return 0;
}

int TMailFs::Write(THandle& h, const char* buf, size_t size, off_t offset) {
    if (!h.staged) return -EBADF;
    TStagedFile& s = *h.staged;
    if (h.flags & O_APPEND) {
        struct stat st {};
        if (::fstat(s.fd, &st) != 0) return -errno;
        offset = st.st_size;
    }
    if (static_cast<uint64_t>(offset) + size > kLargestFile) return -EFBIG;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(s.fd, buf + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -errno;
        done += static_cast<size_t>(n);
    }
    s.dirty = true;
    return static_cast<int>(done);
}

int TMailFs::Store(TStagedFile& s) {
    std::lock_guard<std::mutex> one(s.storing);
    if (!s.dirty || s.unlinked) return 0;
    s.dirty = false;
    std::string path;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        path = s.fsPath;
    }
    auto table = Table();
    std::string folder, name;
    if (const int r = CheckNew(*table, path, folder, name); r != 0) {
        log_.Line("cannot store " + path + ": its folder is gone");
        return r == -EINVAL ? -EIO : r;
    }
    const std::string dir = NewUploadDir();
    struct stat st {};
    std::string error;
    const std::string copy = dir + "/" + name;
    if (dir.empty() || ::fstat(s.fd, &st) != 0 || !CopyToNewFile(s.fd, copy, &st.st_mtim, error) ||
        ::chmod(copy.c_str(), (s.mode & 0200) ? 0644 : 0444) != 0) {
        log_.Line("cannot store " + path + ": " + (error.empty() ? "no room for a copy" : error));
        return -EIO;
    }
    auto done = std::make_shared<TCompletion>();
    Mutate([&] { box_.Store(folder, copy, done); });
    if (async_) return 0; // the box logs a failure
    std::string why;
    if (!done->Wait(&why)) {
        log_.Line("not stored: " + path + ": " + why);
        return -EIO;
    }
    return 0;
}

int TMailFs::Flush(THandle& h) {
    // Only a writer stores: a reader of a file still being written must not store the half.
    if (!h.staged || (h.flags & O_ACCMODE) == O_RDONLY) return 0;
    return Store(*h.staged);
}

int TMailFs::Release(THandle* h) {
    if (!h) return 0;
    if (h->fd >= 0) ::close(h->fd);
    int r = 0;
    if (auto s = h->staged) {
        // A change made after the last flush (through a memory mapping) is stored too.
        if (s->dirty && (h->flags & O_ACCMODE) != O_RDONLY) r = Store(*s);
        std::lock_guard<std::mutex> lock(mutex_);
        if (--s->refs == 0) {
            auto it = staged_.find(PathKey(s->fsPath));
            if (it != staged_.end() && it->second == s) staged_.erase(it);
            ::close(s->fd);
            s->fd = -1;
        }
    }
    delete h;
    return r;
}

int TMailFs::ChangeClosed(const std::string& path, const std::function<int(TStagedFile&)>& change) {
    THandle* h = nullptr;
    if (const int r = Open(path, O_RDWR, h); r != 0) return r;
    int r = change(*h->staged);
    if (r == 0) {
        h->staged->dirty = true;
        r = Store(*h->staged);
    }
    Release(h);
    return r;
}

int TMailFs::Truncate(const std::string& path, off_t size, THandle* h) {
    if (size < 0) return -EINVAL;
    if (static_cast<uint64_t>(size) > kLargestFile) return -EFBIG;
    auto apply = [size](TStagedFile& s) {
        if (::ftruncate(s.fd, size) != 0) return -errno;
        s.dirty = true;
        return 0;
    };
    std::shared_ptr<TStagedFile> s = h && h->staged ? h->staged : FindStaged(path);
    if (s) return apply(*s);
    auto table = Table();
    const TMountTable::TNode* n = table->Find(path);
    if (!n) return -ENOENT;
    if (n->isDir) return -EISDIR;
    if (static_cast<uint64_t>(size) == n->size) return 0;
    return ChangeClosed(path, apply);
}

int TMailFs::Utimens(const std::string& path, const struct timespec tv[2], THandle* h) {
    auto apply = [tv](TStagedFile& s) {
        if (::futimens(s.fd, tv) != 0) return -errno;
        s.dirty = true;
        return 0;
    };
    std::shared_ptr<TStagedFile> s = h && h->staged ? h->staged : FindStaged(path);
    if (s) return apply(*s);
    auto table = Table();
    const TMountTable::TNode* n = table->Find(path);
    if (!n) return -ENOENT;
    if (n->isDir) return 0; // a folder's time is the time its mail was made
    if (tv[1].tv_nsec == UTIME_OMIT) return 0;
    // The stored time has whole milliseconds: the same time is no change.
    if (tv[1].tv_nsec != UTIME_NOW && tv[1].tv_sec == n->mtime.tv_sec &&
        tv[1].tv_nsec / 1000000 == n->mtime.tv_nsec / 1000000)
        return 0;
    return ChangeClosed(path, apply);
}

int TMailFs::Chmod(const std::string& path, mode_t mode, THandle* h) {
    auto apply = [mode](TStagedFile& s) {
        s.mode = mode & 07777;
        s.dirty = true;
        return 0;
    };
    std::shared_ptr<TStagedFile> s = h && h->staged ? h->staged : FindStaged(path);
    if (s) return apply(*s);
    auto table = Table();
    const TMountTable::TNode* n = table->Find(path);
    if (!n) return -ENOENT;
    // Only the owner's write permission is stored (the read-only attribute).
    if (n->isDir || ((mode & 0200) == 0) == n->readOnly) return 0;
    return ChangeClosed(path, apply);
}

int TMailFs::Chown(const std::string& path, uid_t uid, gid_t gid) {
    struct stat st {};
    if (const int r = Getattr(path, st, nullptr); r != 0) return r;
    const bool sameUser = uid == static_cast<uid_t>(-1) || uid == uid_;
    const bool sameGroup = gid == static_cast<gid_t>(-1) || gid == gid_;
    return sameUser && sameGroup ? 0 : -EPERM;
}

int TMailFs::Mkdir(const std::string& path) {
    auto table = Table();
    std::string parentMailbox, name;
    if (const int r = CheckNew(*table, path, parentMailbox, name); r != 0) return r;
    if (table->Find(path) || FindStaged(path)) return -EEXIST;
    bool made = false;
    Mutate([&] { made = box_.NewFolder(parentMailbox, name); });
    return made ? 0 : -EEXIST;
}

int TMailFs::Unlink(const std::string& path) {
    auto table = Table();
    const TMountTable::TNode* n = table->Find(path);
    if (n && n->isDir) return -EISDIR;
    bool wasStaged = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = staged_.find(PathKey(path));
        if (it != staged_.end()) {
            // Still open: its handles go on with the bytes, but nothing more is stored.
            it->second->unlinked = true;
            staged_.erase(it);
            wasStaged = true;
        }
    }
    if (!n) return wasStaged ? 0 : -ENOENT;
    const std::string mailboxPath = n->mailboxPath;
    Mutate([&] { box_.Delete(mailboxPath); });
    return 0;
}

int TMailFs::Rmdir(const std::string& path) {
    if (path == "/") return -EBUSY;
    auto table = Table();
    const TMountTable::TNode* n = table->Find(path);
    if (!n) return -ENOENT;
    if (!n->isDir) return -ENOTDIR;
    if (!n->children.empty()) return -ENOTEMPTY;
    {
        const std::string prefix = PathKey(path) + "/";
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& [key, s] : staged_)
            if (key.compare(0, prefix.size(), prefix) == 0) return -ENOTEMPTY;
    }
    const std::string mailboxPath = n->mailboxPath;
    Mutate([&] { box_.Delete(mailboxPath); });
    return 0;
}

int TMailFs::Rename(const std::string& from, const std::string& to, unsigned flags) {
    if (flags & RENAME_EXCHANGE) return -EINVAL;
    if (from == to) return 0;
    if (FindStaged(from) || FindStaged(to)) return -EBUSY;
    auto table = Table();
    const TMountTable::TNode* src = table->Find(from);
    if (!src) return -ENOENT;
    std::string toFolder, toName;
    if (const int r = CheckNew(*table, to, toFolder, toName); r != 0) return r;
    const TMountTable::TNode* dst = table->Find(to);
    const bool sameEntry = PathKey(from) == PathKey(to); // only the case of a name changes
    if (dst && !sameEntry) {
        if (flags & RENAME_NOREPLACE) return -EEXIST;
        if (dst->isDir != src->isDir) return dst->isDir ? -EISDIR : -ENOTDIR;
        if (dst->isDir && !dst->children.empty()) return -ENOTEMPTY;
    }
    if (src->isDir) {
        // Only the case of the name changes: the names are one folder here, and a copy
        // and delete (what mv does on EXDEV) would delete what it just copied.
        if (sameEntry) return -EINVAL;
        // A folder with something in it would have to be stored again entry by entry: the
        // caller (mv) copies and deletes instead. An empty one is made anew.
        if (!src->children.empty()) return -EXDEV;
        const std::string old = src->mailboxPath;
        bool made = dst != nullptr;
        Mutate([&] {
            if (!made) made = box_.NewFolder(toFolder, toName);
            if (made) box_.Delete(old);
        });
        return made ? 0 : -EIO;
    }
    int err = 0;
    const std::string cache = LocalCopy(*src, err);
    if (cache.empty()) return err;
    const std::string dir = NewUploadDir();
    const std::string copy = dir + "/" + toName;
    const int in = ::open(cache.c_str(), O_RDONLY | O_CLOEXEC);
    std::string error;
    const bool copied = !dir.empty() && in >= 0 && CopyToNewFile(in, copy, &src->mtime, error) &&
                        ::chmod(copy.c_str(), src->readOnly ? 0444 : 0644) == 0;
    if (in >= 0) ::close(in);
    if (!copied) {
        log_.Line("cannot rename " + from + ": " + (error.empty() ? "no copy could be made" : error));
        return -EIO;
    }
    // Stored under the new name first; the old mails go only once that has succeeded.
    auto done = std::make_shared<TCompletion>();
    Mutate([&] { box_.Store(toFolder, copy, done); });
    std::string why;
    if (!done->Wait(&why)) {
        log_.Line("cannot rename " + from + " to " + to + ": " + why);
        return -EIO;
    }
    if (!sameEntry) {
        const std::string old = src->mailboxPath;
        Mutate([&] { box_.Delete(old); });
    }
    return 0;
}
