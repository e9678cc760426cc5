#pragma once
#include <cstdint>
#include <string>

// The persistent form of stored files and folders: one mail per folder, one mail per part
// of a file, the subject carrying path and metadata. Mails stored earlier must stay
// readable, so every separator and field name here is fixed.

extern const char* const StoredMarker;   // "ExFile:"
extern const char* const PartBodyLine1;  // first body line of a part mail

// Part size of a mailbox: MaxAttachSize * 0.8 rounded; 2147483647 when that gives 0.
uint32_t PartSizeFor(uint32_t maxAttachSize);
// Number of parts of a file of `size` bytes (size > 0): (size - 1) div P + 1.
uint32_t PartCountFor(uint32_t size, uint32_t partSize);
// Bytes in part i (1-based) of n.
uint32_t PartLength(uint32_t size, uint32_t partSize, uint32_t i);

std::string FolderSubject(const std::string& folderPath, const std::string& timeText);
std::string PartSubject(const std::string& filePath, uint32_t i, uint32_t n, uint32_t size,
                        uint32_t hash, uint32_t attributes, const std::string& created,
                        const std::string& modified);
// "This Attach Size:" + L + "."
std::string PartBodyLine2(uint32_t partBytes);

// A subject as read back. Kind None: not a stored-mail subject, or one that cannot be
// trusted (bad numbers, part outside 1..n, an unsafe path): such mails are skipped.
struct TStoredSubject {
    enum Kind { None, Folder, FilePart } kind = None;
    std::string path;
    uint32_t part = 0, count = 0; // i and n
    // Read only when `fieldsRead` (see ParseStoredSubject):
    bool fieldsRead = false;
    uint32_t size = 0, attributes = 0;
    uint64_t hash = 0;
    std::string created, modified; // for a folder: both the subject's time text
};

// Reads the marker, the path and, for a file part, i and n. When `readFields` is true the
// metadata fields of a file part are read too, and a subject without them is None.
TStoredSubject ParseStoredSubject(const std::string& subject, bool readFields = true);

// A mailbox path that is safe to keep and to map onto the cache folder: starts with "\",
// no empty name between backslashes, no "." or ".." name, no "/" and no control character.
// A folder path ends with "\" (and is not the root), a file path does not.
bool IsSafeMailboxPath(const std::string& path, bool isFolder);

// The pattern that finds the mails of a file ("ExFile:" + path + "<") or of a folder and
// everything below it ("ExFile:" + path), and the match rule for a fetched subject.
std::string DeletePattern(const std::string& path);
bool SubjectMatchesPattern(const std::string& subject, const std::string& pattern);
// Leading and trailing blanks and control characters removed.
std::string TrimSubject(const std::string& subject);
