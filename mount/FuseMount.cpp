#define FUSE_USE_VERSION 314
#include "FuseMount.h"

#include "MailFs.h"

#include <cerrno>
#include <cstring>
#include <fuse.h>

namespace {
TMailFs& Fs() { return *static_cast<TMailFs*>(fuse_get_context()->private_data); }

TMailFs::THandle* HandleOf(struct fuse_file_info* fi) {
    return fi ? reinterpret_cast<TMailFs::THandle*>(fi->fh) : nullptr;
}

// A request that throws (the model is being shut down) is an I/O error, never a crash.
template <class F> int Guard(F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return -ENOMEM;
    } catch (...) {
        return -EIO;
    }
}

void* Init(struct fuse_conn_info* conn, struct fuse_config* cfg) {
    // Opening with O_TRUNC comes as one request: no truncate of the stored file before it.
    if (conn->capable & FUSE_CAP_ATOMIC_O_TRUNC) conn->want |= FUSE_CAP_ATOMIC_O_TRUNC;
    cfg->use_ino = 0;
    cfg->hard_remove = 1;     // an open file that is removed is not renamed to a hidden one
    cfg->nullpath_ok = 0;
    cfg->entry_timeout = 1.0; // a refresh's changes show within a second
    cfg->attr_timeout = 1.0;
    cfg->negative_timeout = 0;
    cfg->auto_cache = 1;      // the kernel keeps the pages of a file while it is unchanged
    return fuse_get_context()->private_data;
}

int Getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
    return Guard([&] { return Fs().Getattr(path, *st, HandleOf(fi)); });
}

int Readdir(const char* path, void* buf, fuse_fill_dir_t filler, off_t, struct fuse_file_info*,
            enum fuse_readdir_flags) {
    return Guard([&] {
        std::vector<TMailFs::TDirEntry> entries;
        const int r = Fs().Readdir(path, entries);
        if (r != 0) return r;
        struct stat dot {};
        dot.st_mode = S_IFDIR | 0755;
        filler(buf, ".", &dot, 0, static_cast<fuse_fill_dir_flags>(0));
        filler(buf, "..", &dot, 0, static_cast<fuse_fill_dir_flags>(0));
        for (auto& [name, st] : entries)
            if (filler(buf, name.c_str(), &st, 0, FUSE_FILL_DIR_PLUS) != 0) break;
        return 0;
    });
}

int Open(const char* path, struct fuse_file_info* fi) {
    return Guard([&] {
        TMailFs::THandle* h = nullptr;
        const int r = Fs().Open(path, fi->flags, h);
        if (r == 0) fi->fh = reinterpret_cast<uint64_t>(h);
        return r;
    });
}

int Create(const char* path, mode_t mode, struct fuse_file_info* fi) {
    return Guard([&] {
        TMailFs::THandle* h = nullptr;
        const int r = Fs().Create(path, mode, fi->flags, h);
        if (r == 0) fi->fh = reinterpret_cast<uint64_t>(h);
        return r;
    });
}

int Read(const char*, char* buf, size_t size, off_t offset, struct fuse_file_info* fi) {
    return Guard([&] {
        TMailFs::THandle* h = HandleOf(fi);
        return h ? Fs().Read(*h, buf, size, offset) : -EBADF;
    });
}

int Write(const char*, const char* buf, size_t size, off_t offset, struct fuse_file_info* fi) {
    return Guard([&] {
        TMailFs::THandle* h = HandleOf(fi);
        return h ? Fs().Write(*h, buf, size, offset) : -EBADF;
    });
}

int Flush(const char*, struct fuse_file_info* fi) {
    return Guard([&] {
        TMailFs::THandle* h = HandleOf(fi);
        return h ? Fs().Flush(*h) : 0;
    });
}

int Fsync(const char*, int, struct fuse_file_info* fi) { return Flush(nullptr, fi); }

int Release(const char*, struct fuse_file_info* fi) {
    return Guard([&] { return Fs().Release(HandleOf(fi)); });
}

