#pragma once
#include <string>
#include <vector>

class TMailFs;
struct fuse;

// The kernel side: libfuse's high-level interface over a TMailFs, served by libfuse's
// threads. Mount makes the mount (the folder must exist); Serve runs until it is unmounted
// (fusermount3 -u) or a SIGINT, SIGTERM or SIGHUP arrives; Unmount takes the mount away if
// it is still there.
class TFuseMount {
public:
    explicit TFuseMount(TMailFs& fs);
    ~TFuseMount();
    TFuseMount(const TFuseMount&) = delete;
    TFuseMount& operator=(const TFuseMount&) = delete;

    // False with `error` set when libfuse refuses the options or the mount.
    bool Mount(const std::string& mountPoint, const std::vector<std::string>& options, bool debug,
               std::string& error);
    // 0 when it ended by an unmount, else the number of the signal that ended it. Without
    // `signals` the process's signal handlers stay as they are (the window's own); it then
    // ends only by an unmount.
    int Serve(bool signals = true);
    // Asks Serve to end: it does once the mount is taken away (no signal needed).
    void Exit();
    void Unmount();

private:
    TMailFs& fs_;
    struct fuse* fuse_ = nullptr;
    bool mounted_ = false;
};
