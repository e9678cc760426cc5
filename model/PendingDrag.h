#pragma once
#include <cstdint>
#include <string>
#include <vector>

class TMailFolder;

// A drag-out that waits for its downloads: the entry's mailbox path and the local folder
// it is to be copied into once the last download carrying its ticket has ended.
struct TPendingDrag {
    std::string Path;   // a folder's path ends with a backslash
    std::string Target; // local directory
    int32_t Ticket = -1;
    bool Failed = false; // one of its downloads failed
};

class TPendingDragList {
public:
    explicit TPendingDragList(TMailFolder* mailbox) : mailbox_(mailbox) {}

    // Queues the downloads of the entry (nothing when the same path and target wait
    // already). An entry with nothing to download is copied at once.
    void AddDrag(const std::string& path, const std::string& target);
    // A download of this ticket has ended; after the last one the entry is copied, or the
    // user is told that it could not be because a download failed.
    void DownloadEnded(int32_t ticket, bool success);
    // Drops the drags none of whose downloads is queued any more (the queue was emptied).
    void DropOrphans();

    int IndexOfTicket(int32_t ticket) const;
    int Count() const { return static_cast<int>(items_.size()); }
    TPendingDrag Item(int index) const { return items_.at(static_cast<size_t>(index)); }
    void Delete(int index);
    void Clear() { items_.clear(); }

    // Copies a file or folder tree into a destination folder; 0 on success. The copy goes
    // through a temporary name, so a failed copy leaves no half-written item behind.
    static int CopyInto(const std::string& source, const std::string& targetDir,
                        std::string& error);

private:
    bool TicketQueued(int32_t ticket) const;
    void Complete(int index);

    TMailFolder* mailbox_;
    std::vector<TPendingDrag> items_;
};
