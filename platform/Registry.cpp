#include "Registry.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Value {
    std::string name;
    TRegValue value;
};

struct Key {
    std::string path; // as spelt when created
    std::vector<Value> values;
};

using Tree = std::vector<Key>; // in file order; parents come before their children

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// A key path is valid when it has at least one component, no component is empty and none
// holds a control character (which could not be written as a section line).
bool ValidKeyPath(const std::string& path) {
    if (path.empty() || path.front() == '\\' || path.back() == '\\') return false;
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsControl(static_cast<unsigned char>(path[i]))) return false;
        if (path[i] == '\\' && path[i + 1] == '\\') return false;
    }
    return true;
}

Key* FindKey(Tree& tree, const std::string& path) {
    for (auto& k : tree)
        if (SameText(k.path, path)) return &k;
    return nullptr;
}

const Key* FindKey(const Tree& tree, const std::string& path) {
    return FindKey(const_cast<Tree&>(tree), path);
}

Value* FindValue(Key& key, const std::string& name) {
    for (auto& v : key.values)
        if (SameText(v.name, name)) return &v;
    return nullptr;
}

// True when `path` lies strictly below `parent`.
bool IsBelow(const std::string& path, const std::string& parent) {
    return path.size() > parent.size() + 1 && path[parent.size()] == '\\' &&
           SameText(path.substr(0, parent.size()), parent);
}

// Adds the key and its missing parents; returns the key and whether anything was added.
// Parents that exist already keep their spelling.
Key& AddKey(Tree& tree, const std::string& path, bool& added) {
    std::string spelt;
    size_t pos = 0;
    while (true) {
        size_t slash = path.find('\\', pos);
        std::string component = path.substr(pos, slash == std::string::npos ? slash : slash - pos);
        std::string wanted = spelt.empty() ? component : spelt + '\\' + component;
        if (Key* k = FindKey(tree, wanted)) {
            spelt = k->path;
        } else {
            tree.push_back({wanted, {}});
            spelt = wanted;
            added = true;
        }
        if (slash == std::string::npos) break;
        pos = slash + 1;
    }
    return *FindKey(tree, spelt);
}

// ---- text form ----

std::string Quote(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string r = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '\\': r += "\\\\"; break;
        case '"': r += "\\\""; break;
        case '\r': r += "\\r"; break;
        case '\n': r += "\\n"; break;
        case '\t': r += "\\t"; break;
        default:
            if (IsControl(c)) {
                r += "\\x";
                r += hex[c >> 4];
                r += hex[c & 15];
            } else {
                r += static_cast<char>(c);
            }
        }
    }
    return r + "\"";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Lower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads a quoted text starting at s[pos] == '"'; pos ends after the closing quote.
bool Unquote(const std::string& s, size_t& pos, std::string& out) {
    if (pos >= s.size() || s[pos] != '"') return false;
    out.clear();
    for (++pos; pos < s.size(); ++pos) {
        char c = s[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++pos >= s.size()) return false;
        switch (s[pos]) {
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'x': {
            if (pos + 2 >= s.size()) return false;
            int hi = HexDigit(s[pos + 1]), lo = HexDigit(s[pos + 2]);
            if (hi < 0 || lo < 0) return false;
            out += static_cast<char>(hi * 16 + lo);
            pos += 2;
            break;
        }
        default: return false;
        }
    }
    return false; // no closing quote
}

void SkipBlanks(const std::string& s, size_t& pos) {
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
}

