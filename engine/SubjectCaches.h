#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

// The subjects read before, by the server's unique id of their mail (POP3 UIDL, IMAP4 UID
// under one UIDVALIDITY), one cache per account and server (a key such as
// "pop3 host:port user"; never a password), kept in a file of the program folder across
// runs, so that a mailbox opened after a restart needs only its ids and the new subjects.
//
// The cache is an optimisation only: the worker drops what the server no longer lists and
// a cache whose validity changed, and the file may be deleted at any time. A file that is
// not exactly one this version wrote (missing, truncated, damaged, foreign, another
// version, over a bound) is ignored as a whole and written anew at the next save. Every
// count and length read is checked against its bound and against the bytes left.
//
// Saving writes a new file beside the old one (mode 0600: subjects are file paths) and
// renames it over the old one; the caches used most recently are kept first when the file
// would exceed kMaxFileBytes. Errors of the file are swallowed: without it, every subject
// is read from the server as before. Used on the worker's thread only.
class TSubjectCaches {
public:
    struct TCache {
        int64_t UidValidity = 0; // IMAP4; 0 for POP3
        std::unordered_map<std::string, std::string> Subjects;
        std::size_t Bytes = 0;   // ids and subjects together
        uint64_t LastUse = 0;    // order of use, for what the file keeps
    };
    static constexpr std::size_t kMaxCaches = 16;
    static constexpr std::size_t kMaxSubjects = 1000000;    // one cache
    static constexpr std::size_t kMaxBytes = 64u << 20;     // one cache
    static constexpr std::size_t kMaxSubjectLength = 4096;
    static constexpr std::size_t kMaxIdLength = 255;        // POP3 allows 70, IMAP4 10 digits
    static constexpr std::size_t kMaxKeyLength = 1024;
    static constexpr std::size_t kMaxFileBytes = 80u << 20; // one full cache fits

    // fileName empty: the caches last for the run only.
    explicit TSubjectCaches(std::string fileName);

    // The cache of key (read from the file on the first call of the run); a new empty one
    // when there is none. Never more than kMaxCaches: a new one beyond them replaces the
    // one used longest ago.
    TCache& For(const std::string& key);
    // Forgets the cache of key (its subjects can no longer be trusted).
    void Drop(const std::string& key);
    // Records that a subject was added or entries dropped, for the next Save.
    void Changed() { changed_ = true; }
    bool Unsaved() const { return changed_; }
    // Writes the file when something changed since it was read or last written.
    void Save();

    // The file's content for the caches, and back; Parse is false (out untouched) for
    // anything that is not exactly such content.
    using TMap = std::unordered_map<std::string, TCache>;
    static std::string Format(const TMap& caches);
    static bool Parse(const std::string& data, TMap& out);

private:
    void Load();

    std::string fileName_;
    TMap caches_;
    bool loaded_ = false;
    bool changed_ = false;
    uint64_t uses_ = 0;
};
