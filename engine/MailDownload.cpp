// Bringing a stored file back into the cache: find each part's mail by its subject, append
// the attachments in order, and keep the file only when size and checksum match.
#include "MailThread.h"

#include "FileUtil.h"
#include "MailFolders.h"
#include "TextUtil.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <filesystem>
#include <unistd.h>
#include <unordered_map>

namespace fs = std::filesystem;

namespace {
void WriteAllTo(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) throw std::runtime_error("Cannot write the downloaded file.");
        p += w;
        n -= static_cast<size_t>(w);
    }
}

// The first attachment of each part mail, appended to one file as the mail is read, with
// its checksum taken on the way; never more than the file holds is written.
struct TPartWriter {
    int fd = -1;
    uint64_t size = 0;
    uint64_t written = 0;
    uint32_t hash = 0;
    uint64_t partStart = 0;
    uint32_t partStartHash = 0;

    void Data(const char* p, size_t n) {
        if (written + n <= size) {
            WriteAllTo(fd, p, n);
            hash = ChecksumUpdate(hash, p, n);
        }
        written += n;
    }
    // After each mail: a mail the server did not give as asked for adds nothing. False
    // once more came than the file holds (it cannot check out).
    bool PartDone(bool fetched) {
        if (!fetched && written != partStart) {
            if (::ftruncate(fd, static_cast<off_t>(partStart)) != 0 ||
                ::lseek(fd, static_cast<off_t>(partStart), SEEK_SET) < 0)
                throw std::runtime_error("Cannot write the downloaded file.");
            written = partStart;
            hash = partStartHash;
        }
        partStart = written;
        partStartHash = hash;
        return written <= size;
    }
};

// A file behind the current download, fetched in the same stream.
struct TAheadWriter {
    TPartWriter w;
    std::string temp;
    std::size_t last = 0; // its last position in the fetched numbers
    bool bad = false;     // a write failed: the copy is dropped at the end
};

std::string TempBeside(const std::string& local, const char* suffix) {
    const fs::path target(local);
    return (target.parent_path() / ('.' + target.filename().string() + suffix)).string();
}
} // namespace

