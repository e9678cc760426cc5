#include "ProgramLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

TProgramLock::~TProgramLock() {
    if (fd_ >= 0) ::close(fd_);
}

bool TProgramLock::Acquire(const std::string& folder) {
    if (fd_ >= 0) return true;
    busy_ = false;
    error_.clear();
    const std::string name = folder + ".tavrel.lock";
    int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error_ = "cannot use the program folder " + folder + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        busy_ = errno == EWOULDBLOCK;
        error_ = busy_ ? "another Tavrel window or tavrel-cli is working with " + folder
                       : "cannot lock the program folder " + folder + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}
