#include "SubjectCaches.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The file: the magic text, the version, the number of caches; per cache its key, its
// UIDVALIDITY and its entries (id, subject); last a 64-bit FNV-1a hash of all the bytes
// before it. Numbers are little-endian, strings a 32-bit length and their bytes.
namespace {
const char kMagic[] = "Tavrel subject cache\n";
constexpr std::size_t kMagicLength = sizeof kMagic - 1;
constexpr uint32_t kVersion = 1;

uint64_t Fnv1a(const char* p, std::size_t n) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (std::size_t i = 0; i < n; ++i) {
        h ^= static_cast<unsigned char>(p[i]);
        h *= 0x100000001b3ull;
    }
    return h;
}

void PutNumber(std::string& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}

void PutString(std::string& out, const std::string& s) {
    PutNumber(out, s.size(), 4);
    out += s;
}

// Reads from the front of the data; every read fails once the bytes run out.
class TReader {
public:
    TReader(const char* p, std::size_t n) : p_(p), left_(n) {}
    bool Number(uint64_t& v, int bytes) {
        if (left_ < static_cast<std::size_t>(bytes)) return false;
        v = 0;
        for (int i = 0; i < bytes; ++i) v |= uint64_t(static_cast<unsigned char>(p_[i])) << (8 * i);
        p_ += bytes;
        left_ -= static_cast<std::size_t>(bytes);
        return true;
    }
    // A string of at most max bytes (and no more than are left).
    bool String(std::string& s, std::size_t max) {
        uint64_t n = 0;
        if (!Number(n, 4) || n > max || n > left_) return false;
        s.assign(p_, static_cast<std::size_t>(n));
        p_ += n;
        left_ -= static_cast<std::size_t>(n);
        return true;
    }
    std::size_t Left() const { return left_; }

private:
    const char* p_;
    std::size_t left_;
};

std::size_t FormattedSize(const std::string& key, const TSubjectCaches::TCache& c) {
    return 4 + key.size() + 8 + 4 + c.Bytes + 8 * c.Subjects.size();
}
} // namespace

TSubjectCaches::TSubjectCaches(std::string fileName) : fileName_(std::move(fileName)) {}

std::string TSubjectCaches::Format(const TMap& caches) {
    // The caches used most recently first, as many as the file may hold.
    std::vector<const TMap::value_type*> order;
    for (const auto& c : caches) order.push_back(&c);
    std::sort(order.begin(), order.end(),
              [](auto* a, auto* b) { return a->second.LastUse > b->second.LastUse; });
    std::size_t total = kMagicLength + 4 + 4 + 8;
    std::vector<const TMap::value_type*> kept;
    for (auto* c : order) {
        if (kept.size() >= kMaxCaches) break;
        const std::size_t size = FormattedSize(c->first, c->second);
        if (c->first.size() > kMaxKeyLength || c->second.Subjects.size() > kMaxSubjects ||
            c->second.Bytes > kMaxBytes || total + size > kMaxFileBytes)
            continue;
        total += size;
        kept.push_back(c);
    }
    std::string out;
    out.reserve(total);
    out.append(kMagic, kMagicLength);
    PutNumber(out, kVersion, 4);
    PutNumber(out, kept.size(), 4);
    for (auto* c : kept) {
        PutString(out, c->first);
        PutNumber(out, static_cast<uint64_t>(c->second.UidValidity), 8);
        PutNumber(out, c->second.Subjects.size(), 4);
        for (const auto& [id, subject] : c->second.Subjects) {
            PutString(out, id);
            PutString(out, subject);
        }
    }
    PutNumber(out, Fnv1a(out.data(), out.size()), 8);
    return out;
}

