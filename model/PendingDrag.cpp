#include "PendingDrag.h"

#include "MailFolder.h"
#include "MailFolders.h"
#include "Prompt.h"
#include "TextUtil.h"
#include "Wait.h"

#include <atomic>
#include <chrono>
#include <filesystem>

namespace fs = std::filesystem;

namespace {
std::atomic<int32_t> g_nextTicket{0};

// Waits while the window keeps handling the calls that are handed to it.
void WaitProcessing(TMailFolders* owner, int ms) {
    auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(ms)) {
        WaitMs(1);
        if (owner && owner->ProcessMessages) owner->ProcessMessages();
    }
}
} // namespace

int TPendingDragList::IndexOfTicket(int32_t ticket) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].Ticket == ticket) return static_cast<int>(i);
    return -1;
}

void TPendingDragList::Delete(int index) {
    if (index >= 0 && index < Count()) items_.erase(items_.begin() + index);
}

bool TPendingDragList::TicketQueued(int32_t ticket) const {
    for (int i = 0; i < mailbox_->Ops.Count(); ++i)
        if (mailbox_->Ops.Get(i).Kind == opDownload && mailbox_->Ops.Get(i).Ticket == ticket)
            return true;
    return false;
}

void TPendingDragList::AddDrag(const std::string& path, const std::string& target) {
    for (auto& d : items_)
        if (SameTextAscii(d.Path, path) && SameTextAscii(d.Target, target)) return;
    TPendingDrag d{path, target, g_nextTicket++, false};
    items_.push_back(d);
    const bool folder = !path.empty() && path.back() == '\\';
    std::string parent = ParentPath(path);
    std::string name = folder ? LastPathPart(path) : path.substr(path.rfind('\\') + 1);
    mailbox_->DownloadItem(parent, name, d.Ticket);
    // A folder without files has nothing to wait for.
    if (!TicketQueued(d.Ticket)) Complete(Count() - 1);
}

void TPendingDragList::DownloadEnded(int32_t ticket, bool success) {
    int i = IndexOfTicket(ticket);
    if (i < 0) return;
    if (!success) items_[static_cast<size_t>(i)].Failed = true;
    if (TicketQueued(ticket)) return;
    Complete(i);
}

void TPendingDragList::DropOrphans() {
    for (int i = Count() - 1; i >= 0; --i)
        if (!TicketQueued(items_[static_cast<size_t>(i)].Ticket)) Delete(i);
}

void TPendingDragList::Complete(int index) {
    TPendingDrag d = items_.at(static_cast<size_t>(index));
    items_.erase(items_.begin() + index);
    std::string shown = d.Path;
    if (d.Failed) {
        Prompt().MessageBox("\"" + shown + "\" was not copied to \"" + d.Target +
                                "\" because it could not be downloaded from the mail server.",
                            "", mb::OK | mb::IconStop);
        return;
    }
    std::string source = mailbox_->CachePathOf(d.Path);
    if (source.empty()) return;
    if (!source.empty() && source.back() == '/') source.pop_back();
    std::error_code ec;
    if (d.Path.back() == '\\') {
        // Downloads only make the folders that hold files: the folders without any (the
        // dragged one itself, or ones below it) are made here, so the copy has the tree.
        fs::create_directories(source, ec);
        for (int i = 0; i < mailbox_->Files.Count(); ++i) {
            const TExFile& e = mailbox_->Files.Items(i);
            if (!e.IsFolder || !StartsTextAscii(d.Path, e.Path)) continue;
            std::string dir = mailbox_->CachePathOf(e.Path);
            if (!dir.empty()) fs::create_directories(dir, ec);
        }
    }
    std::string error;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        if (CopyInto(source, d.Target, error) == 0) return;
        if (attempt < 3) WaitProcessing(mailbox_->Owner, 2000);
    }
    Prompt().MessageBox("Cannot copy \"" + shown + "\" to \"" + d.Target + "\": " + error, "",
                        mb::OK | mb::IconStop);
}

int TPendingDragList::CopyInto(const std::string& source, const std::string& targetDir,
                               std::string& error) {
    std::error_code ec;
    fs::path src(source);
    fs::path dest = fs::path(targetDir) / src.filename();
    if (!fs::exists(src, ec)) {
        error = "the downloaded copy is missing.";
        return 2;
    }
    if (!fs::is_directory(targetDir, ec)) {
        error = "the destination folder does not exist.";
        return 3;
    }
    fs::path tmp = fs::path(targetDir) / ("." + src.filename().string() + ".tavrel-copy");
    fs::remove_all(tmp, ec);
    fs::copy(src, tmp, fs::copy_options::recursive, ec);
    if (!ec) {
        if (fs::is_directory(tmp) && fs::is_directory(dest, ec)) {
            // Merge into an existing folder: its other files stay.
            fs::copy(tmp, dest, fs::copy_options::recursive | fs::copy_options::overwrite_existing,
                     ec);
            std::error_code ignore;
            fs::remove_all(tmp, ignore);
        } else {
            // A file replaces a file; a file never replaces a folder or the other way round.
            if (fs::exists(dest, ec) && fs::is_directory(dest, ec) != fs::is_directory(tmp)) {
                std::error_code ignore;
                fs::remove_all(tmp, ignore);
                error = "\"" + dest.string() + "\" exists already.";
                return 4;
            }
            ec.clear();
            fs::rename(tmp, dest, ec);
        }
    }
    if (ec) {
        error = ec.message() + ".";
        std::error_code ignore;
        fs::remove_all(tmp, ignore);
        return 1;
    }
    return 0;
}
