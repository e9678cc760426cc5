#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// Pending-operation state of a table entry.
enum : uint8_t { fsNone = 0, fsDeleting = 1, fsSending = 2, fsDownloading = 3 };

// One file or folder of a mailbox, keyed by its full mailbox path.
struct TExFile {
    std::string Path;     // \docs\ (folder) or \docs\a.txt (file)
    std::string Created;  // date-time texts as they came
    std::string Modified;
    uint32_t Attributes = 0;
    uint32_t Size = 0;
    uint32_t Hash = 0;
    std::optional<std::vector<std::string>> Parts; // slot i-1: the subject of part i
    bool IsFolder = false;
    uint8_t State = fsNone;
    bool Implicit = false;
    bool DropWhenDeleted = false;
};

// A file entry whose part list misses a part: an upload that was interrupted, or parts the
// server no longer holds. Such a file cannot be fetched; it is shown as "Incomplete".
bool IsIncompleteFile(const TExFile& e);

// The folder tree of one mailbox as a flat table. Lookups by path (ASCII case folded) go
// through an index, so building a table from many subjects stays linear.
class TExFiles {
public:
    TExFiles() = default;
    ~TExFiles() { Clear(); }
    TExFiles(const TExFiles&) = delete;
    TExFiles& operator=(const TExFiles&) = delete;

    int Count() const { return static_cast<int>(items_.size()); }
    // The stored record itself. State and DropWhenDeleted may be changed in place; the path
    // only through Put.
    TExFile& Items(int index) { return *items_.at(static_cast<size_t>(index)); }
    const TExFile& Items(int index) const { return *items_.at(static_cast<size_t>(index)); }

    int IndexOf(const std::string& path) const;
    void Put(int index, const TExFile& record);
    void Add(const TExFile& record);
    void AddParents(const std::string& filePath);
    // Applies one fetched subject; true when it was a file part that was taken. The subjects
    // of a listing come newest mail first. Parts belong together only when their subjects
    // agree on everything but the part number (count, size, checksum, attributes, times):
    // one such set is a version of the file. The entry shows the newest complete version,
    // or the newest one when none is complete; the others are kept beside it.
    bool AddSubject(const std::string& subject);
    // Every part subject of every version of a file path seen by AddSubject (the shown
    // entry's parts first), without empty slots.
    std::vector<std::string> VersionSubjects(const std::string& path) const;
    void Delete(int index);
    void Clear();
    bool IsBusy(const TExFile& entry) const;
    std::string ChildName(const std::string& folderPath, int index) const;

    // The root of the system drive (icon and type-name lookups).
    const std::string& SystemRoot() const { return systemRoot_; }

private:
    void Reindex(size_t from);
    void Unmap(size_t index);

    std::vector<std::unique_ptr<TExFile>> items_;
    std::unordered_map<std::string, size_t> index_; // folded path -> first index
    // Paths with more than one version in the listing: every version, first seen first,
    // with its count of filled slots. The entry in items_ is a copy of the shown one (with
    // its own State and flags).
    struct TVersion {
        TExFile file;
        size_t filled = 0;
    };
    struct TVersionSet {
        std::vector<TVersion> list;
        size_t shown = 0;
    };
    std::unordered_map<std::string, TVersionSet> versions_;
    std::string systemRoot_ = "/";
};
