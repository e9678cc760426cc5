#pragma once
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class TMailFolder;

// What the mounted tree shows, taken from a mailbox's file table at one moment: every
// entry whose names can all be Linux names, by folded path. Entries being deleted are left
// out (they are on their way out); entries being stored are shown as the table has them.
// Immutable once built, so the file system's threads read it without the model's thread.
class TMountTable {
public:
    struct TNode {
        std::string name; // as stored
        std::string mailboxPath;
        bool isDir = false;
        uint64_t size = 0;
        struct timespec mtime {};
        struct timespec ctime {};
        bool readOnly = false;
        std::vector<uint32_t> children; // indexes into the node list, folders only
    };

    // Builds the tree of `box` (on the thread that owns the model).
    static std::shared_ptr<const TMountTable> Build(const TMailFolder& box);
    // An empty tree (before the first listing).
    TMountTable();

    // The node of a file-system path ("/" is the root); null when there is none.
    const TNode* Find(const std::string& fsPath) const;
    const TNode& Node(uint32_t index) const { return nodes_[index]; }
    size_t Count() const { return nodes_.size(); }

    uint64_t Capacity = 0;
    uint64_t Used = 0;
    // Entries of the table left out because a name in them cannot be a Linux name.
    size_t Hidden = 0;

private:
    uint32_t Ensure(const std::string& key, const std::string& name, uint32_t parent);

    std::vector<TNode> nodes_; // 0 is the root
    std::unordered_map<std::string, uint32_t> byKey_;
};
