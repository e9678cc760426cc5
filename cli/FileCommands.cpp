// Files and folders of a mailbox: every command opens the mailbox (a structure refresh by
// the worker), then uses the model's operations and waits until the worker has done them.
#include "Commands.h"

#include "FetchedTimes.h"
#include "FileProps.h"
#include "FolderView.h"
#include "LocalTree.h"
#include "MailPropDialog.h"
#include "ProgressPrinter.h"
#include "Prompt.h"
#include "Search.h"
#include "Session.h"
#include "Table.h"
#include "TerminalPrompt.h"
#include "TextUtil.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {
// The mailbox named by the first operand, opened. Status in `status` when it is null.
struct TOpenBox {
    TCliSession session;
    TMailFolder* box = nullptr;
    int status = exOk;

    TOpenBox(TCliContext& c) : session(c.printer, c.prompt, true) {
        if (!session.Load()) {
            status = session.LoadFailure();
            return;
        }
        box = session.FindBox(c.args.operands.at(0));
        if (!box) {
            status = exUsage;
            return;
        }
        if (!session.OpenBox(*box)) {
            box = nullptr;
            status = exFailed; // main reports an interruption with its own status
        }
    }
};

int Usage(TCliContext& c, const std::string& message) {
    c.printer.Line("tavrel-cli: " + message);
    return exUsage;
}

// Paths of the operands from `first` on, normalized; false (message printed) for one that
// cannot name a stored entry.
bool NormalizeAll(TCliContext& c, size_t first, std::vector<std::string>& paths) {
    for (size_t i = first; i < c.args.operands.size(); ++i) {
        std::string p;
        if (!NormalizeMailboxPath(c.args.operands[i], p)) {
            Usage(c, "\"" + c.args.operands[i] +
                         "\" is not a usable path: a name in it is \".\" or \"..\" or holds a "
                         "character that a stored name cannot hold ( < > : \" | ? * or a "
                         "control character)");
            return false;
        }
        paths.push_back(p);
    }
    return true;
}

// A command whose every item was skipped by a question answered no did nothing that was
// asked for: status 1, with `nothing` said, unless the status tells of worse already.
int StatusAfterSkips(TCliContext& c, int status, size_t skipped, int done,
                     const std::string& nothing) {
    if (status != exOk || skipped == 0 || done > 0) return status;
    c.printer.Line(nothing);
    return exFailed;
}

std::string Shown(const std::string& path) {
    if (path.size() > 1 && path.back() == '\\') return path.substr(0, path.size() - 1);
    return path;
}

// Finds every path as an entry of the open mailbox; false (message printed) for one that
// is not there.
bool FindAll(TCliContext& c, TMailFolder& box, const std::vector<std::string>& paths,
             std::vector<TEntryRef>& refs) {
    for (const auto& p : paths) {
        TEntryRef ref;
        if (!FindEntry(box, p, ref)) {
            Usage(c, "no file or folder " + Shown(p) + " in mailbox \"" + box.Alias + "\"");
            return false;
        }
        refs.push_back(ref);
    }
    return true;
}

// What a folder entry holds, as "3 files and 1 folder"; empty when nothing.
std::string ContentText(TMailFolder& box, const std::string& folder) {
    int files = 0, folders = 0;
    for (int i = 0; i < box.Files.Count(); ++i) {
        const TExFile& e = box.Files.Items(i);
        if (SameTextAscii(e.Path, folder) || !StartsTextAscii(folder, e.Path)) continue;
        ++(e.IsFolder ? folders : files);
    }
    if (files + folders == 0) return {};
    auto counted = [](int n, const char* what) {
        return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    if (folders == 0) return counted(files, "file");
    if (files == 0) return counted(folders, "folder");
    return counted(files, "file") + " and " + counted(folders, "folder");
}

// Parent folder path and name as DeleteItem and DownloadItem take them.
void SplitEntry(const std::string& path, std::string& parent, std::string& name) {
    parent = ParentPath(path);
    name = path.substr(parent.size()); // a folder's name keeps its closing backslash
}

void ListOne(TMailFolder& box, const std::string& folder, bool longForm, bool recursive,
             bool header) {
    TRowList view;
    TAddressList address;
    box.ListFolder(&view, &address, folder);
    if (header) std::printf("%s:\n", SanitizeForTerminal(Shown(folder)).c_str());
    std::vector<std::vector<std::string>> rows;
    if (longForm && !view.rows.empty())
        rows.push_back({"Name", "Size", "Type", "Date Modified", "Location", "Action"});
    std::vector<std::string> subfolders;
    for (const TFileRow& r : view.rows) {
        std::string name = r.IsFolder ? r.Caption + "\\" : r.Caption;
        if (longForm)
            rows.push_back({name, GroupedSize(r.Size), r.Type, r.Modified, r.Location, r.Action});
        else
            rows.push_back({name});
        if (r.IsFolder) subfolders.push_back(folder + r.Caption + "\\");
    }
    PrintTable(stdout, rows, {1});
    if (!recursive) return;
    for (const auto& sub : subfolders) {
        std::printf("\n");
        ListOne(box, sub, longForm, true, true);
    }
}
} // namespace

