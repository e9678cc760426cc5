#include "MountTable.h"

#include "FetchedTimes.h"
#include "MailFolder.h"
#include "MountNames.h"
#include "TextUtil.h"

#include <unordered_map>

namespace {
struct timespec TimeOf(const std::string& text) {
    struct timespec t {};
    if (!StoredTimeToFileTime(text, t)) t = {};
    return t;
}
} // namespace

TMountTable::TMountTable() {
    nodes_.emplace_back();
    nodes_[0].isDir = true;
    nodes_[0].mailboxPath = "\\";
    byKey_.emplace("/", 0);
}

uint32_t TMountTable::Ensure(const std::string& key, const std::string& name, uint32_t parent) {
    auto it = byKey_.find(key);
    if (it != byKey_.end()) return it->second;
    const uint32_t index = static_cast<uint32_t>(nodes_.size());
    TNode n;
    n.name = name;
    n.isDir = true;
    n.mailboxPath = nodes_[parent].mailboxPath + name + "\\";
    nodes_.push_back(std::move(n));
    nodes_[parent].children.push_back(index);
    byKey_.emplace(key, index);
    return index;
}

std::shared_ptr<const TMountTable> TMountTable::Build(const TMailFolder& box) {
    auto t = std::make_shared<TMountTable>();
    t->Capacity = box.Capacity;
    t->Used = box.UsedSize;
    std::vector<std::string> names;
    // An entry whose last queued operation is a delete is gone for the programs using the
    // folder, as after unlink or rmdir on a disk, also while a store queued before the
    // delete still runs (the table then shows it as being sent).
    std::unordered_map<std::string, bool> deleted;
    for (int k = 0; k < box.Ops.Count(); ++k) {
        const TExOp op = box.Ops.Get(k);
        const std::string path = AffectedPath(op);
        if (!path.empty()) deleted[LowerAscii(path)] = op.Kind == opDelete;
    }
    auto goingAway = [&](const TExFile& e) {
        if (!deleted.empty()) {
            auto it = deleted.find(LowerAscii(e.Path));
            if (it != deleted.end()) return it->second; // rmdir, then mkdir again: shown
        }
        return e.State == fsDeleting;
    };
    // Folders first, so a file and a folder of the same name show the folder (what is below
    // it stays reachable).
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < box.Files.Count(); ++i) {
            const TExFile& e = box.Files.Items(i);
            if (e.IsFolder != (pass == 0)) continue;
            if (goingAway(e)) continue;
            if (!ShownComponents(e.Path, names)) {
                ++t->Hidden;
                continue;
            }
            uint32_t parent = 0;
            std::string key;
            bool underFile = false;
            for (size_t k = 0; k + 1 < names.size() && !underFile; ++k) {
                key += "/" + PathKey(names[k]);
                parent = t->Ensure(key, names[k], parent);
                underFile = !t->nodes_[parent].isDir;
            }
            if (underFile) {
                ++t->Hidden;
                continue;
            }
            key += "/" + PathKey(names.back());
            if (t->byKey_.count(key)) {
                if (!e.IsFolder) ++t->Hidden; // a folder of that name is shown instead
                if (!e.IsFolder) continue;
            }
            const uint32_t index = e.IsFolder ? t->Ensure(key, names.back(), parent)
                                              : static_cast<uint32_t>(t->nodes_.size());
            if (!e.IsFolder) {
                t->nodes_.emplace_back();
                t->nodes_[parent].children.push_back(index);
                t->byKey_.emplace(key, index);
            }
            TNode& n = t->nodes_[index];
            n.name = names.back();
            n.mailboxPath = e.Path;
            n.isDir = e.IsFolder;
            n.size = e.IsFolder ? 0 : e.Size;
            n.mtime = TimeOf(e.Modified);
            n.ctime = TimeOf(e.Created);
            n.readOnly = !e.IsFolder && (e.Attributes & 1u);
        }
    }
    return t;
}

const TMountTable::TNode* TMountTable::Find(const std::string& fsPath) const {
    auto it = byKey_.find(PathKey(fsPath.empty() ? "/" : fsPath));
    return it == byKey_.end() ? nullptr : &nodes_[it->second];
}
