#pragma once
#include <string>
#include <vector>

class QMimeData;

// File lists on the clipboard, in the forms every file manager reads and writes:
// "x-special/gnome-copied-files" ("copy" or "cut", then one URL a line, no final newline),
// "text/uri-list" and "application/x-kde-cutselection"; plus a private type that carries
// the raw name list, placeholders (names holding "*") included.
class TClipboardFiles {
public:
    static constexpr const char* PrivateType = "application/x-tavrel-names";

    // The names on the clipboard: the private list when there is one, else local paths
    // from the gnome list, else from text/uri-list. Empty when none.
    static std::vector<std::string> Read(const QMimeData* data);
    // A list the program can paste: at least one name and no placeholder.
    static bool HoldsUsableList(const QMimeData* data);
    // A new clipboard content with the names (local paths; placeholders only in the
    // private list).
    static QMimeData* Make(const std::vector<std::string>& names);
};
