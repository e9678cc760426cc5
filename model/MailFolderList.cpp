// Listing the current folder of a mailbox and moving between its folders.
#include "FolderView.h"
#include "MailFolder.h"
#include "MailFolders.h"
#include "StoredMail.h"
#include "TextUtil.h"

#include <filesystem>
#include <unordered_map>
#include <unordered_set>

namespace fs = std::filesystem;

namespace {
const char* ActionText(const TExFile& e) {
    switch (e.State) {
    case fsSending: return "Sending";
    case fsDeleting: return "Deleting";
    case fsDownloading: return "Downloading";
    default: return IsIncompleteFile(e) ? "Incomplete" : "";
    }
}
} // namespace

std::string TMailFolder::CachePathOf(const std::string& mailboxPath) const {
    if (!Owner || !IsUsableCacheName(Alias)) return {};
    if (mailboxPath != "\\" && !IsSafeMailboxPath(mailboxPath, mailboxPath.back() == '\\'))
        return {};
    std::string local = mailboxPath;
    for (auto& c : local)
        if (c == '\\') c = '/';
    return Owner->MailRootDir + Alias + local;
}

std::string TMailFolder::LocalDir() const { return CachePathOf(CurrentPath); }

void TMailFolder::ForceLocalDir(const std::string& dir) {
    if (dir.empty()) return;
    std::error_code ec;
    fs::create_directories(dir, ec);
}

bool TMailFolder::IsLocalFile(const std::string& mailboxPath, const TExFile* entry) {
    std::string cache = CachePathOf(mailboxPath);
    uint32_t size = 0, sum = 0;
    if (cache.empty() || !Checksums.Lookup(cache, size, sum)) return false;
    if (!entry) return true; // a cached file the table does not know counts as local
    return size == entry->Size && sum == entry->Hash;
}

bool TMailFolder::IsLocal(const std::string& mailboxPath) {
    if (mailboxPath.empty() || mailboxPath.back() != '\\') {
        int i = Files.IndexOf(mailboxPath);
        return IsLocalFile(mailboxPath, i >= 0 ? &Files.Items(i) : nullptr);
    }
    for (int i = 0; i < Files.Count(); ++i) {
        const TExFile& e = Files.Items(i);
        if (e.IsFolder || !StartsTextAscii(mailboxPath, e.Path)) continue;
        if (!IsLocalFile(e.Path, &e)) return false;
    }
    return true;
}

void TMailFolder::ListFolder(IFileView* view, IAddressBox* address, const std::string& path) {
    std::string p = TrimBlanks(path);
    if (!p.empty()) {
        if (p.back() != '\\') p += '\\';
        if (p != "\\" && Files.IndexOf(p) < 0) return;
        CurrentPath = p;
    }
    while (CurrentPath != "\\" && Files.IndexOf(CurrentPath) < 0) CurrentPath = ParentPath(CurrentPath);

    std::string addr = Alias + CurrentPath.substr(0, CurrentPath.size() - 1);
    if (address) {
        address->Clear();
        address->AddItem(addr);
        address->SelectItem(0);
    }
    SelectedNames.clear();
    if (view) SelectedNames = view->SelectedCaptions();
    if (!view) return;

    // One pass over the table: the direct children of the current folder, and for every
    // child folder the files below it, which decide whether that folder is local.
    struct Child {
        int entry;
        std::string name;
    };
    std::vector<Child> children;
    std::unordered_map<std::string, std::vector<int>> filesBelow; // folded child name
    std::unordered_map<std::string, bool> busyBelow;
    const size_t baseLen = CurrentPath.size();
    const int self = Files.IndexOf(CurrentPath);
    for (int i = 0; i < Files.Count(); ++i) {
        const TExFile& e = Files.Items(i);
        if (i == self || !StartsTextAscii(CurrentPath, e.Path)) continue;
        std::string rest = e.Path.substr(baseLen);
        size_t slash = rest.find('\\');
        bool direct = e.IsFolder ? slash == rest.size() - 1 : slash == std::string::npos;
        if (direct) {
            std::string name = e.IsFolder ? rest.substr(0, rest.size() - 1) : rest;
            if (!TrimBlanks(name).empty()) children.push_back({i, name});
        }
        if (slash == std::string::npos) continue;
        std::string key = LowerAscii(rest.substr(0, slash));
        if (!e.IsFolder) filesBelow[key].push_back(i);
        if (e.State != fsNone) busyBelow[key] = true;
    }

    view->BeginUpdate();
    view->Clear();
    const std::string localDir = LocalDir();
    for (const Child& c : children) {
        TExFile& e = Files.Items(c.entry);
        TFileRow row;
        row.Caption = c.name;
        row.Data = &e;
        row.IsFolder = e.IsFolder;
        row.Modified = DateTimeDisplayText(e.Modified);
        bool local = true;
        if (e.IsFolder) {
            row.Type = "File Folder";
            bool busy = e.State != fsNone || busyBelow.count(LowerAscii(c.name)) > 0;
            row.Action = busy ? "Busy" : "";
            if (!localDir.empty()) ForceLocalDir(localDir + c.name);
            if (address) address->AddItem(addr + "\\" + c.name);
            auto it = filesBelow.find(LowerAscii(c.name));
            if (it != filesBelow.end())
                for (int f : it->second)
                    if (!IsLocalFile(Files.Items(f).Path, &Files.Items(f))) {
                        local = false;
                        break;
                    }
        } else {
            row.Size = SizeToText(e.Size);
            row.Type = TypeNames().TypeNameFor(c.name);
            row.Action = ActionText(e);
            local = IsLocalFile(e.Path, &e);
        }
        row.Location = local ? "Local" : "Mail";
        view->AddRow(row);
    }
    view->EndUpdate();
    view->Sort();
    // The selection by name (ASCII case folded), one lookup per row.
    if (SelectedNames.empty()) return;
    std::unordered_set<std::string> selected;
    for (const auto& name : SelectedNames) selected.insert(LowerAscii(name));
    for (int r = 0; r < view->RowCount(); ++r)
        if (selected.count(LowerAscii(view->RowCaption(r)))) view->SetSelected(r, true);
}

void TMailFolder::EnterFolder(const std::string& name) {
    ForwardHistory.clear();
    BackHistory.push_back(CurrentPath);
    CurrentPath += name;
    if (CurrentPath.back() != '\\') CurrentPath += '\\';
}

void TMailFolder::GoUp() {
    if (CurrentPath == "\\") return;
    ForwardHistory.clear();
    BackHistory.push_back(CurrentPath);
    CurrentPath = ParentPath(CurrentPath);
}

bool TMailFolder::Step(std::vector<std::string>& from, std::vector<std::string>& to,
                       IFileView* view, IAddressBox* address) {
    bool possible = !from.empty();
    if (!view || !address) return possible;
    while (!from.empty()) {
        std::string target = from.back();
        if (target != "\\" && Files.IndexOf(target) < 0) {
            from.pop_back();
            continue;
        }
        to.push_back(CurrentPath);
        ListFolder(view, address, target);
        from.pop_back();
        break;
    }
    return possible;
}

bool TMailFolder::GoBack(IFileView* view, IAddressBox* address) {
    return Step(BackHistory, ForwardHistory, view, address);
}

bool TMailFolder::GoForward(IFileView* view, IAddressBox* address) {
    return Step(ForwardHistory, BackHistory, view, address);
}