bool ParseHex(const std::string& s, size_t pos, std::string& out) {
    out.clear();
    SkipBlanks(s, pos);
    if (pos == s.size()) return true;
    while (true) {
        if (pos + 1 >= s.size()) return false;
        int hi = HexDigit(s[pos]), lo = HexDigit(s[pos + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        pos += 2;
        SkipBlanks(s, pos);
        if (pos == s.size()) return true;
        if (s[pos] != ',') return false;
        ++pos;
        SkipBlanks(s, pos);
    }
}

bool ParseValueLine(const std::string& line, Value& v) {
    size_t pos = 0;
    if (line[0] == '@') {
        v.name.clear();
        pos = 1;
    } else if (!Unquote(line, pos, v.name)) {
        return false;
    }
    SkipBlanks(line, pos);
    if (pos >= line.size() || line[pos] != '=') return false;
    ++pos;
    SkipBlanks(line, pos);
    if (line.compare(pos, 4, "hex:") == 0) {
        v.value.Type = TRegType::rtBinary;
        return ParseHex(line, pos + 4, v.value.Data);
    }
    v.value.Type = TRegType::rtString;
    if (!Unquote(line, pos, v.value.Data)) return false;
    SkipBlanks(line, pos);
    return pos == line.size();
}

Tree Parse(const std::string& text) {
    Tree tree;
    Key* cur = nullptr;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        size_t b = line.find_first_not_of(" \t\r");
        if (b == std::string::npos) continue;
        size_t e = line.find_last_not_of(" \t\r");
        line = line.substr(b, e - b + 1);
        if (line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
            std::string path = line.substr(1, line.size() - 2);
            cur = nullptr;
            if (!ValidKeyPath(path)) continue; // its values are dropped with it
            bool added = false;
            cur = &AddKey(tree, path, added);
            continue;
        }
        Value v;
        if (!cur || !ParseValueLine(line, v)) continue;
        if (Value* old = FindValue(*cur, v.name))
            old->value = v.value;
        else
            cur->values.push_back(std::move(v));
    }
    return tree;
}

std::string Format(const Tree& tree) {
    static const char* hex = "0123456789abcdef";
    std::string out = "; Tavrel registry\n";
    for (const auto& k : tree) {
        out += "\n[" + k.path + "]\n";
        for (const auto& v : k.values) {
            out += v.name.empty() ? std::string("@") : Quote(v.name);
            out += '=';
            if (v.value.Type == TRegType::rtString) {
                out += Quote(v.value.Data);
            } else {
                out += "hex:";
                for (size_t i = 0; i < v.value.Data.size(); ++i) {
                    unsigned char c = static_cast<unsigned char>(v.value.Data[i]);
                    if (i) out += ',';
                    out += hex[c >> 4];
                    out += hex[c & 15];
                }
            }
            out += '\n';
        }
    }
    return out;
}

// ---- file access ----

// The file that is actually replaced: a symbolic link is followed, so the link stays.
std::string TargetFile(const std::string& fileName) {
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(fileName, ec))) {
        fs::path target = fs::canonical(fileName, ec);
        if (!ec) return target.string();
    }
    return fileName;
}

