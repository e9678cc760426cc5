#include "LocalCopy.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

bool CopyToNewFile(int fromFd, const std::string& to, const struct timespec* mtime,
                   std::string& error) {
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        error = "cannot create " + to + ": " + std::strerror(errno);
        return false;
    }
    std::vector<char> buf(1 << 20);
    off_t pos = 0;
    bool ok = true;
    for (;;) {
        const ssize_t n = ::pread(fromFd, buf.data(), buf.size(), pos);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::string("cannot read the staged file: ") + std::strerror(errno);
            ok = false;
            break;
        }
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buf.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                error = "cannot write " + to + ": " + std::strerror(errno);
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
        pos += n;
    }
    if (ok && mtime) {
        const struct timespec times[2] = {*mtime, *mtime};
        if (::futimens(out, times) != 0) {
            error = "cannot set the time of " + to + ": " + std::strerror(errno);
            ok = false;
        }
    }
    if (::close(out) != 0 && ok) {
        error = "cannot write " + to + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok) ::unlink(to.c_str());
    return ok;
}