bool TSubjectCaches::Parse(const std::string& data, TMap& out) {
    if (data.size() > kMaxFileBytes || data.size() < kMagicLength + 4 + 4 + 8) return false;
    const std::size_t body = data.size() - 8;
    TReader hash(data.data() + body, 8);
    uint64_t stored = 0;
    if (!hash.Number(stored, 8) || stored != Fnv1a(data.data(), body)) return false;
    if (data.compare(0, kMagicLength, kMagic) != 0) return false;
    TReader in(data.data() + kMagicLength, body - kMagicLength);
    uint64_t version = 0, count = 0;
    if (!in.Number(version, 4) || version != kVersion) return false;
    if (!in.Number(count, 4) || count > kMaxCaches) return false;
    TMap caches;
    for (uint64_t c = 0; c < count; ++c) {
        std::string key;
        uint64_t validity = 0, entries = 0;
        if (!in.String(key, kMaxKeyLength) || key.empty() || caches.count(key)) return false;
        if (!in.Number(validity, 8) || static_cast<int64_t>(validity) < 0) return false;
        // Each entry takes at least 8 bytes: a count beyond what is left is damage.
        if (!in.Number(entries, 4) || entries > kMaxSubjects || entries > in.Left() / 8)
            return false;
        TCache cache;
        cache.UidValidity = static_cast<int64_t>(validity);
        cache.LastUse = count - c; // the file's order is the order of use
        cache.Subjects.reserve(static_cast<std::size_t>(entries));
        for (uint64_t e = 0; e < entries; ++e) {
            std::string id, subject;
            if (!in.String(id, kMaxIdLength) || id.empty()) return false;
            if (!in.String(subject, kMaxSubjectLength)) return false;
            cache.Bytes += id.size() + subject.size();
            if (cache.Bytes > kMaxBytes) return false;
            if (!cache.Subjects.emplace(std::move(id), std::move(subject)).second) return false;
        }
        caches.emplace(std::move(key), std::move(cache));
    }
    if (in.Left() != 0) return false;
    out = std::move(caches);
    return true;
}

void TSubjectCaches::Load() {
    if (loaded_) return;
    loaded_ = true;
    if (fileName_.empty()) return;
    const int fd = ::open(fileName_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return; // none yet
    std::string data;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
              static_cast<uint64_t>(st.st_size) <= kMaxFileBytes;
    if (ok) {
        data.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (got < data.size()) {
            const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        ok = got == data.size();
    }
    ::close(fd);
    TMap read;
    if (ok && Parse(data, read)) {
        caches_ = std::move(read);
        for (auto& c : caches_) uses_ = std::max(uses_, c.second.LastUse);
    } else {
        changed_ = true; // an unusable file is replaced at the next save
    }
}

TSubjectCaches::TCache& TSubjectCaches::For(const std::string& key) {
    Load();
    auto it = caches_.find(key);
    if (it == caches_.end()) {
        if (caches_.size() >= kMaxCaches) {
            // The one used longest ago makes room.
            auto oldest = std::min_element(caches_.begin(), caches_.end(), [](auto& a, auto& b) {
                return a.second.LastUse < b.second.LastUse;
            });
            caches_.erase(oldest);
            changed_ = true;
        }
        it = caches_.emplace(key, TCache{}).first;
    }
    it->second.LastUse = ++uses_;
    return it->second;
}

void TSubjectCaches::Drop(const std::string& key) {
    Load();
    if (caches_.erase(key) > 0) changed_ = true;
}

void TSubjectCaches::Save() {
    if (!changed_ || fileName_.empty()) return;
    // A failed write is not tried again until the next change: the cache is only a help.
    changed_ = false;
    const std::string data = Format(caches_);
    const std::string tmp = fileName_ + ".tmp";
    ::unlink(tmp.c_str()); // a left-over of any mode or kind, never written through
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    bool ok = ::fchmod(fd, 0600) == 0;
    for (std::size_t done = 0; ok && done < data.size();) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<std::size_t>(n);
    }
    // No fsync: a file cut short by a crash fails its hash and is rebuilt, which costs one
    // full reading of the mailbox, not the time of a sync at every save.
    if (::close(fd) != 0) ok = false;
    if (!ok || ::rename(tmp.c_str(), fileName_.c_str()) != 0) ::unlink(tmp.c_str());
}