int Truncate(const char* path, off_t size, struct fuse_file_info* fi) {
    return Guard([&] { return Fs().Truncate(path, size, HandleOf(fi)); });
}

int Utimens(const char* path, const struct timespec tv[2], struct fuse_file_info* fi) {
    return Guard([&] { return Fs().Utimens(path, tv, HandleOf(fi)); });
}

int Chmod(const char* path, mode_t mode, struct fuse_file_info* fi) {
    return Guard([&] { return Fs().Chmod(path, mode, HandleOf(fi)); });
}

int Chown(const char* path, uid_t uid, gid_t gid, struct fuse_file_info*) {
    return Guard([&] { return Fs().Chown(path, uid, gid); });
}

int Mkdir(const char* path, mode_t) {
    return Guard([&] { return Fs().Mkdir(path); });
}

int Unlink(const char* path) {
    return Guard([&] { return Fs().Unlink(path); });
}

int Rmdir(const char* path) {
    return Guard([&] { return Fs().Rmdir(path); });
}

int Rename(const char* from, const char* to, unsigned int flags) {
    return Guard([&] { return Fs().Rename(from, to, flags); });
}

int Statfs(const char*, struct statvfs* st) {
    return Guard([&] { return Fs().Statfs(*st); });
}

struct fuse_operations Operations() {
    struct fuse_operations ops {};
    ops.init = Init;
    ops.getattr = Getattr;
    ops.readdir = Readdir;
    ops.open = Open;
    ops.create = Create;
    ops.read = Read;
    ops.write = Write;
    ops.flush = Flush;
    ops.fsync = Fsync;
    ops.release = Release;
    ops.truncate = Truncate;
    ops.utimens = Utimens;
    ops.chmod = Chmod;
    ops.chown = Chown;
    ops.mkdir = Mkdir;
    ops.unlink = Unlink;
    ops.rmdir = Rmdir;
    ops.rename = Rename;
    ops.statfs = Statfs;
    return ops;
}
} // namespace

TFuseMount::TFuseMount(TMailFs& fs) : fs_(fs) {}

TFuseMount::~TFuseMount() {
    Unmount();
    if (fuse_) fuse_destroy(fuse_);
}

bool TFuseMount::Mount(const std::string& mountPoint, const std::vector<std::string>& options,
                       bool debug, std::string& error) {
    std::vector<std::string> argv = {"tavrel-mount"};
    if (debug) argv.push_back("-d");
    std::string list = "fsname=tavrel,subtype=tavrel,default_permissions";
    for (const auto& o : options) list += "," + o;
    argv.push_back("-o");
    argv.push_back(list);
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    struct fuse_args args = FUSE_ARGS_INIT(static_cast<int>(raw.size()), raw.data());
    const struct fuse_operations ops = Operations();
    fuse_ = fuse_new(&args, &ops, sizeof(ops), &fs_);
    fuse_opt_free_args(&args);
    if (!fuse_) {
        error = "libfuse refused the options " + list;
        return false;
    }
    if (fuse_mount(fuse_, mountPoint.c_str()) != 0) {
        error = "cannot mount on " + mountPoint + " (see the message above)";
        return false;
    }
    mounted_ = true;
    return true;
}

int TFuseMount::Serve(bool signals) {
    struct fuse_session* se = fuse_get_session(fuse_);
    if (signals && fuse_set_signal_handlers(se) != 0) return -1;
    struct fuse_loop_config* config = fuse_loop_cfg_create();
    fuse_loop_cfg_set_max_threads(config, 16);
    const int r = fuse_loop_mt(fuse_, config);
    fuse_loop_cfg_destroy(config);
    if (signals) fuse_remove_signal_handlers(se);
    return r;
}

void TFuseMount::Exit() {
    if (fuse_) fuse_exit(fuse_);
}

void TFuseMount::Unmount() {
    if (!mounted_) return;
    mounted_ = false;
    fuse_unmount(fuse_);
}
