// The mounted mailbox, reading side: attributes, listings, opening and reading files.
#include "MailFs.h"

#include "Completion.h"
#include "LocalCopy.h"
#include "MailFolder.h"
#include "MailFolders.h"
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
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
struct timespec Now() {
    struct timespec t {};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return t;
}
} // namespace

TMailFs::TMailFs(IModelCaller& model, TMountedBox& box, TMountLog& log, bool async,
                 int refreshSeconds)
    : model_(model), box_(box), log_(log), async_(async), refreshSeconds_(refreshSeconds),
      uid_(::getuid()), gid_(::getgid()), started_(Now()), readyAt_(SteadySeconds()) {
    model_.Call([this] { staging_ = box_.StagingDir(); });
}

TMailFs::~TMailFs() {
    for (auto& [key, s] : staged_)
        if (s->fd >= 0) ::close(s->fd);
}

std::shared_ptr<const TMountTable> TMailFs::Table() { return box_.Table(); }

void TMailFs::Fill(const TMountTable::TNode& n, struct stat& st) const {
    st = {};
    st.st_uid = uid_;
    st.st_gid = gid_;
    st.st_blksize = 4096;
    if (n.isDir) {
        st.st_mode = S_IFDIR | 0755;
        st.st_nlink = 2;
    } else {
        st.st_mode = S_IFREG | (n.readOnly ? 0444 : 0644);
        st.st_nlink = 1;
        st.st_size = static_cast<off_t>(n.size);
        st.st_blocks = static_cast<blkcnt_t>((n.size + 511) / 512);
    }
    const struct timespec t = (n.mtime.tv_sec == 0 && n.mtime.tv_nsec == 0) ? started_ : n.mtime;
    st.st_mtim = st.st_atim = st.st_ctim = t;
}

bool TMailFs::FillStaged(TStagedFile& s, struct stat& st) const {
    struct stat real {};
    if (::fstat(s.fd, &real) != 0) return false;
    st = {};
    st.st_uid = uid_;
    st.st_gid = gid_;
    st.st_blksize = 4096;
    st.st_mode = S_IFREG | ((s.mode & 0200) ? 0644 : 0444);
    st.st_nlink = 1;
    st.st_size = real.st_size;
    st.st_blocks = real.st_blocks;
    st.st_mtim = st.st_atim = st.st_ctim = real.st_mtim;
    return true;
}

std::shared_ptr<TStagedFile> TMailFs::FindStaged(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = staged_.find(PathKey(path));
    return it == staged_.end() ? nullptr : it->second;
}

size_t TMailFs::OpenForWriting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return staged_.size();
}

int TMailFs::Getattr(const std::string& path, struct stat& st, THandle* h) {
    std::shared_ptr<TStagedFile> s = h && h->staged ? h->staged : FindStaged(path);
    if (s && FillStaged(*s, st)) return 0;
    auto table = Table();
    const TMountTable::TNode* n = table->Find(path);
    if (!n) return -ENOENT;
    Fill(*n, st);
    if (path == "/") st.st_mtim = st.st_atim = st.st_ctim = started_;
    return 0;
}

void TMailFs::MaybeRefresh(const std::string& path) {
    const double now = SteadySeconds();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto [it, inserted] = listed_.emplace(PathKey(path), readyAt_);
        const double last = it->second;
        it->second = now;
        if (now - last < refreshSeconds_ || !staged_.empty()) return;
    }
    auto done = std::make_shared<TCompletion>();
    bool queued = false;
    model_.Call([&] {
        // Never while writes are pending, nor again right after a refresh.
        if (box_.Queued() > 0 || now - box_.LastRefresh() < refreshSeconds_) return;
        box_.Refresh(done);
        queued = true;
    });
    if (!queued) return;
    done->Wait();
    model_.Call([] {}); // the round that applied the refresh has shown its table
}

int TMailFs::Readdir(const std::string& path, std::vector<TDirEntry>& out) {
    MaybeRefresh(path);
    auto table = Table();
    const TMountTable::TNode* dir = table->Find(path);
    if (!dir) return -ENOENT;
    if (!dir->isDir) return -ENOTDIR;
    std::unordered_map<std::string, size_t> seen;
    for (uint32_t c : dir->children) {
        const TMountTable::TNode& n = table->Node(c);
        struct stat st {};
        Fill(n, st);
        seen.emplace(LowerAscii(n.name), out.size());
        out.emplace_back(n.name, st);
    }
    // Files being written that the table does not have yet, or with their staged size.
    std::vector<std::shared_ptr<TStagedFile>> staged;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& [key, s] : staged_) staged.push_back(s);
    }
    for (auto& s : staged) {
        std::string parent, name;
        SplitFsPath(s->fsPath, parent, name);
        if (PathKey(parent) != PathKey(path)) continue;
        struct stat st {};
        if (!FillStaged(*s, st)) continue;
        auto it = seen.find(LowerAscii(name));
        if (it != seen.end())
            out[it->second].second = st;
        else
            out.emplace_back(name, st);
    }
    return 0;
}

