#pragma once
#include <functional>
#include <memory>
#include <string>

struct TExOp;
class TMailFolder;
class TMailFolders;

// One mailbox of a collection that another thread owns (the window's) as a mounted folder,
// read-only: reading a file that is not in the cache downloads it through the collection's
// worker, so another program can copy entries that are not local from their paths in it.
// libfuse serves it on a thread of its own. Every method runs on the thread that owns the
// collection; the file system reaches that thread only through `post` (a task to run soon
// on it, never waited for there), and Stop never waits for a request that waits for it.
class TBoxMount {
public:
    using TPost = std::function<void(std::function<void()>)>;
    explicit TBoxMount(TPost post);
    ~TBoxMount(); // Stop()
    TBoxMount(const TBoxMount&) = delete;
    TBoxMount& operator=(const TBoxMount&) = delete;

    // Why no mount can be made here, "" when one can: no usable /dev/fuse, no fusermount3.
    static std::string Unavailable();
    // The mount folder of a program folder: `runtimeDir`/tavrel-<hash of appDir>/mnt, ""
    // without a runtime folder.
    static std::string MountPointFor(const std::string& appDir, const std::string& runtimeDir);
    // Takes away a mount that a program which did not end properly left on `mountPoint`
    // (the file system of its folder answers ENOTCONN). True when there was one.
    static bool CleanStale(const std::string& mountPoint);
    // The path in the mount of a mailbox path ("\a\b" or "\a\b\"); "" when a name in it
    // is not shown there.
    static std::string PathIn(const std::string& mountPoint, const std::string& mailboxPath);
    // Whether `path` is `mountPoint` or below it, by its name (no file call).
    static bool Below(const std::string& mountPoint, const std::string& path);

    // Mounts `box` on `mountPoint` (made as need be, mode 0700). False with `error`.
    bool Start(TMailFolders& folders, TMailFolder& box, const std::string& mountPoint,
               std::string& error);
    // Unmounts; the downloads that readers wait for end for them (as failures), those that
    // are queued go on in the mailbox.
    void Stop();
    TMailFolder* Box() const;
    // "" while nothing is mounted.
    const std::string& MountPoint() const;
    // Whether `path` lies in the mount: by name, or by the device a stat shows (a symbolic
    // link into it). A stat in it is served without the owning thread.
    bool Holds(const std::string& path) const;

    // Every operation's end of the collection (downloads fulfil their readers).
    void Finished(TMailFolder* box, const TExOp& op, bool ok);
    // The mailbox's table changed outside the mount: shown again.
    void Publish();

private:
    struct TImpl;
    TPost post_;
    std::unique_ptr<TImpl> impl_;
    std::string mountPoint_;
};