int CmdLs(TCliContext& c) {
    std::vector<std::string> paths;
    if (!NormalizeAll(c, 1, paths)) return exUsage;
    if (paths.empty()) paths.push_back("\\");
    TOpenBox o(c);
    if (!o.box) return o.status;
    std::vector<TEntryRef> refs;
    if (!FindAll(c, *o.box, paths, refs)) return exUsage;
    if (!refs[0].isFolder) return Usage(c, Shown(refs[0].path) + " is a file, not a folder");
    const bool recursive = c.args.Has("-R");
    ListOne(*o.box, refs[0].path, c.args.Has("-l"), recursive, recursive);
    return o.session.Status();
}

int CmdPut(TCliContext& c) {
    // The local items are checked before anything is sent, so a mistyped name costs
    // nothing; items inside folders are checked by the model as it takes them. Links are
    // followed, on the command line and inside folders alike (LocalTree.h).
    std::vector<std::string> locals;
    for (size_t i = 1; i < c.args.operands.size(); ++i) {
        std::error_code ec;
        fs::path p = fs::absolute(c.args.operands[i], ec).lexically_normal();
        if (ec)
            return Usage(c, "cannot store \"" + c.args.operands[i] + "\": " + ec.message());
        std::string s = p.string();
        while (s.size() > 1 && s.back() == '/') s.pop_back();
        if (!IsStorableName(fs::path(s).filename().string()))
            return Usage(c, "cannot store \"" + s +
                                "\": its name holds a character that a stored name cannot "
                                "hold ( < > : \" | ? * \\ or a control character)");
        struct stat st {};
        if (::stat(s.c_str(), &st) != 0)
            return Usage(c, "cannot store \"" + s + "\": " + std::strerror(errno));
        if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
            return Usage(c, "cannot store \"" + s + "\": it is not a regular file or folder");
        if (S_ISDIR(st.st_mode)) {
            // The model would store it as an empty folder.
            const std::string why = UnreadableFolderReason(s);
            if (!why.empty())
                return Usage(c, "cannot store \"" + s + "\": the folder cannot be read: " + why);
        }
        locals.push_back(s);
    }
    std::string to = "\\";
    if (c.args.Has("--to") && !NormalizeMailboxPath(c.args.Value("--to"), to))
        return Usage(c, "--to: \"" + c.args.Value("--to") + "\" is not a usable path");
    TOpenBox o(c);
    if (!o.box) return o.status;
    TEntryRef target;
    if (!FindEntry(*o.box, to, target) || !target.isFolder)
        return Usage(c, "--to: no folder " + to + " in mailbox \"" + o.box->Alias + "\"");
    size_t refused = 0, skipped = 0;
    for (const auto& local : locals) {
        const size_t errors = o.session.ErrorBoxes(), declined = c.prompt.Declined().size();
        const std::string name = fs::path(local).filename().string();
        o.box->AddLocal(target.path, local, true);
        // The only question of AddLocal is whether the item replaces the stored one.
        if (c.prompt.Declined().size() > declined) {
            c.printer.Line("Skipped " + Shown(target.path + name));
            ++skipped;
            continue;
        }
        // The links to folders that AddLocal passed over, each a folder of its own.
        std::vector<std::string> loops;
        for (const TFolderLink& link : FolderLinksBelow(local, loops))
            o.box->AddLocal(target.path + name + "\\" + link.parent, link.local, false);
        for (const auto& loop : loops)
            Prompt().MessageBox("Cannot store \"" + loop + "\": it is a link to a folder that "
                                "holds it (a loop). It was skipped.",
                                "", mb::OK | mb::IconStop);
        refused += o.session.ErrorBoxes() - errors;
    }
    const int status = o.session.Finish(refused);
    return StatusAfterSkips(c, status, skipped, o.session.DoneOperations(), "Nothing was stored.");
}

int CmdMkdir(TCliContext& c) {
    std::vector<std::string> paths;
    if (!NormalizeAll(c, 1, paths)) return exUsage;
    if (paths[0] == "\\") return Usage(c, "mkdir needs the path of the new folder");
    TOpenBox o(c);
    if (!o.box) return o.status;
    const std::string& p = paths[0];
    std::string parent, name;
    SplitEntry(p, parent, name);
    TEntryRef ref;
    if (!FindEntry(*o.box, parent.size() > 1 ? parent.substr(0, parent.size() - 1) : parent, ref) ||
        !ref.isFolder)
        return Usage(c, "no folder " + Shown(parent) + " in mailbox \"" + o.box->Alias + "\"");
    if (FindEntry(*o.box, p, ref))
        return Usage(c, Shown(ref.path) + " exists already in mailbox \"" + o.box->Alias + "\"");
    if (!o.box->NewFolder(parent, name))
        return Usage(c, p + " exists already in mailbox \"" + o.box->Alias + "\"");
    return o.session.Finish();
}

