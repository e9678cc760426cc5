#include "ExFile.h"

#include "DateTime.h"
#include "StoredMail.h"
#include "TextUtil.h"

#include <algorithm>
#include <unordered_set>

bool IsIncompleteFile(const TExFile& e) {
    if (e.IsFolder || !e.Parts) return false;
    if (e.Parts->empty()) return true;
    for (const auto& p : *e.Parts)
        if (p.empty()) return true;
    return false;
}

namespace {
// The text shared by every part of one version: everything after the part number ("/n>|Size:
// ...|Time:..."), of a subject that parsed as a file part.
std::string_view VersionTail(std::string_view trimmed) {
    size_t lt = trimmed.find('<');
    size_t slash = lt == std::string_view::npos ? lt : trimmed.find('/', lt);
    return slash == std::string_view::npos ? std::string_view() : trimmed.substr(slash);
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

// Any filled slot serves; a listing newest first fills the last slots first, so both ends
// are looked at before the rest.
std::string_view FirstPartTail(const TExFile& e) {
    const auto& parts = *e.Parts;
    if (parts.empty()) return {};
    if (!parts.back().empty()) return VersionTail(Trimmed(parts.back()));
    for (const auto& p : parts)
        if (!p.empty()) return VersionTail(Trimmed(p));
    return {};
}

TExFile FileRecordOf(const TStoredSubject& s, const std::string& subject) {
    TExFile rec;
    rec.Path = s.path;
    rec.Created = s.created;
    rec.Modified = s.modified;
    rec.Attributes = s.attributes;
    rec.Size = s.size;
    rec.Hash = static_cast<uint32_t>(s.hash);
    rec.Parts.emplace(s.count);
    (*rec.Parts)[s.part - 1] = subject;
    return rec;
}

// Fills the part's slot unless a mail of the same part came first (a newer duplicate wins).
void FillSlot(TExFile& e, const TStoredSubject& s, const std::string& subject) {
    std::string& slot = (*e.Parts)[s.part - 1];
    if (slot.empty()) slot = subject;
}
} // namespace

int TExFiles::IndexOf(const std::string& path) const {
    auto it = index_.find(LowerAscii(path));
    return it == index_.end() ? -1 : static_cast<int>(it->second);
}

void TExFiles::Unmap(size_t index) {
    std::string key = LowerAscii(items_[index]->Path);
    auto it = index_.find(key);
    if (it == index_.end() || it->second != index) return;
    index_.erase(it);
    // Another entry with the same path (only possible through Put) takes over the key.
    // (Compared in place: a delete of many entries runs this over the whole table each time.)
    for (size_t i = 0; i < items_.size(); ++i)
        if (i != index && SameTextAscii(items_[i]->Path, key)) {
            index_[key] = i;
            break;
        }
}

void TExFiles::Put(int index, const TExFile& record) {
    size_t i = static_cast<size_t>(index);
    TExFile& e = *items_.at(i);
    if (!SameTextAscii(e.Path, record.Path) || e.Path.empty()) {
        if (!e.Path.empty()) Unmap(i);
        auto [it, inserted] = index_.emplace(LowerAscii(record.Path), i);
        if (!inserted && it->second > i) it->second = i;
    }
    if (!versions_.empty()) versions_.erase(LowerAscii(e.Path));
    e = record; // copies the part list: the caller keeps its own
}

void TExFiles::Add(const TExFile& record) {
    if (!record.IsFolder) AddParents(record.Path);
    int i = IndexOf(record.Path);
    if (i < 0) {
        items_.push_back(std::make_unique<TExFile>());
        Put(static_cast<int>(items_.size() - 1), record);
        return;
    }
    if (!record.IsFolder || !record.Implicit) {
        TExFile copy = record;
        if (copy.IsFolder) copy.Parts.reset();
        Put(i, copy);
    }
}

void TExFiles::AddParents(const std::string& filePath) {
    std::string now;
    for (size_t k = 1; k < filePath.size(); ++k) {
        if (filePath[k] != '\\') continue;
        std::string folder = filePath.substr(0, k + 1);
        if (IndexOf(folder) >= 0) continue; // an implicit record never overwrites
        if (now.empty()) now = FloatToText(NowLocal());
        TExFile rec;
        rec.Path = folder;
        rec.Created = rec.Modified = now;
        rec.IsFolder = true;
        rec.Implicit = true;
        Add(rec);
    }
}

bool TExFiles::AddSubject(const std::string& subject) {
    TStoredSubject s = ParseStoredSubject(subject, true);
    if (s.kind == TStoredSubject::None) return false;
    if (s.kind == TStoredSubject::Folder) {
        TExFile rec;
        rec.Path = s.path;
        rec.Created = s.created;
        rec.Modified = s.modified;
        rec.IsFolder = true;
        Add(rec);
        return false;
    }
    int i = IndexOf(s.path);
    if (i < 0) {
        Add(FileRecordOf(s, subject));
        return true;
    }
    TExFile& e = Items(i);
    if (e.IsFolder || !e.Parts) return false;
    const std::string_view tail = VersionTail(Trimmed(subject));
    const std::string key = LowerAscii(s.path);
    auto vit = versions_.find(key);
    if (vit == versions_.end()) {
        std::string_view shown = FirstPartTail(e);
        if (shown.empty() || shown == tail) {
            if (s.count != e.Parts->size()) return false;
            FillSlot(e, s, subject);
            return true;
        }
        // A second version of the path: from now on every version is kept.
        TVersion first{e, 0};
        for (const auto& p : *e.Parts) first.filled += !p.empty();
        vit = versions_.emplace(key, TVersionSet{{std::move(first)}, 0}).first;
    }
    TVersionSet& set = vit->second;
    size_t vi = set.list.size();
    for (size_t k = 0; k < set.list.size(); ++k)
        if (FirstPartTail(set.list[k].file) == tail) {
            vi = k;
            break;
        }
    if (vi == set.list.size()) {
        set.list.push_back({FileRecordOf(s, subject), 1});
    } else {
        std::string& slot = (*set.list[vi].file.Parts)[s.part - 1];
        if (!slot.empty()) return true; // a newer mail of this part came first
        slot = subject;
        ++set.list[vi].filled;
    }
    // The newest complete version, else the newest.
    size_t best = 0;
    for (size_t k = 0; k < set.list.size(); ++k)
        if (set.list[k].filled == set.list[k].file.Parts->size()) {
            best = k;
            break;
        }
    if (best != set.shown) {
        const uint8_t state = e.State;
        const bool drop = e.DropWhenDeleted;
        e = set.list[best].file; // same path: the index stays valid
        e.State = state;
        e.DropWhenDeleted = drop;
        set.shown = best;
    } else if (vi == best) {
        (*e.Parts)[s.part - 1] = subject;
    }
    return true;
}

std::vector<std::string> TExFiles::VersionSubjects(const std::string& path) const {
    std::vector<std::string> out;
    int i = IndexOf(path);
    if (i < 0 || Items(i).IsFolder) return out;
    std::unordered_set<std::string> seen;
    auto add = [&](const TExFile& e) {
        if (!e.Parts) return;
        for (const auto& p : *e.Parts)
            if (!p.empty() && seen.insert(p).second) out.push_back(p);
    };
    add(Items(i));
    auto vit = versions_.find(LowerAscii(path));
    if (vit != versions_.end())
        for (const TVersion& v : vit->second.list) add(v.file);
    return out;
}

void TExFiles::Reindex(size_t from) {
    for (auto& [key, idx] : index_)
        if (idx > from) --idx;
}

void TExFiles::Delete(int index) {
    size_t i = static_cast<size_t>(index);
    if (i >= items_.size()) return;
    versions_.erase(LowerAscii(items_[i]->Path));
    Unmap(i);
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
    Reindex(i);
}

void TExFiles::Clear() {
    items_.clear();
    index_.clear();
    versions_.clear();
}

bool TExFiles::IsBusy(const TExFile& entry) const {
    if (entry.State != fsNone) return true;
    if (!entry.IsFolder) return false;
    for (auto& e : items_)
        if (e->State != fsNone && StartsTextAscii(entry.Path, e->Path)) return true;
    return false;
}

std::string TExFiles::ChildName(const std::string& folderPath, int index) const {
    const TExFile& e = Items(index);
    if (!StartsTextAscii(folderPath, e.Path)) return {};
    if (IndexOf(folderPath) == index) return {};
    std::string rest = e.Path.substr(folderPath.size());
    if (e.IsFolder) {
        if (rest.empty() || rest.back() != '\\') return {};
        rest.pop_back();
    }
    if (rest.empty() || rest.find('\\') != std::string::npos) return {};
    return rest;
}
