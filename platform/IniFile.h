#pragma once
#include <map>
#include <string>
#include <vector>

// A small INI file: [Section] headers and Key=Value lines. Section and key names compare
// without regard to ASCII case, as the window layout file has always been read. Changes
// are kept in memory until UpdateFile (or destruction) writes the file.
class TIniFile {
public:
    explicit TIniFile(std::string fileName);
    ~TIniFile();
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    const std::string& FileName() const { return fileName_; }

    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& def) const;
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    void WriteBool(const std::string& section, const std::string& key, bool value);
    bool ValueExists(const std::string& section, const std::string& key) const;
    void EraseSection(const std::string& section);
    std::vector<std::string> Sections() const;

    // Writes the file if anything changed; false when it could not be written.
    bool UpdateFile();
    // Re-reads the file from disk, dropping unsaved changes.
    void Reload();

private:
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> values;
    };
    Section* Find(const std::string& section);
    const Section* Find(const std::string& section) const;

    std::string fileName_;
    std::vector<Section> sections_;
    bool dirty_ = false;
};

// The program's Tavrel.ini in AppDir, opened on first use.
TIniFile& IniFile();
// Re-opens IniFile() for the current AppDir (after SetAppDir).
void ReopenIniFile();
