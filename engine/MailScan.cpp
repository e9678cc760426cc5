// Reading the subjects of the inbox: known ones from the subject cache, the others fetched
// in batches (pipelined POP3 TOP, IMAP4 FETCH ranges).
#include "MailThread.h"

void TMailThread::ReportScanProgress(bool force) {
    const uint64_t now = TickMs();
    if (!force && now - LastScanReport < 50) return;
    LastScanReport = now;
    Sync([this] { ReportProgress(); });
}

std::string TMailThread::ReaderCacheKey() {
    const TIdTCPConnection& r = Reader();
    return std::string(UseImap ? "imap " : "pop3 ") + r.Host + ":" + std::to_string(r.Port) + " " +
           r.Username;
}

void TMailThread::SaveSubjects(bool now) {
    if (!SubjectCaches.Unsaved()) return;
    const uint64_t tick = TickMs();
    if (!now && tick - SubjectsSavedAt < kSubjectSaveMs) return;
    SubjectCaches.Save();
    SubjectsSavedAt = tick;
}

TMailThread::TSubjectCache* TMailThread::CacheForReader(std::vector<std::string>& ids, int n) {
    ids.clear();
    if (n <= 0 || n > kMaxListedMessages) return nullptr;
    int64_t validity = 0;
    bool listed = false;
    if (UseImap) {
        validity = Imap4.MailBox().UIDValidity;
        if (validity <= 0) return nullptr; // UIDs without a validity cannot be trusted later
        listed = Imap4.FetchUids(n, ids);
    } else {
        listed = Pop3.ListUniqueIds(n, ids);
    }
    if (!listed) {
        ids.clear();
        return nullptr;
    }
    // An id named for two mails tells neither apart: both are read from the server.
    {
        std::unordered_map<std::string, int> seen;
        seen.reserve(ids.size());
        for (const auto& id : ids)
            if (!id.empty()) ++seen[id];
        for (auto& id : ids)
            if (!id.empty() && seen[id] > 1) id.clear();
    }
    TSubjectCache& cache = SubjectCaches.For(ReaderCacheKey());
    if (cache.UidValidity != validity) {
        // Another mailbox behind the same name: every UID may name another mail now.
        if (!cache.Subjects.empty()) SubjectCaches.Changed();
        cache.Subjects.clear();
        cache.Bytes = 0;
        cache.UidValidity = validity;
    }
    // Only the mails that are still there stay in the cache.
    if (!cache.Subjects.empty()) {
        std::unordered_map<std::string, std::string> kept;
        std::size_t bytes = 0;
        for (const auto& id : ids) {
            if (id.empty()) continue;
            auto f = cache.Subjects.find(id);
            if (f == cache.Subjects.end()) continue;
            bytes += id.size() + f->second.size();
            kept.emplace(id, std::move(f->second));
        }
        if (kept.size() != cache.Subjects.size()) SubjectCaches.Changed();
        cache.Subjects.swap(kept);
        cache.Bytes = bytes;
    }
    return &cache;
}

void TMailThread::ScanHeaders(int n, bool descending,
                              const std::function<bool(int, const THeader&)>& visit) {
    LastScanReport = 0; // a new scan reports its first header at once
    ScanCached.assign(static_cast<size_t>(n > 0 ? n : 0) + 1, false);
    if (n <= 0) return;
    std::vector<std::string> ids;
    TSubjectCache* cache = CacheForReader(ids, n);
    auto cached = [&](int a) -> const std::string* {
        if (!cache) return nullptr;
        const std::string& id = ids[static_cast<size_t>(a - 1)];
        if (id.empty()) return nullptr;
        auto f = cache->Subjects.find(id);
        return f == cache->Subjects.end() ? nullptr : &f->second;
    };
    auto remember = [&](int a, const THeader& h) {
        if (!cache || h.State != THeader::srRead) return;
        const std::string& id = ids[static_cast<size_t>(a - 1)];
        if (id.empty() || (UseImap && h.Uid != id)) return; // the header must name its mail
        if (id.size() > TSubjectCaches::kMaxIdLength ||
            h.Subject.size() > TSubjectCaches::kMaxSubjectLength)
            return;
        if (cache->Subjects.size() >= TSubjectCaches::kMaxSubjects ||
            cache->Bytes + id.size() + h.Subject.size() > TSubjectCaches::kMaxBytes)
            return;
        if (cache->Subjects.emplace(id, h.Subject).second) {
            cache->Bytes += id.size() + h.Subject.size();
            SubjectCaches.Changed();
        }
    };

    const int step = descending ? -1 : 1;
    std::unordered_map<int, THeader> fetched; // the batch being visited
    std::exception_ptr lost;                  // the connection broke during the last batch
    int a = descending ? n : 1;
    for (int i = 0; i < n; ++i, a += step) {
        THeader h;
        if (const std::string* s = cached(a)) {
            h.State = THeader::srRead;
            h.Subject = *s;
            ScanCached[static_cast<size_t>(a)] = true;
        } else {
            auto f = fetched.find(a);
            if (f == fetched.end()) {
                if (lost) std::rethrow_exception(lost);
                // The next headers the cache does not know, in the order of the scan.
                fetched.clear();
                std::vector<int> batch, next; // and the batch after it, asked for ahead
                int j = i, b = a;
                for (; j < n && batch.size() < kScanChunk; ++j, b += step)
                    if (!cached(b)) batch.push_back(b);
                for (; UseImap && j < n && next.size() < kScanChunk; ++j, b += step)
                    if (!cached(b)) next.push_back(b);
                auto sink = [&](int m, TIdSubjectResult& r) {
                    remember(m, r);
                    fetched[m] = std::move(r);
                };
                try {
                    Message.ClearHeader();
                    if (UseImap)
                        Imap4.FetchSubjects(batch, Message, sink, next);
                    else
                        Pop3.FetchSubjects(batch, Message, sink);
                } catch (const TStopped&) {
                    throw;
                } catch (...) {
                    lost = std::current_exception();
                }
                Message.ClearHeader();
                f = fetched.find(a);
                if (f == fetched.end()) {
                    if (lost) std::rethrow_exception(lost);
                    f = fetched.emplace(a, THeader{}).first; // no outcome: not read
                }
            }
            h = std::move(f->second);
            fetched.erase(f);
        }
        if (!visit(a, h)) return;
    }
}

bool TMailThread::CachedSubjectsHold(const std::vector<std::pair<int, std::string>>& matched) {
    std::vector<int> numbers;
    std::unordered_map<int, const std::string*> expected;
    for (const auto& [a, subject] : matched)
        if (a > 0 && static_cast<size_t>(a) < ScanCached.size() && ScanCached[static_cast<size_t>(a)] &&
            expected.emplace(a, &subject).second)
            numbers.push_back(a);
    if (numbers.empty()) return true;
    bool same = true;
    auto sink = [&](int m, TIdSubjectResult& r) {
        auto f = expected.find(m);
        if (f == expected.end()) return;
        if (r.State != THeader::srRead || r.Subject != *f->second) same = false;
        expected.erase(f);
    };
    Message.ClearHeader();
    struct TClear {
        TIdMessage& m;
        ~TClear() { m.ClearHeader(); }
    } clear{Message};
    if (UseImap)
        Imap4.FetchSubjects(numbers, Message, sink);
    else
        Pop3.FetchSubjects(numbers, Message, sink);
    if (same && expected.empty()) return true;
    // An error while reading one of them raised above; what reads otherwise, or not at all,
    // means the cache named another mail: none of it is used again.
    SubjectCaches.Drop(ReaderCacheKey());
    return false;
}
