#include "BoxMount.h"

#include "FuseMount.h"
#include "MailFolder.h"
#include "MailFs.h"
#include "MountLog.h"
#include "MountNames.h"
#include "MountPrompt.h"
#include "MountedBox.h"
#include "PostedCaller.h"
#include "ProgressPrinter.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {
// Nobody answers questions of a mount in the background: every one gets its negative answer
// (TMountPrompt, serving, never asks this one).
class TNoPrompt : public IPrompt {
public:
    int MessageBox(const std::string&, const std::string&, unsigned) override { return id::Cancel; }
    bool InputLine(const std::string&, const std::string&, std::string&, bool) override { return false; }
};

// The file system never lists the mailbox again by itself: the window does that.
constexpr int kNoRefresh = INT_MAX / 2;
// How long Stop waits for libfuse's threads once the mount is gone: a reader that keeps a
// file open keeps them; they are then left to end alone.
constexpr int kServerEndMs = 3000;

bool FindInPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        if (::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// fusermount3 -u -z: the mount goes from the tree at once, the connection once nothing in
// it is open any more. True when it succeeded.
bool LazyUnmount(const std::string& mountPoint) {
    std::string a0 = "fusermount3", a1 = "-u", a2 = "-z", a3 = "-q", a4 = "--", a5 = mountPoint;
    char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), a4.data(), a5.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int r = posix_spawnp(&pid, "fusermount3", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

uint64_t Fnv1a(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}
} // namespace

struct TBoxMount::TImpl {
    explicit TImpl(TPost post)
        : caller(std::move(post)), printer(stderr, false), log(printer), prompt(noPrompt, log) {
        prompt.SetServing(true);
    }

    TPostedCaller caller;
    TNoPrompt noPrompt;
    TProgressPrinter printer;
    TMountLog log;
    TMountPrompt prompt;
    TMountedBox box{log, prompt};
    std::unique_ptr<TMailFs> fs;
    std::unique_ptr<TFuseMount> mount;
    TMailFolder* mailbox = nullptr;
    dev_t device = 0;
    std::thread server;
    std::mutex mutex;
    std::condition_variable ended;
    bool served = false;
};

TBoxMount::TBoxMount(TPost post) : post_(std::move(post)) {}

TBoxMount::~TBoxMount() { Stop(); }

std::string TBoxMount::Unavailable() {
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        return errno == ENOENT ? "there is no /dev/fuse" : "/dev/fuse cannot be used";
    if (!FindInPath("fusermount3")) return "fusermount3 is not installed";
    return {};
}

std::string TBoxMount::MountPointFor(const std::string& appDir, const std::string& runtimeDir) {
    if (runtimeDir.empty() || runtimeDir[0] != '/') return {};
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fnv1a(appDir)));
    std::string dir = runtimeDir;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir + "/tavrel-" + hash + "/mnt";
}

bool TBoxMount::CleanStale(const std::string& mountPoint) {
    // statvfs always asks the file system (a stat may be answered from the kernel's cache
    // for a while after the server died).
    struct statvfs st {};
    if (mountPoint.empty() || ::statvfs(mountPoint.c_str(), &st) == 0 || errno != ENOTCONN)
        return false;
    return LazyUnmount(mountPoint);
}

std::string TBoxMount::PathIn(const std::string& mountPoint, const std::string& mailboxPath) {
    std::vector<std::string> names;
    if (mountPoint.empty() || !ShownComponents(mailboxPath, names)) return {};
    std::string path = mountPoint;
    for (const std::string& n : names) path += "/" + n;
    return path;
}

bool TBoxMount::Below(const std::string& mountPoint, const std::string& path) {
    if (mountPoint.empty() || path.empty()) return false;
    namespace fs = std::filesystem;
    const std::string p = fs::path(path).lexically_normal().string();
    const std::string m = fs::path(mountPoint).lexically_normal().string();
    return p == m || (p.size() > m.size() && p.compare(0, m.size(), m) == 0 && p[m.size()] == '/');
}

