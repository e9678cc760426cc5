#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>

// Checksums of cached files, remembered by path together with the file's size, change
// time and modification time and inode, so a listing only reads files that changed.
class TChecksumCache {
public:
    // False when the file does not exist (or is not a regular file).
    bool Lookup(const std::string& path, uint32_t& size, uint32_t& checksum);
    void Clear() { map_.clear(); }

private:
    struct Entry {
        uint64_t size = 0, inode = 0;
        int64_t mtimeNs = 0, ctimeNs = 0;
        uint32_t checksum = 0;
    };
    std::unordered_map<std::string, Entry> map_;
};
