#pragma once
#include <ctime>
#include <string>
#include <sys/types.h>

// Copies of our own files inside the cache folder: every byte of the open file `fromFd`
// (from offset 0) into a new file `to` (mode 0600), with the given modification time
// (atime = mtime; null keeps the copy's own). False with `error` set; nothing is left then.
bool CopyToNewFile(int fromFd, const std::string& to, const struct timespec* mtime,
                   std::string& error);
