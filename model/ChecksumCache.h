#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>

struct stat;

// Checksums of cached files, remembered by path together with the file's size, change
// time and modification time and inode, so a listing only reads files that changed.
class TChecksumCache {
public:
    // False when the file does not exist (or is not a regular file).
    bool Lookup(const std::string& path, uint32_t& size, uint32_t& checksum);
    // A file the program itself has just written, with the checksum it computed while
    // writing and the file's status taken right after: the next listing does not read the
    // file again, and a change made after that status is still noticed.
    void Remember(const std::string& path, const struct stat& st, uint32_t checksum);
    void Clear() { map_.clear(); }

private:
    struct Entry {
        uint64_t size = 0, inode = 0;
        int64_t mtimeNs = 0, ctimeNs = 0;
        uint32_t checksum = 0;
    };
    static Entry EntryOf(const struct stat& st);
    std::unordered_map<std::string, Entry> map_;
};
