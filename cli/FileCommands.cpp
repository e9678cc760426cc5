// Files and folders of a mailbox: every command opens the mailbox (a structure refresh by
// the worker), then uses the model's operations and waits until the worker has done them.
// put and get are in TransferCommands.cpp.
#include "Commands.h"

#include "FileCommon.h"
#include "FileProps.h"
#include "FolderView.h"
#include "MailPropDialog.h"
#include "ProgressPrinter.h"
#include "Prompt.h"
#include "Search.h"
#include "Table.h"
#include "TerminalPrompt.h"
#include "TextUtil.h"

#include <algorithm>

namespace {
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