std::string TMailFs::LocalCopy(const TMountTable::TNode& n, int& err) {
    auto done = std::make_shared<TCompletion>();
    std::string cache;
    model_.Call([&] {
        cache = box_.CachePathOf(n.mailboxPath);
        box_.EnsureLocal(n.mailboxPath, done);
    });
    std::string why;
    if (!done->Wait(&why)) {
        log_.Line("cannot read " + n.mailboxPath + ": " + why);
        err = -EIO;
        return {};
    }
    return cache;
}

int TMailFs::Open(const std::string& path, int flags, THandle*& out) {
    const bool write = (flags & O_ACCMODE) != O_RDONLY;
    const bool trunc = (flags & O_TRUNC) != 0;
    std::unique_lock<std::mutex> writers(openWrite_, std::defer_lock);
    if (write) writers.lock();
    if (auto s = FindStaged(path)) {
        if (write && trunc) {
            if (::ftruncate(s->fd, 0) != 0) return -errno;
            s->dirty = true;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ++s->refs;
        out = new THandle{-1, s, flags};
        return 0;
    }
    auto table = Table();
    const TMountTable::TNode* n = table->Find(path);
    if (!n) return -ENOENT;
    if (n->isDir) return write ? -EISDIR : 0;
    if (!write) {
        int err = 0;
        const std::string cache = LocalCopy(*n, err);
        if (cache.empty()) return err;
        const int fd = ::open(cache.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            const int e = errno;
            log_.Line("cannot read " + n->mailboxPath + ": " + std::strerror(e));
            return -EIO;
        }
        out = new THandle{fd, nullptr, flags};
        return 0;
    }
    std::string from;
    if (!trunc) {
        int err = 0;
        from = LocalCopy(*n, err);
        if (from.empty()) return err;
    }
    std::shared_ptr<TStagedFile> s;
    const int r = NewStaged(path, from, n, n->readOnly ? 0444 : 0644, s);
    if (r != 0) return r;
    s->dirty = trunc; // opened to be emptied: that is a change, even with nothing written
    std::lock_guard<std::mutex> lock(mutex_);
    s->refs = 1;
    staged_[PathKey(path)] = s;
    out = new THandle{-1, s, flags};
    return 0;
}

int TMailFs::NewStaged(const std::string& path, const std::string& from,
                       const TMountTable::TNode* node, mode_t mode,
                       std::shared_ptr<TStagedFile>& out) {
    auto s = std::make_shared<TStagedFile>();
    s->fsPath = path;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        s->stagingPath = staging_ + "/w" + std::to_string(++seq_);
    }
    if (from.empty()) {
        s->fd = ::open(s->stagingPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (s->fd < 0) {
            const int e = errno;
            log_.Line("cannot make a staging file " + s->stagingPath + ": " + std::strerror(e));
            return -EIO;
        }
    } else {
        const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
        std::string error;
        const bool ok = in >= 0 && CopyToNewFile(in, s->stagingPath, node ? &node->mtime : nullptr, error);
        if (in >= 0) ::close(in);
        if (!ok) {
            log_.Line("cannot stage " + path + ": " + (in < 0 ? std::strerror(errno) : error));
            return -EIO;
        }
        s->fd = ::open(s->stagingPath.c_str(), O_RDWR | O_CLOEXEC);
        if (s->fd < 0) return -EIO;
    }
    // The staging file is gone from the folder at once; the handles keep it open.
    ::unlink(s->stagingPath.c_str());
    s->mode = mode & 07777;
    out = std::move(s);
    return 0;
}

int TMailFs::Read(THandle& h, char* buf, size_t size, off_t offset) {
    const int fd = h.staged ? h.staged->fd : h.fd;
    if (fd < 0) return -EISDIR;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, buf + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -errno;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int>(done);
}

int TMailFs::Statfs(struct statvfs& st) {
    auto table = Table();
    st = {};
    st.f_bsize = st.f_frsize = 4096;
    const uint64_t capacity = table->Capacity, used = std::min(table->Used, table->Capacity);
    st.f_blocks = capacity / 4096;
    st.f_bfree = st.f_bavail = (capacity - used) / 4096;
    st.f_files = table->Count();
    st.f_ffree = st.f_favail = 1u << 20;
    st.f_namemax = 255;
    return 0;
}
