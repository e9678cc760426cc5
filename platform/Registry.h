#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The registry: a small tree of keys and values kept in one text file, shared by the program
// and the libraries it loads (the virtual folder library writes its class registration here,
// the options dialog tests the same key).
//
// Which file: the one named by $TAVREL_REGISTRY when set, else
// $XDG_CONFIG_HOME/tavrel/registry.ini (default ~/.config/tavrel/registry.ini).
//
// File format (UTF-8 text, one item per line, "\n" or "\r\n" line ends):
//
//   ; comment lines start with ";" or "#"; blank lines are ignored
//   [HKEY_CLASSES_ROOT\CLSID\{67F75E16-82C8-49A0-A586-C1026D21B08C}\InprocServer32]
//   @="/opt/tavrel/libPondra.so"
//   "ThreadingModel"="Apartment"
//   [HKEY_CLASSES_ROOT\CLSID\{67F75E16-82C8-49A0-A586-C1026D21B08C}\ShellFolder]
//   "Attributes"=hex:00,00,00,20
//
// - "[path]" starts a key: its full path, components separated by "\". Every key on the
//   way to a key has a section of its own (creating a key creates its missing parents).
// - Below it, one value per line: a name, "=", and the data. The name is "@" for the key's
//   default value, otherwise a quoted text. The data is a quoted text (a string value) or
//   "hex:" followed by comma-separated two-digit hex bytes (a binary value; "hex:" alone is
//   an empty one).
// - Quoted texts escape "\" as \\, '"' as \", and CR, LF, TAB as \r, \n, \t; any other
//   byte below 0x20 and 0x7F as \xHH. Every other byte stands for itself.
// - Key names and value names compare without regard to the case of A-Z; a name keeps
//   the spelling it was created with. Key components may not be empty nor hold control
//   characters. Lines that do not parse are ignored (and are not written back).
//
// Every operation reads the file afresh, and every change is written back at once: the whole
// file goes to a temporary file in the same folder, which then replaces it by rename, so a
// reader never sees half a file. Changes take an exclusive lock (flock on the file name +
// ".lock") around their read-modify-write, so two processes changing the file at the same
// time do not lose each other's changes. A change that cannot be written (or a file that
// exists but cannot be read) makes the change fail and leaves the file as it was.

enum class TRegType { rtString, rtBinary };

struct TRegValue {
    TRegType Type = TRegType::rtString;
    std::string Data; // the text, or the raw bytes of a binary value
    bool operator==(const TRegValue&) const = default;
};

class TRegistry {
public:
    // The registry in the default file (see above; the environment is read now).
    TRegistry();
    // The registry in the given file.
    explicit TRegistry(std::string fileName);

    static std::string DefaultFileName();
    const std::string& FileName() const { return fileName_; }

    // Key paths are full paths such as "HKEY_LOCAL_MACHINE\Software\Kelmora\Tavrel".
    // A value name of "" is the key's default value.

    bool KeyExists(const std::string& key) const;
    // Creates the key and its missing parents; true when it exists afterwards.
    bool CreateKey(const std::string& key);
    // Deletes the key with all its subkeys and values. A missing key is no error (nothing
    // is written then); false only when an existing key could not be removed.
    bool DeleteKey(const std::string& key);
    // Subkey names (last component, as spelt) directly below the key, and value names of
    // the key ("" for the default value), in file order.
    std::vector<std::string> SubKeys(const std::string& key) const;
    std::vector<std::string> ValueNames(const std::string& key) const;

    // Sets a value, creating the key (and its parents) when missing.
    bool WriteString(const std::string& key, const std::string& name, const std::string& value);
    bool WriteBinary(const std::string& key, const std::string& name,
                     const std::vector<std::uint8_t>& bytes);
    // Deletes one value; a missing key or value is no error.
    bool DeleteValue(const std::string& key, const std::string& name);

    bool ValueExists(const std::string& key, const std::string& name) const;
    std::optional<TRegValue> ReadValue(const std::string& key, const std::string& name) const;
    // Empty when the value is missing or of the other type.
    std::optional<std::string> ReadString(const std::string& key, const std::string& name) const;
    std::optional<std::vector<std::uint8_t>> ReadBinary(const std::string& key,
                                                        const std::string& name) const;

private:
    std::string fileName_;
};
