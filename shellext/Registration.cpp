#include "Pondra.h"

#include "Registry.h"

#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace pondra {

namespace {

const char* const kClassesKey = "HKEY_CLASSES_ROOT\\CLSID\\";
const char* const kApprovedKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const char* const kNamespaceKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"
                                  "\\Explorer\\MyComputer\\Namespace\\";

// A registration step that must succeed.
void Must(bool ok) {
    if (!ok) throw std::runtime_error("Error creating system registry entry");
}

// ---- the desktop entry that shows the "Tavrel" launcher ----

std::string DesktopEntryFile() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.local/share";
    else
        return {};
    std::string id = GuidToString(CLSID_MailFolder);
    return base + "/applications/" + id.substr(1, id.size() - 2) + ".desktop";
}

// A value of type string: backslash and control characters escaped.
std::string EntryString(const std::string& s) {
    std::string r;
    for (char c : s) {
        switch (c) {
        case '\\': r += "\\\\"; break;
        case '\n': r += "\\n"; break;
        case '\r': r += "\\r"; break;
        case '\t': r += "\\t"; break;
        default: r += c;
        }
    }
    return r;
}

// The Exec value for a program path: one quoted argument (with ", `, $ and \ escaped inside
// the quotes), "%" doubled so it is no field code, then escaped as a string value.
std::string ExecValue(const std::string& program) {
    std::string quoted = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    return EntryString(quoted);
}

void WriteDesktopEntry() {
    std::string file = DesktopEntryFile();
    if (file.empty()) return;
    std::string folder = LibraryFolder();
    std::string icon = folder + kProgramName + ".png";
    std::error_code ec;
    if (!fs::exists(icon, ec)) icon = "folder-remote";
    std::string text = std::string("[Desktop Entry]\n"
                                   "Type=Application\n"
                                   "Version=1.0\n"
                                   "Name=") +
                       kFolderName + "\n" + "Exec=" + ExecValue(folder + kProgramName) + "\n" +
                       "Path=" + EntryString(folder) + "\n" + "Icon=" + EntryString(icon) +
                       "\n" + "Terminal=false\n" + "Categories=Network;FileTransfer;\n";

    fs::create_directories(fs::path(file).parent_path(), ec);
    std::string tmp = file + ".XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) return;
    ::fchmod(fd, 0644);
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(tmp.c_str(), file.c_str()) != 0) ::unlink(tmp.c_str());
}

void RemoveDesktopEntry() {
    std::string file = DesktopEntryFile();
    if (!file.empty()) ::unlink(file.c_str());
}

HRESULT Register() {
    TRegistry reg;
    const std::string id = GuidToString(CLSID_MailFolder);
    const std::string classKey = kClassesKey + id;
    const std::string library = LibraryFile();
    Must(!library.empty());

    Must(reg.WriteString(classKey, "", kFolderName));                          // 1
    Must(reg.WriteString(classKey + "\\InprocServer32", "", library));         // 2
    // 3: the same value in its short form; paths have no short form here, so the path is
    // written as it is.
    Must(reg.WriteString(classKey + "\\InprocServer32", "", library));
    reg.WriteString(kApprovedKey, id, kFolderName);                            // 4
    reg.WriteString(classKey + "\\InProcServer32", "ThreadingModel", "Apartment"); // 5
    reg.WriteString(kNamespaceKey + id, "", kFolderName);                      // 6
    reg.WriteBinary(classKey + "\\ShellFolder", "Attributes", {0x00, 0x00, 0x00, 0x20}); // 7
    Must(reg.WriteString(classKey + "\\DefaultIcon", "", library + ",0"));     // 8

    WriteDesktopEntry(); // the launcher is a convenience; the registry is what counts
    return S_OK;
}

HRESULT Unregister() {
    TRegistry reg;
    const std::string id = GuidToString(CLSID_MailFolder);
    bool ok = reg.DeleteKey(kClassesKey + id);
    ok = reg.DeleteKey(kNamespaceKey + id) && ok;
    ok = reg.DeleteValue(kApprovedKey, id) && ok;
    RemoveDesktopEntry();
    return ok ? S_OK : E_FAIL;
}

} // namespace

HRESULT TMailFactory::UpdateRegistry(bool doRegister) {
    try {
        return doRegister ? Register() : Unregister();
    } catch (...) {
        return E_FAIL;
    }
}

} // namespace pondra
