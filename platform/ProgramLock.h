#pragma once
#include <string>

// One user of a program folder at a time: the window and tavrel-cli both wipe the cache
// folder MailRoot when they end, which would pull files from under the other's downloads.
// The lock is an flock on AppDir + ".tavrel.lock", held while the object lives; the system
// drops it when the process ends, however it ends.
class TProgramLock {
public:
    TProgramLock() = default;
    ~TProgramLock();
    TProgramLock(const TProgramLock&) = delete;
    TProgramLock& operator=(const TProgramLock&) = delete;

    // Takes the lock of the folder (with trailing "/"). False with `error` set when another
    // process holds it ("busy") or the lock file cannot be opened.
    bool Acquire(const std::string& folder);
    bool Busy() const { return busy_; }
    const std::string& Error() const { return error_; }

private:
    int fd_ = -1;
    bool busy_ = false;
    std::string error_;
};
