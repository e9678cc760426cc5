// Downloads queued back to back: the files behind the current download are fetched in the
// same command stream and kept as verified copies until their own operations run.
#include "MailThread.h"

#include "MailFolders.h"
#include "TextUtil.h"

#include <cstdio>
#include <sys/stat.h>
#include <unordered_set>

void TMailThread::DropFetchedAhead() {
    for (const TFetchedAhead& f : FetchedAhead) std::remove(f.temp.c_str());
    FetchedAhead.clear();
    AheadBox = nullptr;
    AheadKey.clear();
}

std::vector<TMailThread::TFetchedAhead> TMailThread::DownloadsBehind(const std::string& current) {
    std::vector<TFetchedAhead> behind;
    // Copies not taken yet are not fetched again (a retried download); and they stay few.
    if (static_cast<int>(FetchedAhead.size()) >= kMaxAheadFiles) return behind;
    std::unordered_set<std::string> seen{LowerAscii(current)};
    for (const TFetchedAhead& f : FetchedAhead) seen.insert(LowerAscii(f.path));
    Sync([&] {
        if (!MailboxAlive()) return;
        uint64_t bytes = 0;
        // The operation being served is the first of the queue; PickNext takes the next.
        for (int k = 1; k < Mailbox->Ops.Count(); ++k) {
            if (static_cast<int>(behind.size()) >= kMaxAheadFiles) break;
            const TExOp op = Mailbox->Ops.Get(k);
            if (op.Kind != opDownload) break;
            const std::string path = op.Path + op.Name;
            if (path.empty() || path.back() == '\\' || !seen.insert(LowerAscii(path)).second)
                continue;
            const int i = Mailbox->Files.IndexOf(path);
            if (i < 0) continue;
            const TExFile& e = Mailbox->Files.Items(i);
            if (e.IsFolder || !e.Parts || e.Parts->empty()) continue;
            if (bytes + e.Size > kMaxAheadBytes) break;
            TFetchedAhead f;
            f.path = path;
            f.size = e.Size;
            f.hash = e.Hash;
            f.parts = *e.Parts;
            f.local = Mailbox->CachePathOf(path);
            if (f.local.empty()) continue;
            bytes += e.Size;
            behind.push_back(std::move(f));
        }
    });
    // Only files whose every part the header list knows: the others go on their own.
    std::vector<TFetchedAhead> known;
    for (TFetchedAhead& f : behind) {
        bool all = true;
        for (const std::string& part : f.parts)
            if (part.empty() || HeaderCache.find(LowerAscii(part)) == HeaderCache.end()) all = false;
        if (all) known.push_back(std::move(f));
    }
    return known;
}

bool TMailThread::TakeFetchedAhead(const std::string& path, uint32_t size, uint32_t hash,
                                   const std::vector<std::string>& parts, const std::string& local) {
    for (auto it = FetchedAhead.begin(); it != FetchedAhead.end(); ++it) {
        if (!SameTextAscii(it->path, path)) continue;
        TFetchedAhead f = std::move(*it);
        FetchedAhead.erase(it);
        // Stored again or changed in the table since it was fetched: the copy is not it.
        if (f.size != size || f.hash != hash || f.parts != parts || f.local != local ||
            std::rename(f.temp.c_str(), local.c_str()) != 0) {
            std::remove(f.temp.c_str());
            return false;
        }
        struct stat st {};
        if (::stat(local.c_str(), &st) == 0)
            Sync([&] {
                if (MailboxAlive()) Mailbox->Checksums.Remember(local, st, hash);
            });
        return true;
    }
    return false;
}