bool TBoxMount::Holds(const std::string& path) const {
    if (!impl_) return false;
    if (Below(mountPoint_, path)) return true;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_dev == impl_->device;
}

bool TBoxMount::Start(TMailFolders& folders, TMailFolder& box, const std::string& mountPoint,
                      std::string& error) {
    Stop();
    namespace fs = std::filesystem;
    if (mountPoint.empty()) {
        error = "there is no runtime folder ($XDG_RUNTIME_DIR)";
        return false;
    }
    CleanStale(mountPoint);
    std::error_code ec;
    const std::string parent = fs::path(mountPoint).parent_path().string();
    for (const std::string& dir : {parent, mountPoint}) {
        if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot make the folder " + dir;
            return false;
        }
    }
    // Folders of a mount that could not be made go again (only when empty).
    auto removeDirs = [&] {
        fs::remove(mountPoint, ec);
        fs::remove(parent, ec);
    };
    auto impl = std::make_unique<TImpl>(post_);
    if (!impl->box.Attach(folders, box, error)) {
        removeDirs();
        return false;
    }
    impl->mailbox = &box;
    impl->fs = std::make_unique<TMailFs>(impl->caller, impl->box, impl->log, false, kNoRefresh);
    impl->box.Publish();
    impl->mount = std::make_unique<TFuseMount>(*impl->fs);
    if (!impl->mount->Mount(mountPoint, {"ro"}, false, error)) {
        error = "the mount on " + mountPoint + " failed";
        impl->box.Close();
        impl.reset();
        removeDirs();
        return false;
    }
    TImpl* raw = impl.get();
    impl->server = std::thread([raw] {
        // The window's signals are none of the file system's business.
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        raw->mount->Serve(false);
        std::lock_guard<std::mutex> lock(raw->mutex);
        raw->served = true;
        raw->ended.notify_all();
    });
    // Only once it is served: the kernel's first request waits for the server. A stat is
    // answered from the table (no wait for this thread).
    struct stat st {};
    if (::stat(mountPoint.c_str(), &st) == 0) impl->device = st.st_dev;
    impl_ = std::move(impl);
    mountPoint_ = mountPoint;
    return true;
}

void TBoxMount::Stop() {
    if (!impl_) return;
    TImpl& impl = *impl_;
    // Requests waiting for this thread give up first, then the readers' downloads end.
    impl.caller.Close();
    impl.box.Close();
    impl.mount->Exit();
    const bool unmounted = LazyUnmount(mountPoint_);
    bool served = false;
    {
        std::unique_lock<std::mutex> lock(impl.mutex);
        served = impl.ended.wait_for(lock, std::chrono::milliseconds(unmounted ? kServerEndMs : 0),
                                     [&] { return impl.served; });
    }
    if (served) {
        impl.server.join();
        impl.mount->Unmount();
        impl_.reset();
    } else {
        // A reader still holds a file open (or the mount would not go): libfuse's threads
        // serve it from its open cache copy until it lets go; what they use stays.
        impl.server.detach();
        (void)impl_.release();
    }
    std::error_code ec;
    std::filesystem::remove(mountPoint_, ec); // empty folders only
    std::filesystem::remove(std::filesystem::path(mountPoint_).parent_path(), ec);
    mountPoint_.clear();
}

TMailFolder* TBoxMount::Box() const { return impl_ ? impl_->mailbox : nullptr; }

const std::string& TBoxMount::MountPoint() const { return mountPoint_; }

void TBoxMount::Finished(TMailFolder* box, const TExOp& op, bool ok) {
    if (!impl_) return;
    impl_->box.Finished(box, op, ok);
    impl_->box.Publish();
}

void TBoxMount::Publish() {
    if (!impl_) return;
    impl_->box.MarkChanged();
    impl_->box.Publish();
}
