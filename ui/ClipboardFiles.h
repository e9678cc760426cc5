#pragma once
#include <string>
#include <vector>

class QMimeData;

// File lists on the clipboard and in drags, in the forms every file manager reads and
// writes: "x-special/gnome-copied-files", "text/uri-list" (local paths as file URLs only)
// and, on the clipboard, "application/x-kde-cutselection" "0" (a copy, never a cut); plus a
// private type that carries the raw name list, placeholders ("*" names, entries that are
// not in the cache) included, which the other formats leave out.
class TClipboardFiles {
public:
    static constexpr const char* PrivateType = "application/x-tavrel-names";
    static constexpr const char* GnomeType = "x-special/gnome-copied-files";
    static constexpr const char* UriListType = "text/uri-list";
    static constexpr const char* KdeCutType = "application/x-kde-cutselection";

    // The raw names: the private list when there is one, else Paths.
    static std::vector<std::string> Read(const QMimeData* data);
    // The local paths another program can use: from the gnome list when there is one,
    // else from text/uri-list. Empty when none, or when either names anything but local
    // files (refused whole).
    static std::vector<std::string> Paths(const QMimeData* data);
    // Whether the raw names hold a placeholder (a name with "*").
    static bool HoldsPlaceholder(const QMimeData* data);
    // A list the program can paste or take in a drop: at least one local path and no
    // placeholder among the raw names.
    static bool HoldsUsableList(const QMimeData* data);
    // A new clipboard content with the names; each non-empty name loses one trailing
    // backslash (a folder placeholder).
    static QMimeData* Make(const std::vector<std::string>& names);
    // The data of a drag-out: the names as given, without the cut marker.
    static QMimeData* MakeDrag(const std::vector<std::string>& names);
    // The names without placeholders, in order.
    static std::vector<std::string> LocalNames(const std::vector<std::string>& names);
    static bool IsPlaceholder(const std::string& name) { return name.find('*') != std::string::npos; }
};
