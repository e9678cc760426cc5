// The user's changes to a mailbox: put local items in, new folders, deletes, downloads.
// They change the file table at once and queue the work that the worker does later.
#include "FileUtil.h"
#include "MailFolder.h"
#include "Prompt.h"
#include "TextUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

// A stored name cannot hold these: the subject grammar and the cache paths rely on it.
bool IsStorableName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || std::strchr("<>:\"|?*\\/", c)) return false;
    return true;
}

namespace {
const char* const CRLF = "\r\n";

void ShowError(const std::string& text) { Prompt().MessageBox(text, "", mb::OK | mb::IconStop); }

std::string FileNameOf(const std::string& localPath) {
    std::string s = localPath;
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    size_t p = s.rfind('/');
    return p == std::string::npos ? s : s.substr(p + 1);
}

} // namespace

std::string TMailFolder::FolderArg(const std::string& folder) const {
    std::string f = folder;
    if (f.find_first_not_of(" \t") == std::string::npos) return CurrentPath;
    return f;
}

bool TMailFolder::ReadLocalFileInfo(TExFile& record, const std::string& localPath) {
    struct stat st {};
    if (::stat(localPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    int fd = ::open(localPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct statx sx {};
    bool haveBirth = ::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME | STATX_MTIME | STATX_SIZE, &sx) == 0 &&
                     (sx.stx_mask & STATX_BTIME);
    ::fstat(fd, &st);
    ::close(fd);
    record.Attributes = FileAttributesOf(st.st_mode, FileNameOf(localPath));
    record.Hash = FileChecksum(localPath);
    record.Size = static_cast<uint32_t>(static_cast<uint64_t>(st.st_size));
    struct timespec created = st.st_mtim;
    if (haveBirth) {
        created.tv_sec = sx.stx_btime.tv_sec;
        created.tv_nsec = sx.stx_btime.tv_nsec;
    }
    record.Created = FileTimeToText(created);
    record.Modified = FileTimeToText(st.st_mtim);
    record.IsFolder = false;
    return true;
}

void TMailFolder::AddLocal(const std::string& folder, const std::string& localPath, bool confirm) {
    const std::string D = FolderArg(folder);
    std::string L = localPath;
    while (L.size() > 1 && L.back() == '/') L.pop_back();
    const std::string name = FileNameOf(L);
    if (!IsStorableName(name)) {
        ShowError("Cannot store \"" + L + "\": its name holds a character that a stored name "
                  "cannot hold ( < > : \" | ? * \\ or a control character). It was skipped.");
        return;
    }
    struct stat st {};
    if (::stat(L.c_str(), &st) != 0) {
        ShowError("Cannot store \"" + L + "\": " + std::strerror(errno) + ".");
        return;
    }
    if (!S_ISDIR(st.st_mode)) {
        if (!S_ISREG(st.st_mode)) {
            ShowError("Cannot store \"" + L + "\": it is not a regular file or folder.");
            return;
        }
        const std::string T = D + name;
        const int old = Files.IndexOf(T);
        std::shared_ptr<TReplacedFile> replaced;
        if (old >= 0) {
            // An incomplete file (an interrupted upload) holds nothing worth keeping.
            const TExFile& existing = Files.Items(old);
            const bool incomplete = existing.State == fsNone && IsIncompleteFile(existing);
            if (confirm && !incomplete &&
                Prompt().MessageBox("This folder already contains a file named '" + name + "'." +
                                        CRLF + CRLF +
                                        "Would you like to replace the existing file?",
                                    "Confirm File Replace", mb::YesNo | mb::IconQuestion) != id::Yes)
                return;
            // The stored version stays until the new one is stored; then exactly its mails
            // are deleted (by the worker, after the upload). A version whose delete is
            // queued is gone by then: nothing to keep.
            if (Files.Items(old).State != fsDeleting) {
                replaced = std::make_shared<TReplacedFile>();
                replaced->Entry = Files.Items(old);
                replaced->Entry.State = fsNone;
                replaced->Subjects = Files.VersionSubjects(T);
            }
            // Stored again before the earlier store of it ran: this one replaces what that
            // one replaces (the worker puts the earlier store's own parts in once it is done).
            for (int k = Ops.Count() - 1; k >= 0 && replaced; --k) {
                const TExOp op = Ops.Get(k);
                if (!SameTextAscii(AffectedPath(op), T)) continue;
                if (op.Kind == opDelete) {
                    replaced.reset(); // deleted before this store runs
                } else if (op.Kind == opSend) {
                    if (op.Replaced)
                        replaced = std::make_shared<TReplacedFile>(*op.Replaced);
                    else
                        replaced.reset(); // the earlier store is of a new file
                } else {
                    continue;
                }
                break;
            }
        }
        TExFile rec;
        if (!ReadLocalFileInfo(rec, L)) {
            ShowError("Cannot read \"" + L + "\": " + std::strerror(errno) + ".");
            return;
        }
        rec.Path = T;
        rec.Parts.reset();
        rec.State = fsSending;
        Files.Add(rec);
        Ops.Add(TExOp{opSend, -1, D, L, std::move(replaced)});
        UpdateOpStates();
        return;
    }

    const std::string F = name + "\\";
    const std::string T = D + F;
    if (Files.IndexOf(T) >= 0) {
        if (confirm &&
            Prompt().MessageBox(
                "This folder already contains a folder named '" + F + "'." + CRLF + CRLF +
                    "If the files in the existing folder have the same name as files in the" +
                    CRLF + "folder you are copying, they will be replaced. Do you still want to" +
                    CRLF + "copy the folder?",
                "Confirm Folder Replace", mb::YesNo | mb::IconQuestion) != id::Yes)
            return;
    } else {
        TExFile rec;
        rec.Path = T;
        rec.Created = rec.Modified = FloatToText(NowLocal());
        rec.IsFolder = true;
        rec.State = fsSending;
        Files.Add(rec);
        Ops.Add(opSend, D, -1, F);
        UpdateOpStates();
    }
    // Entries in name order, so the queue is the same on every file system. Links to
    // folders are not followed: a link cycle would never end.
    std::vector<std::string> entries;
    std::error_code ec;
    for (auto it = fs::directory_iterator(L, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        std::error_code e2;
        if (it->is_symlink(e2) && it->is_directory(e2)) continue;
        entries.push_back(it->path().string());
    }
    if (ec)
        ShowError("Cannot read the folder \"" + L + "\": " + ec.message() +
                  ". What it holds was not stored, or not all of it.");
    std::sort(entries.begin(), entries.end());
    for (const auto& e : entries) AddLocal(T, e, false);
}

bool TMailFolder::NewFolder(const std::string& parent, const std::string& name) {
    const std::string P = FolderArg(parent);
    std::string N = name;
    if (N.empty() || N.back() != '\\') N += '\\';
    if (Files.IndexOf(P + N) >= 0) return false;
    TExFile rec;
    rec.Path = P + N;
    rec.Created = rec.Modified = FloatToText(NowLocal());
    rec.IsFolder = true;
    rec.State = fsSending;
    Files.Add(rec);
    Ops.Add(opSend, P, -1, N);
    UpdateOpStates();
    return true;
}

void TMailFolder::DeleteItem(const std::string& parent, const std::string& name,
                             bool dropWhenDeleted) {
    const std::string P = FolderArg(parent);
    const std::string Q = P + name;
    int qi = Files.IndexOf(Q);
    if (qi < 0) return;
    if (!Q.empty() && Q.back() == '\\') {
        // Children first, depth first in table order; the paths are taken up front because
        // the recursion never removes entries but the table may be long.
        std::vector<std::string> paths;
        for (int i = 0; i < Files.Count(); ++i) paths.push_back(Files.Items(i).Path);
        for (const auto& path : paths) {
            if (SameTextAscii(path, Q) || !StartsTextAscii(Q, path)) continue;
            bool isFolder = path.back() == '\\';
            if (isFolder && SameTextAscii(ParentPath(path), Q)) {
                DeleteItem(Q, LastPathPart(path), dropWhenDeleted);
            } else if (!isFolder && SameTextAscii(path.substr(0, path.rfind('\\') + 1), Q)) {
                DeleteItem(Q, path.substr(path.rfind('\\') + 1), dropWhenDeleted);
            }
        }
    } else {
        Files.Items(qi).DropWhenDeleted = dropWhenDeleted;
    }
    Ops.Add(opDelete, P, -1, name);
    UpdateOpStates();
}

void TMailFolder::DownloadItem(const std::string& parent, const std::string& name,
                               int32_t ticket) {
    const std::string prefix = FolderArg(parent) + name;
    // A folder name takes everything below it; a file name that file only (not a.txt.bak
    // for a.txt).
    const bool folder = !prefix.empty() && prefix.back() == '\\';
    bool queued = false;
    for (int i = 0; i < Files.Count(); ++i) {
        TExFile& e = Files.Items(i);
        if (e.IsFolder || e.Path.back() == '\\') continue;
        if (folder ? !StartsTextAscii(prefix, e.Path) : !SameTextAscii(prefix, e.Path)) continue;
        e.State = fsDownloading;
        Ops.Add(opDownload, "", ticket, e.Path);
        queued = true;
    }
    // Recomputing once gives the same states as after every single append.
    if (queued) UpdateOpStates();
}
