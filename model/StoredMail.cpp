#include "StoredMail.h"

#include "TextUtil.h"

#include <cmath>

const char* const StoredMarker = "ExFile:";
const char* const PartBodyLine1 = "IMPORTANT: Please don't delete this mail manually";

namespace {
// Parts of one file are limited so that a foreign or damaged subject can never make the
// reader allocate by an absurd count.
constexpr uint32_t MaxPartCount = 1000000;

std::string Before(const std::string& s, char c) {
    size_t p = s.find(c);
    return p == std::string::npos ? std::string() : s.substr(0, p);
}
// Text after the first `c`; false when there is none.
bool After(const std::string& s, char c, std::string& out) {
    size_t p = s.find(c);
    if (p == std::string::npos) return false;
    out = s.substr(p + 1);
    return true;
}
bool ReadU32(const std::string& text, uint32_t& v) {
    uint64_t x = 0;
    if (!ParseDecimal(text, 0xFFFFFFFFu, x)) return false;
    v = static_cast<uint32_t>(x);
    return true;
}
// "Name:value|rest": checks the name, gives the value before `end` and the rest after it.
bool ReadField(std::string& rest, const char* name, char end, std::string& value) {
    if (!StartsTextAscii(name, rest)) return false;
    std::string afterColon;
    if (!After(rest, ':', afterColon)) return false;
    size_t p = afterColon.find(end);
    if (p == std::string::npos) return false;
    value = afterColon.substr(0, p);
    rest = afterColon.substr(p + 1);
    return true;
}
} // namespace

uint32_t PartSizeFor(uint32_t maxAttachSize) {
    double p = std::nearbyint(maxAttachSize * 0.8);
    return p == 0 ? 2147483647u : static_cast<uint32_t>(p);
}

uint32_t PartCountFor(uint32_t size, uint32_t partSize) {
    if (size == 0) return 1;
    return (size - 1) / partSize + 1;
}

uint32_t PartLength(uint32_t size, uint32_t partSize, uint32_t i) {
    uint32_t n = PartCountFor(size, partSize);
    if (size == 0 || i < 1 || i > n) return 0;
    return i < n ? partSize : size - (n - 1) * partSize;
}

std::string FolderSubject(const std::string& folderPath, const std::string& timeText) {
    return std::string(StoredMarker) + folderPath + "|Time:" + timeText;
}

std::string PartSubject(const std::string& filePath, uint32_t i, uint32_t n, uint32_t size,
                        uint32_t hash, uint32_t attributes, const std::string& created,
                        const std::string& modified) {
    return std::string(StoredMarker) + filePath + "<" + std::to_string(i) + "/" +
           std::to_string(n) + ">|Size:" + std::to_string(size) + "|Hash:" +
           std::to_string(hash) + "|Attri:" + std::to_string(attributes) + "|Time:" + created +
           ";" + modified;
}

std::string PartBodyLine2(uint32_t partBytes) {
    return "This Attach Size:" + std::to_string(partBytes) + ".";
}

std::string TrimSubject(const std::string& subject) {
    size_t b = 0, e = subject.size();
    while (b < e && static_cast<unsigned char>(subject[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(subject[e - 1]) <= ' ') --e;
    return subject.substr(b, e - b);
}

bool IsSafeMailboxPath(const std::string& path, bool isFolder) {
    if (path.size() < 2 || path[0] != '\\') return false;
    if (isFolder != (path.back() == '\\')) return false;
    for (unsigned char c : path)
        if (c < 0x20 || c == 0x7F || c == '/') return false;
    // Every name between backslashes must be non-empty and not "." or "..".
    size_t start = 1;
    const size_t end = isFolder ? path.size() - 1 : path.size();
    while (start <= end) {
        size_t p = path.find('\\', start);
        if (p == std::string::npos || p > end) p = end;
        std::string name = path.substr(start, p - start);
        if (name.empty() || name == "." || name == "..") return false;
        start = p + 1;
    }
    return true;
}

TStoredSubject ParseStoredSubject(const std::string& subject, bool readFields) {
    TStoredSubject out;
    std::string rest = TrimSubject(subject);
    if (!StartsTextAscii(std::string(StoredMarker) + "\\", rest)) return out;
    rest = rest.substr(rest.find('\\'));

    if (rest.find("\\|") != std::string::npos) {
        std::string path = Before(rest, '|');
        std::string afterBar;
        After(rest, '|', afterBar);
        if (!StartsTextAscii("Time", afterBar)) return out;
        std::string time;
        if (!After(afterBar, ':', time)) return out;
        if (!IsSafeMailboxPath(path, true)) return out;
        out.kind = TStoredSubject::Folder;
        out.path = path;
        out.created = out.modified = time;
        out.fieldsRead = true;
        return out;
    }

    size_t lt = rest.find('<');
    if (lt == std::string::npos) return out;
    std::string path = rest.substr(0, lt);
    rest = rest.substr(lt + 1);
    std::string iText = Before(rest, '/');
    std::string afterSlash;
    if (!After(rest, '/', afterSlash)) return out;
    std::string nText = Before(afterSlash, '>');
    uint32_t i = 0, n = 0;
    if (!ReadU32(iText, i) || !ReadU32(nText, n)) return out;
    if (n < 1 || n > MaxPartCount || i < 1 || i > n) return out;
    if (!IsSafeMailboxPath(path, false)) return out;
    out.path = path;
    out.part = i;
    out.count = n;
    if (!readFields) {
        out.kind = TStoredSubject::FilePart;
        return out;
    }

    std::string fields;
    if (!After(afterSlash, '|', fields)) return out;
    std::string sText, hText, aText;
    if (!ReadField(fields, "Size", '|', sText) || !ReadField(fields, "Hash", '|', hText) ||
        !ReadField(fields, "Attri", '|', aText) || !StartsTextAscii("Time", fields))
        return out;
    std::string times;
    if (!After(fields, ':', times)) return out;
    uint64_t hash = 0;
    if (!ReadU32(sText, out.size) || !ParseDecimal(hText, UINT64_MAX, hash) ||
        !ReadU32(aText, out.attributes))
        return out;
    // Every part holds at least one byte: more parts than bytes is not a stored file.
    if (n > (out.size == 0 ? 1u : out.size)) return out;
    out.hash = hash;
    size_t semi = times.find(';');
    if (semi == std::string::npos) {
        out.created = out.modified = times;
    } else {
        out.created = times.substr(0, semi);
        out.modified = times.substr(semi + 1);
    }
    out.fieldsRead = true;
    out.kind = TStoredSubject::FilePart;
    return out;
}

std::string DeletePattern(const std::string& path) {
    if (!path.empty() && path.back() == '\\') return std::string(StoredMarker) + path;
    return std::string(StoredMarker) + path + "<";
}

bool SubjectMatchesPattern(const std::string& subject, const std::string& pattern) {
    // Trimmed as TrimSubject does, without a copy: a delete matches every header of the
    // inbox against each of its patterns.
    std::string_view s = subject;
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    return StartsTextAscii(pattern, s);
}
