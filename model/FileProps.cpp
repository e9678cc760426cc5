#include "FileProps.h"

#include "FolderView.h"
#include "TextUtil.h"

#include <cstdio>

namespace {
TFilePropRunner g_runner;

bool ToDate(const std::string& text, double& out) {
    try {
        out = TextToFloat(text);
        return true;
    } catch (const EConvertError&) {
        return false;
    }
}

std::string DateText(const std::string& text) {
    double dt = 0;
    return ToDate(text, dt) ? LongDateText(dt) : std::string();
}

std::string WithoutTrailingBackslash(std::string s) {
    if (!s.empty() && s.back() == '\\') s.pop_back();
    return s;
}
} // namespace

void SetFilePropRunner(TFilePropRunner runner) { g_runner = std::move(runner); }

TFilePropDialog FileProperties(const TExFiles& table, const std::string& alias,
                               const TExFile& entry) {
    TFilePropDialog d;
    if (entry.IsFolder) {
        std::string name = WithoutTrailingBackslash(LastPathPart(entry.Path));
        d.edtName = name;
        d.Caption = name + " properties";
        d.lblLocation = WithoutTrailingBackslash(alias + ParentPath(entry.Path));
        d.lblType = "File Folder";
        d.Icon = "folder";
        int files = 0, folders = 0;
        uint32_t total = 0;
        double latest = 0;
        bool haveLatest = ToDate(entry.Created, latest);
        for (int i = 0; i < table.Count(); ++i) {
            const TExFile& e = table.Items(i);
            if (SameTextAscii(e.Path, entry.Path) || !StartsTextAscii(entry.Path, e.Path))
                continue;
            if (e.IsFolder) {
                ++folders;
                continue;
            }
            ++files;
            total += e.Size;
            double m = 0;
            if (ToDate(e.Modified, m) && (!haveLatest || m > latest)) {
                latest = m;
                haveLatest = true;
            }
        }
        d.lblSize = SizeToText(total);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%d Files, %d Folders", files, folders);
        d.lblContains = buf;
        d.lblCreated = DateText(entry.Created);
        d.lblModified = haveLatest ? LongDateText(latest) : std::string();
        return d;
    }
    size_t slash = entry.Path.rfind('\\');
    std::string name = entry.Path.substr(slash + 1);
    d.edtName = name;
    d.Caption = name + " properties";
    d.lblLocation = WithoutTrailingBackslash(alias + entry.Path.substr(0, slash + 1));
    d.lblType = TypeNames().TypeNameFor(name);
    size_t dot = name.rfind('.');
    d.Icon = dot == std::string::npos ? std::string() : name.substr(dot);
    d.lblSize = SizeToText(entry.Size);
    d.containsVisible = false;
    d.lblCreated = DateText(entry.Created);
    d.lblModified = DateText(entry.Modified);
    return d;
}

void ShowFileProperties(const TExFiles& table, const std::string& alias, const TExFile& entry) {
    TFilePropDialog d = FileProperties(table, alias, entry);
    if (g_runner) g_runner(d);
}
