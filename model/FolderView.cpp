#include "FolderView.h"

#include "TextUtil.h"

#include <algorithm>

namespace {
class TPlainTypeNames : public ITypeNames {
public:
    std::string TypeNameFor(const std::string& fileName) override {
        size_t dot = fileName.rfind('.');
        if (dot == std::string::npos || dot + 1 == fileName.size()) return "File";
        std::string ext = fileName.substr(dot + 1);
        for (auto& c : ext) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        return ext + " File";
    }
};
TPlainTypeNames g_plain;
ITypeNames* g_names = &g_plain;
} // namespace

ITypeNames& TypeNames() { return *g_names; }
void SetTypeNames(ITypeNames* names) { g_names = names ? names : &g_plain; }

std::vector<std::string> TRowList::SelectedCaptions() const {
    std::vector<std::string> out;
    for (size_t i = 0; i < rows.size(); ++i)
        if (selected[i]) out.push_back(rows[i].Caption);
    return out;
}

void TRowList::Sort() {
    std::vector<size_t> order(rows.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (rows[a].IsFolder != rows[b].IsFolder) return rows[a].IsFolder;
        return LowerAscii(rows[a].Caption) < LowerAscii(rows[b].Caption);
    });
    std::vector<TFileRow> r;
    std::vector<bool> s;
    for (size_t i : order) {
        r.push_back(rows[i]);
        s.push_back(selected[i]);
    }
    rows = std::move(r);
    selected = std::move(s);
}

void TRowList::Select(const std::string& caption) {
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].Caption == caption) selected[i] = true;
}