int CmdRm(TCliContext& c) {
    std::vector<std::string> paths;
    if (!NormalizeAll(c, 1, paths)) return exUsage;
    TOpenBox o(c);
    if (!o.box) return o.status;
    std::vector<TEntryRef> refs;
    if (!FindAll(c, *o.box, paths, refs)) return exUsage;
    for (const auto& r : refs)
        if (r.isRoot) return Usage(c, "the root folder cannot be deleted; name what is in it");
    // A folder with something in it goes only when the window's Delete question is answered
    // yes; with nobody to ask, only --yes lets it go.
    std::vector<std::string> full(refs.size());
    for (size_t i = 0; i < refs.size(); ++i)
        if (refs[i].isFolder) full[i] = ContentText(*o.box, refs[i].path);
    if (!c.prompt.Answers()) {
        std::string held;
        for (size_t i = 0; i < refs.size(); ++i)
            if (!full[i].empty())
                held += (held.empty() ? "" : ", ") + Shown(refs[i].path) + " holds " + full[i];
        if (!held.empty())
            return Usage(c, "nothing was deleted: " + held +
                                "; give --yes to delete a folder with what it holds (there is "
                                "no terminal to ask on)");
    }
    // Outer entries first: one inside a folder that goes needs no delete of its own.
    std::vector<size_t> order(refs.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return refs[a].path.size() < refs[b].path.size();
    });
    std::vector<bool> seen(refs.size(), false), goes(refs.size(), false);
    size_t skipped = 0;
    for (size_t i : order) {
        // Named twice: decided the first time. Inside a folder that goes: goes with it.
        bool decided = false;
        for (size_t k = 0; k < refs.size(); ++k)
            if (seen[k] && (SameTextAscii(refs[k].path, refs[i].path) ||
                            (goes[k] && refs[k].isFolder &&
                             StartsTextAscii(refs[k].path, refs[i].path))))
                decided = true;
        seen[i] = true;
        if (decided) continue;
        if (!full[i].empty() &&
            Prompt().MessageBox(Shown(refs[i].path) + " holds " + full[i] + ".\r\n\r\n" +
                                    "Are you sure to remove the selected items from you email?\n"
                                    "The items will not be moved to Recycle Bin and will be "
                                    "deleted directly.",
                                "Warning", mb::YesNo | mb::IconQuestion) != id::Yes) {
            c.printer.Line("Skipped " + Shown(refs[i].path));
            ++skipped;
            continue;
        }
        goes[i] = true;
    }
    int deleting = 0;
    for (size_t i = 0; i < refs.size(); ++i) {
        if (!goes[i]) continue;
        std::string parent, name;
        SplitEntry(refs[i].path, parent, name);
        o.box->DeleteItem(parent, name, true);
        ++deleting;
    }
    const int status = o.session.Finish();
    return StatusAfterSkips(c, status, skipped, deleting, "Nothing was deleted.");
}

