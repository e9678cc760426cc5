#include "ExFile.h"

#include "DateTime.h"
#include "StoredMail.h"
#include "TextUtil.h"

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
    for (size_t i = 0; i < items_.size(); ++i)
        if (i != index && LowerAscii(items_[i]->Path) == key) {
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
    // Only i and n are needed when the path is known already; the other fields are read
    // for a new entry.
    TStoredSubject s = ParseStoredSubject(subject, false);
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
    if (i >= 0) {
        TExFile& e = Items(i);
        if (e.IsFolder || !e.Parts || s.part > e.Parts->size()) return false;
        (*e.Parts)[s.part - 1] = subject;
        return true;
    }
    s = ParseStoredSubject(subject, true);
    if (s.kind != TStoredSubject::FilePart) return false;
    TExFile rec;
    rec.Path = s.path;
    rec.Created = s.created;
    rec.Modified = s.modified;
    rec.Attributes = s.attributes;
    rec.Size = s.size;
    rec.Hash = static_cast<uint32_t>(s.hash);
    rec.Parts.emplace(s.count);
    (*rec.Parts)[s.part - 1] = subject;
    Add(rec);
    return true;
}

void TExFiles::Reindex(size_t from) {
    for (auto& [key, idx] : index_)
        if (idx > from) --idx;
}

void TExFiles::Delete(int index) {
    size_t i = static_cast<size_t>(index);
    if (i >= items_.size()) return;
    Unmap(i);
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
    Reindex(i);
}

void TExFiles::Clear() {
    items_.clear();
    index_.clear();
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
