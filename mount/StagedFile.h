#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <sys/types.h>

// A file of the mount that is open for writing: its bytes live in a private staging file
// in the cache folder (never in the cache copy of the stored file) until a flush stores
// them. Every open handle of the path shares the one staging file, so they all see the
// same bytes. The mode bits given by create or chmod are kept here and given to the copy
// that is stored (its read-only attribute).
struct TStagedFile {
    std::string fsPath;       // where it is in the mounted tree (changed under TMailFs's lock)
    std::string stagingPath;  // our private file
    int fd = -1;              // read and write, shared by the handles
    std::atomic<bool> dirty{false};   // changed since the last store
    std::atomic<bool> unlinked{false}; // removed from the tree while open: never stored
    std::atomic<mode_t> mode{0644};
    int refs = 0;             // open handles (under TMailFs's lock)
    std::mutex storing;       // one store of this file at a time
};
