#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ExFile.h"

enum : uint8_t { opSend = 0, opDelete = 1, opDownload = 2, opRefresh = 3, opGetSize = 4 };

// What a store of a file replaces: the entry as it was listed, and the subjects of every
// mail of that path seen at the listing (the shown version and any other, such as the parts
// of an interrupted upload). Those mails are deleted only once the new version is stored,
// by these exact subjects; a failed store puts the entry back.
struct TReplacedFile {
    TExFile Entry;
    std::vector<std::string> Subjects;
};

// One queued request of a mailbox.
struct TExOp {
    uint8_t Kind = opRefresh;
    int32_t Ticket = -1;  // -1, or the drag-out a download completes
    std::string Path;     // the mailbox folder, or empty
    std::string Name;     // a name, a local path (starts with "/") or a full mailbox path
    std::shared_ptr<const TReplacedFile> Replaced = nullptr; // opSend of a file over a stored one

    bool operator==(const TExOp&) const = default;
};

// The name shown in the pending-operations view.
const char* OpKindName(uint8_t kind);
// What an operation does, as a report names it: "Store \\docs\\a.txt", "Read the folder
// structure of Work" (alias: the mailbox's).
std::string OperationText(const TExOp& op, const std::string& alias);

// The mailbox path whose table entry a queued operation affects: Path + Name, or for the
// send of a local file Path + its file name. Empty for a Refresh.
std::string AffectedPath(const TExOp& op);

// First in, first out; index 0 is the oldest and stays while it is being performed.
class TExOpList {
public:
    void Add(uint8_t kind, const std::string& path, int32_t ticket, const std::string& name);
    void Add(TExOp op);
    void Set(int index, TExOp op) { items_.at(static_cast<size_t>(index)) = std::move(op); }
    int Count() const { return static_cast<int>(items_.size()); }
    TExOp Get(int index) const { return items_.at(static_cast<size_t>(index)); }
    void Delete(int index);
    void Clear() { items_.clear(); }

private:
    std::vector<TExOp> items_;
};
