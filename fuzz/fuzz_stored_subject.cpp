// Fuzz target: the reader of stored-mail subjects (ParseStoredSubject), which decides from a
// foreign subject which file or folder a mail holds and where it lands in the cache.
// Checks on every subject it accepts:
//   - the path is one the cache can hold: mapped onto a cache folder it stays inside it;
//   - the quick read (without the fields) agrees with the full read;
//   - what it read, written again by the writer, reads back the same;
//   - the delete pattern of the path finds the subject;
//   - the listing's date text of the times does not fail.
#include "FuzzCheck.h"
#include "StoredMail.h"
#include "TextUtil.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace {

// Independent of IsSafeMailboxPath: the path as a cache path must not leave the cache.
void CheckStaysInCache(const std::string& path, bool isFolder) {
    fuzzcheck::Expect(path.size() >= 2 && path[0] == '\\', "a path that does not start with \\");
    fuzzcheck::Expect((path.back() == '\\') == isFolder, "a folder path without \\ at its end");
    std::string local = "/cache";
    for (char c : path) local += c == '\\' ? '/' : c;
    const std::filesystem::path normal = std::filesystem::path(local).lexically_normal();
    const std::string n = normal.generic_string();
    fuzzcheck::Expect(n.rfind("/cache/", 0) == 0 && n.size() > 7, "a path that leaves the cache");
    fuzzcheck::Expect(n == local || (isFolder && n + "/" == local) || n == local + "/",
                      "a path with names that a file system folds away");
    for (unsigned char c : path) fuzzcheck::Expect(c >= 0x20 && c != 0x7F, "a control character");
}

void CheckFilePart(const std::string& subject, const TStoredSubject& s) {
    fuzzcheck::Expect(s.part >= 1 && s.part <= s.count, "a part outside 1..n");
    CheckStaysInCache(s.path, false);
    const TStoredSubject quick = ParseStoredSubject(subject, false);
    fuzzcheck::Expect(quick.kind == TStoredSubject::FilePart && quick.path == s.path &&
                          quick.part == s.part && quick.count == s.count,
                      "the quick read differs from the full read");
    fuzzcheck::Expect(s.count <= (s.size == 0 ? 1u : s.size), "more parts than bytes");
    fuzzcheck::Expect(SubjectMatchesPattern(subject, DeletePattern(s.path)),
                      "the delete pattern of a file misses its part mail");
    if (s.hash <= UINT32_MAX) {
        const std::string again =
            PartSubject(s.path, s.part, s.count, s.size, static_cast<uint32_t>(s.hash),
                        s.attributes, s.created, s.modified);
        const TStoredSubject r = ParseStoredSubject(again);
        fuzzcheck::Expect(r.kind == TStoredSubject::FilePart && r.path == s.path &&
                              r.part == s.part && r.count == s.count && r.size == s.size &&
                              r.hash == s.hash && r.attributes == s.attributes,
                          "a part subject written again reads back otherwise");
    }
    DateTimeDisplayText(s.created);
    DateTimeDisplayText(s.modified);
}

void CheckFolder(const std::string& subject, const TStoredSubject& s) {
    CheckStaysInCache(s.path, true);
    fuzzcheck::Expect(ParseStoredSubject(subject, false).kind == TStoredSubject::Folder,
                      "the quick read of a folder differs");
    fuzzcheck::Expect(SubjectMatchesPattern(subject, DeletePattern(s.path)),
                      "the delete pattern of a folder misses its mail");
    const TStoredSubject r = ParseStoredSubject(FolderSubject(s.path, s.created));
    fuzzcheck::Expect(r.kind == TStoredSubject::Folder && r.path == s.path,
                      "a folder subject written again reads back otherwise");
    DateTimeDisplayText(s.created);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string subject(reinterpret_cast<const char*>(data), size);
    const TStoredSubject s = ParseStoredSubject(subject);
    if (s.kind == TStoredSubject::FilePart) CheckFilePart(subject, s);
    if (s.kind == TStoredSubject::Folder) CheckFolder(subject, s);
    if (s.kind == TStoredSubject::None) {
        // A subject the full read skips may still be a part for the quick read (fields
        // missing), but its path must be just as safe.
        const TStoredSubject quick = ParseStoredSubject(subject, false);
        if (quick.kind == TStoredSubject::FilePart) CheckStaysInCache(quick.path, false);
        if (quick.kind == TStoredSubject::Folder) CheckStaysInCache(quick.path, true);
    }
    return 0;
}
