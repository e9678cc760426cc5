#include "IniFile.h"

#include "AppDir.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

namespace {
bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return false;
    }
    return true;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::unique_ptr<TIniFile> g_ini;
} // namespace

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) { Reload(); }

TIniFile::~TIniFile() { UpdateFile(); }

void TIniFile::Reload() {
    sections_.clear();
    dirty_ = false;
    std::ifstream in(fileName_, std::ios::binary);
    std::string line;
    Section* cur = nullptr;
    while (std::getline(in, line)) {
        std::string t = Trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#') continue;
        if (t.front() == '[' && t.back() == ']') {
            std::string name = t.substr(1, t.size() - 2);
            cur = Find(name);
            if (!cur) {
                sections_.push_back({name, {}});
                cur = &sections_.back();
            }
            continue;
        }
        size_t eq = t.find('=');
        if (!cur || eq == std::string::npos) continue;
        std::string key = Trim(t.substr(0, eq));
        std::string value = t.substr(eq + 1);
        auto it = std::find_if(cur->values.begin(), cur->values.end(),
                               [&](auto& kv) { return SameText(kv.first, key); });
        if (it == cur->values.end())
            cur->values.emplace_back(key, value);
        else
            it->second = value;
    }
}

TIniFile::Section* TIniFile::Find(const std::string& section) {
    for (auto& s : sections_)
        if (SameText(s.name, section)) return &s;
    return nullptr;
}

const TIniFile::Section* TIniFile::Find(const std::string& section) const {
    for (auto& s : sections_)
        if (SameText(s.name, section)) return &s;
    return nullptr;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
    if (const Section* s = Find(section))
        for (auto& kv : s->values)
            if (SameText(kv.first, key)) return kv.second;
    return def;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
    std::string v = Trim(ReadString(section, key, ""));
    if (v.empty()) return def;
    try {
        size_t used = 0;
        long long n = std::stoll(v, &used, 0);
        if (used != v.size() || n < INT32_MIN || n > INT32_MAX) return def;
        return static_cast<int>(n);
    } catch (...) {
        return def;
    }
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
    if (const Section* s = Find(section))
        for (auto& kv : s->values)
            if (SameText(kv.first, key)) return true;
    return false;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    Section* s = Find(section);
    if (!s) {
        sections_.push_back({section, {}});
        s = &sections_.back();
    }
    dirty_ = true;
    for (auto& kv : s->values)
        if (SameText(kv.first, key)) {
            kv.second = value;
            return;
        }
    s->values.emplace_back(key, value);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteInteger(section, key, value ? 1 : 0);
}

void TIniFile::EraseSection(const std::string& section) {
    auto it = std::remove_if(sections_.begin(), sections_.end(),
                             [&](auto& s) { return SameText(s.name, section); });
    if (it != sections_.end()) {
        sections_.erase(it, sections_.end());
        dirty_ = true;
    }
}

std::vector<std::string> TIniFile::Sections() const {
    std::vector<std::string> names;
    for (auto& s : sections_) names.push_back(s.name);
    return names;
}

bool TIniFile::UpdateFile() {
    if (!dirty_) return true;
    std::ostringstream out;
    for (auto& s : sections_) {
        out << '[' << s.name << "]\n";
        for (auto& kv : s.values) out << kv.first << '=' << kv.second << '\n';
        out << '\n';
    }
    std::string tmp = fileName_ + ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f) return false;
        f << out.str();
        if (!f.flush()) return false;
    }
    if (std::rename(tmp.c_str(), fileName_.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    dirty_ = false;
    return true;
}

TIniFile& IniFile() {
    if (!g_ini) g_ini = std::make_unique<TIniFile>(AppDir() + "Tavrel.ini");
    return *g_ini;
}

void ReopenIniFile() { g_ini = std::make_unique<TIniFile>(AppDir() + "Tavrel.ini"); }
