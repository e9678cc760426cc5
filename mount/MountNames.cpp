#include "MountNames.h"

#include "MailFolder.h"
#include "TextUtil.h"

bool IsShownName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    if (name.find('/') != std::string::npos || name.find('\0') != std::string::npos) return false;
    return !TrimBlanks(name).empty();
}

std::string PathKey(const std::string& fsPath) { return LowerAscii(fsPath); }

bool ToMailboxPath(const std::string& fsPath, bool folder, std::string& mailboxPath) {
    mailboxPath = "\\";
    if (fsPath == "/" || fsPath.empty()) return true;
    size_t start = fsPath[0] == '/' ? 1 : 0;
    while (start <= fsPath.size()) {
        size_t end = fsPath.find('/', start);
        if (end == std::string::npos) end = fsPath.size();
        const std::string name = fsPath.substr(start, end - start);
        if (!IsStorableName(name)) return false;
        if (mailboxPath.size() > 1) mailboxPath += '\\';
        mailboxPath += name;
        start = end + 1;
    }
    if (folder) mailboxPath += '\\';
    return true;
}

void SplitFsPath(const std::string& fsPath, std::string& parent, std::string& name) {
    const size_t slash = fsPath.rfind('/');
    if (slash == std::string::npos) {
        parent = "/";
        name = fsPath;
        return;
    }
    parent = slash == 0 ? "/" : fsPath.substr(0, slash);
    name = fsPath.substr(slash + 1);
}

bool ShownComponents(const std::string& mailboxPath, std::vector<std::string>& names) {
    names.clear();
    if (mailboxPath.empty() || mailboxPath[0] != '\\') return false;
    size_t start = 1;
    const size_t end = mailboxPath.back() == '\\' ? mailboxPath.size() - 1 : mailboxPath.size();
    while (start < end) {
        size_t p = mailboxPath.find('\\', start);
        if (p == std::string::npos || p > end) p = end;
        std::string name = mailboxPath.substr(start, p - start);
        if (!IsShownName(name)) return false;
        names.push_back(std::move(name));
        start = p + 1;
    }
    return !names.empty();
}
