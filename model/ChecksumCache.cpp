#include "ChecksumCache.h"

#include "FileUtil.h"

#include <sys/stat.h>

TChecksumCache::Entry TChecksumCache::EntryOf(const struct stat& st) {
    Entry e;
    e.size = static_cast<uint64_t>(st.st_size);
    e.inode = static_cast<uint64_t>(st.st_ino);
    e.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    e.ctimeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return e;
}

void TChecksumCache::Remember(const std::string& path, const struct stat& st, uint32_t checksum) {
    if (!S_ISREG(st.st_mode)) return;
    Entry e = EntryOf(st);
    e.checksum = checksum;
    map_[path] = e;
}

bool TChecksumCache::Lookup(const std::string& path, uint32_t& size, uint32_t& checksum) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        map_.erase(path);
        return false;
    }
    Entry now = EntryOf(st);
    size = static_cast<uint32_t>(now.size);
    auto it = map_.find(path);
    if (it != map_.end() && it->second.size == now.size && it->second.inode == now.inode &&
        it->second.mtimeNs == now.mtimeNs && it->second.ctimeNs == now.ctimeNs) {
        checksum = it->second.checksum;
        return true;
    }
    now.checksum = FileChecksum(path);
    map_[path] = now;
    checksum = now.checksum;
    return true;
}