bool TMailThread::Download() {
    CountBytes = false;
    ProgressBase = 0;
    const std::string R = CurrentOp.Path + CurrentOp.Name;
    // The entry is read on the window's thread; the download works from this copy.
    bool found = false;
    uint32_t size = 0, hash = 0;
    std::vector<std::string> parts;
    std::string local;
    Sync([&] {
        if (!MailboxAlive()) return;
        int i = Mailbox->Files.IndexOf(R);
        if (i < 0) return;
        const TExFile& e = Mailbox->Files.Items(i);
        found = true;
        size = e.Size;
        hash = e.Hash;
        if (e.Parts) parts = *e.Parts;
        local = Mailbox->CachePathOf(R);
    });
    if (R.empty() || R.back() == '\\' || !found || parts.empty()) return true;
    if (local.empty()) return false;
    if (TakeFetchedAhead(R, size, hash, parts, local)) return true; // fetched with the one before
    if (std::find(parts.begin(), parts.end(), std::string()) != parts.end()) {
        // Parts that were never stored cannot be fetched, however often it is tried.
        Refused = true;
        LastError = "\"" + R + "\" is incomplete on the server (an upload of it did not " +
                    "finish); store it again.";
        return false;
    }

    fs::path target(local);
    std::error_code ec;
    fs::remove(target, ec);
    fs::create_directories(target.parent_path(), ec);
    // Written under a temporary name and renamed only once it checks out, so a damaged
    // copy is never shown as the file.
    const std::string temp = TempBeside(local, ".tavrel-download");
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        WaitMs(config_.CreateFileRetryMs);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) {
            LastError = "Cannot create \"" + temp + "\": " + std::strerror(errno) + ".";
            WaitMs(config_.CreateFileRetryMs);
            return false;
        }
    }
    bool keep = false;
    struct Guard {
        TMailThread* t;
        int& fd;
        const std::string& temp;
        bool& keep;
        ~Guard() {
            t->CountBytes = false;
            t->Position = 0;
            t->Maximum = 0;
            if (fd >= 0) ::close(fd);
            if (!keep) ::unlink(temp.c_str());
            t->Message.ClearBody();
            try {
                t->Sync([this] { t->ReportProgress(); });
                t->SetStatus("");
            } catch (...) {
            }
            // A download that checked out leaves its session to the next download.
            if (keep && t->Reader().Connected())
                t->KeepSession(opDownload);
            else
                t->DisconnectQuietly(t->Reader());
        }
    } guard{this, fd, temp, keep};

    bool reused = false;
    if (!ConnectReader(true, &reused)) return false;
    Position = 0;
    Maximum = 0;
    Sync([this] { ReportProgress(); });
    Maximum = static_cast<int64_t>(std::nearbyint(size / 0.8)) + 3072;
    SetStatus("Locate mail should be downloaded");
    // A session kept from the download before, on the same account with nothing else done
    // between, has INBOX selected, and the header list's message numbers are its own. A
    // new login reads them again: another client may have changed the mailbox meanwhile.
    const bool listKnown = reused && !HeaderCacheKey.empty() && HeaderCacheKey == PickedKey;
    if (UseImap && !(listKnown && Imap4.ConnectionState() == TIdIMAP4::csSelected))
        Imap4.SelectMailbox("INBOX");
    if (!listKnown) {
        const int n = ReaderCount();
        HeaderCache.clear();
        HeaderCache.reserve(static_cast<size_t>(n > 0 ? n : 0));
        ScanHeaders(n, false, [&](int s, const THeader& h) {
            if (h.State == THeader::srError) throw EIdException(h.Error); // ends the attempt
            if (h.State == THeader::srRead && !h.Subject.empty())
                HeaderCache.emplace(LowerAscii(h.Subject), s); // the first mail of a subject
            Position = s;
            ReportScanProgress(s == 1 || s == n);
            return true;
        });
        HeaderCacheKey = PickedKey;
    }
    StartCounting();
    SetStatus("Download...");
    // The mail of each part, by message number, in the order of the parts; a part whose
    // mail is not there is left out (the size check below then fails).
    std::vector<int> numbers;
    for (const std::string& slot : parts) {
        auto f = HeaderCache.find(LowerAscii(slot));
        if (f != HeaderCache.end()) numbers.push_back(f->second);
    }

    // Downloads queued right behind this one ride on the same command stream, each into
    // a copy of its own that its operation takes over (and reports) when it runs.
    const std::size_t own = numbers.size();
    std::vector<TFetchedAhead> behind;
    if (own == parts.size()) behind = DownloadsBehind(R);
    std::vector<TAheadWriter> writers(behind.size());
    std::vector<int> owner(own, -1); // per fetched number: -1 this file, else its writer
    for (std::size_t j = 0; j < behind.size(); ++j) {
        for (const std::string& part : behind[j].parts) {
            numbers.push_back(HeaderCache.find(LowerAscii(part))->second);
            owner.push_back(static_cast<int>(j));
        }
        writers[j].w.size = behind[j].size;
        writers[j].last = numbers.size() - 1;
        writers[j].temp = TempBeside(behind[j].local, ".tavrel-ahead");
    }
    struct AheadGuard {
        std::vector<TAheadWriter>& writers;
        ~AheadGuard() {
            for (TAheadWriter& a : writers)
                if (a.w.fd >= 0) {
                    ::close(a.w.fd);
                    ::unlink(a.temp.c_str());
                }
        }
    } aheadGuard{writers};
    auto aheadOpen = [&](TAheadWriter& a, const TFetchedAhead& f) {
        if (a.w.fd >= 0 || a.bad) return;
        std::error_code ec;
        fs::create_directories(fs::path(f.local).parent_path(), ec);
        a.w.fd = ::open(a.temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (a.w.fd < 0) a.bad = true;
    };

    TPartWriter current;
    current.fd = fd;
    current.size = size;
    bool currentDone = false, currentOk = false;
    // Size and checksum decide; only a copy that checks out gets the file's name.
    auto finishCurrent = [&] {
        currentDone = true;
        CountBytes = false; // what follows is the progress of the files behind
        const int closing = fd;
        fd = -1;
        if (::close(closing) != 0) return;
        if (current.written != size || current.hash != hash) {
            LastError = "The parts found on the server do not make up the stored file (" +
                        std::to_string(current.written) + " of " + std::to_string(size) +
                        " bytes, or a different checksum).";
            return;
        }
        if (::rename(temp.c_str(), local.c_str()) != 0) {
            LastError = "Cannot write \"" + local + "\": " + std::strerror(errno) + ".";
            return;
        }
        currentOk = true;
    };
    auto finishAhead = [&](std::size_t j) {
        TAheadWriter& a = writers[j];
        const bool closed = a.w.fd >= 0 && ::close(a.w.fd) == 0;
        a.w.fd = -1;
        if (closed && !a.bad && a.w.written == a.w.size && a.w.hash == behind[j].hash) {
            behind[j].temp = a.temp;
            FetchedAhead.push_back(behind[j]);
            AheadBox = Mailbox;
            AheadKey = PickedKey;
        } else {
            ::unlink(a.temp.c_str());
        }
    };

    std::size_t pos = 0; // the position in numbers of the mail being read
    struct Streaming {
        TIdMessage& m;
        ~Streaming() {
            m.AttachmentStorage = asTempFile;
            m.OnAttachmentData = nullptr;
        }
    } streaming{Message};
    Message.AttachmentStorage = asStream;
    Message.OnAttachmentData = [&](const char* p, size_t n) {
        const int o = owner[pos];
        if (o < 0) {
            current.Data(p, n);
            return;
        }
        TAheadWriter& a = writers[static_cast<std::size_t>(o)];
        aheadOpen(a, behind[static_cast<std::size_t>(o)]);
        if (a.bad) return;
        try {
            a.w.Data(p, n);
        } catch (const std::exception&) {
            a.bad = true; // that copy only; this download and the others go on
        }
    };
    auto partDone = [&](int, bool fetched) {
        const int o = owner[pos++];
        Message.ClearBody();
        if (o < 0) {
            ProgressBase = Position;
            const bool fits = current.PartDone(fetched);
            if (!fits || pos == own) finishCurrent();
            return fits;
        }
        TAheadWriter& a = writers[static_cast<std::size_t>(o)];
        aheadOpen(a, behind[static_cast<std::size_t>(o)]);
        if (!a.bad) {
            try {
                if (!a.w.PartDone(fetched)) a.bad = true;
            } catch (const std::exception&) {
                a.bad = true;
            }
        }
        if (pos - 1 == a.last) finishAhead(static_cast<std::size_t>(o));
        return true;
    };
    ProgressBase = Position;
    try {
        if (UseImap)
            Imap4.FetchMessages(numbers, Message, partDone);
        else
            Pop3.FetchMessages(numbers, Message, partDone);
    } catch (const TStopped&) {
        throw;
    } catch (...) {
        if (!currentDone) throw;
        // The break came after this file: it stands, and the files behind go on their own
        // over a new connection.
        DisconnectQuietly(Reader());
    }
    if (!currentDone) finishCurrent();
    if (!currentOk) return false;
    keep = true;
    // The checksum was computed while writing: the listing need not read the file again.
    struct stat st {};
    if (::stat(local.c_str(), &st) == 0)
        Sync([&] {
            if (MailboxAlive()) Mailbox->Checksums.Remember(local, st, hash);
        });
    return true;
}
