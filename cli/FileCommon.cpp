#include "FileCommon.h"

#include "ProgressPrinter.h"
#include "TextUtil.h"

TOpenBox::TOpenBox(TCliContext& c) : session(c.printer, c.prompt, true) {
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

int Usage(TCliContext& c, const std::string& message) {
    c.printer.Line("tavrel-cli: " + message);
    return exUsage;
}

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

void SplitEntry(const std::string& path, std::string& parent, std::string& name) {
    parent = ParentPath(path);
    name = path.substr(parent.size()); // a folder's name keeps its closing backslash
}