// Reads the tree; a missing file is an empty registry. False when the file exists but
// cannot be read.
bool Load(const std::string& fileName, Tree& tree) {
    tree.clear();
    int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR;
    std::string text;
    char buf[8192];
    bool ok = true;
    while (true) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    if (ok) tree = Parse(text);
    return ok;
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes the whole file through a temporary file in the same folder and a rename.
bool Save(const std::string& fileName, const Tree& tree) {
    fs::path dir = fs::path(fileName).parent_path();
    if (!dir.empty()) {
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (!fs::is_directory(dir, ec)) return false;
    }
    std::string tmp = fileName + ".XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) return false;
    struct stat st {};
    if (::stat(fileName.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777); // keep the mode
    bool ok = WriteAll(fd, Format(tree)) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(tmp.c_str(), fileName.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

// Holds the exclusive lock of a registry file for one read-modify-write.
class FileLock {
public:
    explicit FileLock(const std::string& fileName) {
        std::string name = fileName + ".lock";
        fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
        // Without a lock file the folder is not writable, so the save fails anyway.
        if (fd_ >= 0)
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_ = -1;
};

enum class Change { Invalid, None, Changed };

template <class Fn>
bool Modify(const std::string& fileName, Fn&& change) {
    std::string target = TargetFile(fileName);
    std::error_code ec;
    fs::create_directories(fs::path(target).parent_path(), ec); // for the lock file
    FileLock lock(target);
    Tree tree;
    if (!Load(target, tree)) return false;
    switch (change(tree)) {
    case Change::Invalid: return false;
    case Change::None: return true;
    case Change::Changed: break;
    }
    return Save(target, tree);
}

Tree Read(const std::string& fileName) {
    Tree tree;
    Load(fileName, tree);
    return tree;
}

} // namespace

TRegistry::TRegistry() : fileName_(DefaultFileName()) {}

TRegistry::TRegistry(std::string fileName) : fileName_(std::move(fileName)) {}

std::string TRegistry::DefaultFileName() {
    if (const char* f = std::getenv("TAVREL_REGISTRY"); f && *f) return f;
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        base = "/tmp";
    if (base.back() != '/') base += '/';
    return base + "tavrel/registry.ini";
}

bool TRegistry::KeyExists(const std::string& key) const {
    return ValidKeyPath(key) && FindKey(Read(fileName_), key) != nullptr;
}

bool TRegistry::CreateKey(const std::string& key) {
    return Modify(fileName_, [&](Tree& tree) {
        if (!ValidKeyPath(key)) return Change::Invalid;
        bool added = false;
        AddKey(tree, key, added);
        return added ? Change::Changed : Change::None;
    });
}

bool TRegistry::DeleteKey(const std::string& key) {
    if (!ValidKeyPath(key)) return false;
    if (!KeyExists(key)) return true; // nothing to do, nothing to write
    return Modify(fileName_, [&](Tree& tree) {
        size_t before = tree.size();
        std::erase_if(tree, [&](const Key& k) { return SameText(k.path, key) || IsBelow(k.path, key); });
        return tree.size() != before ? Change::Changed : Change::None;
    });
}

std::vector<std::string> TRegistry::SubKeys(const std::string& key) const {
    std::vector<std::string> names;
    if (!ValidKeyPath(key)) return names;
    for (const auto& k : Read(fileName_))
        if (IsBelow(k.path, key) && k.path.find('\\', key.size() + 1) == std::string::npos)
            names.push_back(k.path.substr(key.size() + 1));
    return names;
}

std::vector<std::string> TRegistry::ValueNames(const std::string& key) const {
    std::vector<std::string> names;
    if (!ValidKeyPath(key)) return names;
    Tree tree = Read(fileName_);
    if (const Key* k = FindKey(tree, key))
        for (const auto& v : k->values) names.push_back(v.name);
    return names;
}

namespace {
bool SetValue(const std::string& fileName, const std::string& key, const std::string& name,
              TRegValue value) {
    return Modify(fileName, [&](Tree& tree) {
        if (!ValidKeyPath(key)) return Change::Invalid;
        bool added = false;
        Key& k = AddKey(tree, key, added);
        if (Value* v = FindValue(k, name))
            v->value = std::move(value);
        else
            k.values.push_back({name, std::move(value)});
        // Written even when the value was there already, so that a registry that cannot
        // be written is always noticed by the writer.
        return Change::Changed;
    });
}
} // namespace

bool TRegistry::WriteString(const std::string& key, const std::string& name,
                            const std::string& value) {
    return SetValue(fileName_, key, name, {TRegType::rtString, value});
}

bool TRegistry::WriteBinary(const std::string& key, const std::string& name,
                            const std::vector<std::uint8_t>& bytes) {
    return SetValue(fileName_, key, name,
                    {TRegType::rtBinary, std::string(bytes.begin(), bytes.end())});
}

bool TRegistry::DeleteValue(const std::string& key, const std::string& name) {
    if (!ValidKeyPath(key)) return false;
    if (!ValueExists(key, name)) return true;
    return Modify(fileName_, [&](Tree& tree) {
        Key* k = FindKey(tree, key);
        if (!k) return Change::None;
        size_t before = k->values.size();
        std::erase_if(k->values, [&](const Value& v) { return SameText(v.name, name); });
        return k->values.size() != before ? Change::Changed : Change::None;
    });
}

std::optional<TRegValue> TRegistry::ReadValue(const std::string& key,
                                              const std::string& name) const {
    if (!ValidKeyPath(key)) return std::nullopt;
    Tree tree = Read(fileName_);
    Key* k = FindKey(tree, key);
    if (!k) return std::nullopt;
    if (Value* v = FindValue(*k, name)) return v->value;
    return std::nullopt;
}

bool TRegistry::ValueExists(const std::string& key, const std::string& name) const {
    return ReadValue(key, name).has_value();
}

std::optional<std::string> TRegistry::ReadString(const std::string& key,
                                                 const std::string& name) const {
    auto v = ReadValue(key, name);
    if (!v || v->Type != TRegType::rtString) return std::nullopt;
    return v->Data;
}

std::optional<std::vector<std::uint8_t>> TRegistry::ReadBinary(const std::string& key,
                                                               const std::string& name) const {
    auto v = ReadValue(key, name);
    if (!v || v->Type != TRegType::rtBinary) return std::nullopt;
    return std::vector<std::uint8_t>(v->Data.begin(), v->Data.end());
}