int CmdGet(TCliContext& c) {
    std::vector<std::string> paths;
    if (!NormalizeAll(c, 1, paths)) return exUsage;
    std::error_code ec;
    const std::string toArg = c.args.Value("--to", ".");
    if (!fs::is_directory(toArg, ec))
        return Usage(c, "--to: \"" + toArg + "\" is not an existing folder");
    const std::string target = fs::canonical(toArg, ec).string();
    if (ec) return Usage(c, "--to: \"" + toArg + "\": " + ec.message());
    TOpenBox o(c);
    if (!o.box) return o.status;
    std::vector<TEntryRef> refs;
    if (!FindAll(c, *o.box, paths, refs)) return exUsage;
    for (const auto& r : refs)
        if (r.isRoot) return Usage(c, "name a file or folder inside the mailbox, not its root");
    std::vector<TEntryRef> wanted;
    size_t skipped = 0;
    for (const auto& r : refs) {
        std::string parent, name;
        SplitEntry(r.path, parent, name);
        if (r.isFolder) name.pop_back();
        // The copy replaces a file and merges into a folder of the same name: ask first.
        fs::path dest = fs::path(target) / name;
        if (fs::exists(fs::symlink_status(dest, ec))) {
            const std::string CRLF = "\r\n";
            std::string text =
                r.isFolder ? "This folder already contains a folder named '" + name + "'." +
                                 CRLF + CRLF +
                                 "Files in it with the same names as the fetched ones will be "
                                 "replaced. Do you still want to copy the folder?"
                           : "This folder already contains a file named '" + name + "'." + CRLF +
                                 CRLF + "Would you like to replace the existing file?";
            text = dest.string() + ":" + CRLF + text;
            if (Prompt().MessageBox(text, r.isFolder ? "Confirm Folder Replace"
                                                     : "Confirm File Replace",
                                    mb::YesNo | mb::IconQuestion) != id::Yes) {
                c.printer.Line("Skipped " + Shown(r.path));
                ++skipped;
                continue;
            }
        }
        wanted.push_back(r);
    }
    // One item at a time: only a copy that was made gets the stored times.
    bool timesSet = true;
    for (const auto& r : wanted) {
        const int failed = o.session.FailedOperations();
        const size_t errors = o.session.ErrorBoxes();
        o.box->PendingDrags->AddDrag(r.path, target);
        if (!o.session.RunUntilIdle()) break;
        if (o.session.FailedOperations() != failed || o.session.ErrorBoxes() != errors) continue;
        for (const auto& message : ApplyStoredTimes(o.box->Files, r.path, target)) {
            c.printer.Line("tavrel-cli: " + message);
            timesSet = false;
        }
    }
    int status = o.session.Status();
    if (status == exOk && !timesSet) status = exFailed;
    const int fetched = static_cast<int>(wanted.size());
    if (status == exOk && fetched > 0)
        c.printer.Line("Fetched " + std::to_string(fetched) + (fetched == 1 ? " item" : " items") +
                       " into " + target);
    return StatusAfterSkips(c, status, skipped, fetched, "Nothing was fetched.");
}

int CmdFind(TCliContext& c) {
    const std::string text = TrimBlanks(c.args.operands.at(1));
    if (text.empty()) return Usage(c, "find needs a text to look for");
    TOpenBox o(c);
    if (!o.box) return o.status;
    std::vector<TSearchHit> hits = SearchEntries(o.box->Files, o.box->Alias, text,
                                                 [] { return !g_interrupted; });
    if (g_interrupted) return exInterrupted;
    if (hits.empty()) {
        // No match is a failure to scripts, as for the tools that search text.
        c.printer.Line("Nothing in \"" + o.box->Alias + "\" has a name holding \"" + text + "\".");
        const int status = o.session.Status();
        return status == exOk ? exFailed : status;
    }
    std::vector<std::vector<std::string>> rows = {
        {"Name", "In Folder", "Size", "Type", "Date Modified"}};
    for (const auto& h : hits) {
        const TExFile& e = *h.Entry;
        rows.push_back({e.IsFolder ? h.Name + "\\" : h.Name, h.InFolder,
                        e.IsFolder ? "" : GroupedSize(SizeToText(e.Size)),
                        e.IsFolder ? "File Folder" : TypeNames().TypeNameFor(h.Name),
                        DateTimeDisplayText(e.Modified)});
    }
    PrintTable(stdout, rows, {2});
    return o.session.Status();
}

int CmdInfo(TCliContext& c) {
    std::vector<std::string> paths;
    if (!NormalizeAll(c, 1, paths)) return exUsage;
    TOpenBox o(c);
    if (!o.box) return o.status;
    TEntryRef ref;
    if (!paths.empty() && !FindEntry(*o.box, paths[0], ref))
        return Usage(c, "no file or folder " + paths[0] + " in mailbox \"" + o.box->Alias + "\"");
    if (paths.empty() || ref.isRoot) {
        TMailPropDialog d;
        FillPropDialog(*o.box, d);
        std::vector<std::pair<std::string, std::string>> f = {
            {"Alias", d.edtName},
            {"Address", d.edtAddr},
            {"Size", GroupedSize(d.lblSize)},
            {"Size on server", GroupedSize(d.lblSizeS)},
            {"Contains", d.lblContains},
            {"Created", d.lblCreated},
            {"Capacity", d.edtMailBox + " MiB"},
        };
        for (const auto& slice : d.pie) f.push_back({slice.label, FormatBytes(slice.value)});
        PrintFields(stdout, f);
        return o.session.Status();
    }
    const TExFile& e = o.box->Files.Items(o.box->Files.IndexOf(ref.path));
    TFilePropDialog d = FileProperties(o.box->Files, o.box->Alias, e);
    std::vector<std::pair<std::string, std::string>> f = {
        {"Name", d.edtName}, {"Location", d.lblLocation}, {"Type", d.lblType},
        {"Size", GroupedSize(d.lblSize)}};
    if (d.containsVisible) f.push_back({"Contains", d.lblContains});
    f.push_back({"Created", d.lblCreated});
    f.push_back({"Modified", d.lblModified});
    PrintFields(stdout, f);
    return o.session.Status();
}
