#pragma once
// What the file commands share: the mailbox of the first operand, opened; mailbox paths
// of the operands, found; usage messages; the status of a command whose items were
// skipped.
#include "Commands.h"
#include "Session.h"

#include <string>
#include <vector>

// The mailbox named by the first operand, opened. Status in `status` when it is null.
struct TOpenBox {
    TCliSession session;
    TMailFolder* box = nullptr;
    int status = exOk;

    explicit TOpenBox(TCliContext& c);
};

// Prints "tavrel-cli: " + message; returns 2.
int Usage(TCliContext& c, const std::string& message);

// Paths of the operands from `first` on, normalized; false (message printed) for one that
// cannot name a stored entry.
bool NormalizeAll(TCliContext& c, size_t first, std::vector<std::string>& paths);

// A command whose every item was skipped by a question answered no did nothing that was
// asked for: status 1, with `nothing` said, unless the status tells of worse already.
int StatusAfterSkips(TCliContext& c, int status, size_t skipped, int done,
                     const std::string& nothing);

// A mailbox path as shown: a folder without its closing backslash.
std::string Shown(const std::string& path);

// Finds every path as an entry of the open mailbox; false (message printed) for one that
// is not there.
bool FindAll(TCliContext& c, TMailFolder& box, const std::vector<std::string>& paths,
             std::vector<TEntryRef>& refs);

// Parent folder path and name as DeleteItem and DownloadItem take them.
void SplitEntry(const std::string& path, std::string& parent, std::string& name);
