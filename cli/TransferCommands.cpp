// Files in and out of a mailbox: put stores local files and folders, get fetches stored
// ones into a local folder.
#include "Commands.h"

#include "FetchedTimes.h"
#include "FileCommon.h"
#include "LocalTree.h"
#include "ProgressPrinter.h"
#include "Prompt.h"
#include "TerminalPrompt.h"
#include "TextUtil.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

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
