#pragma once
#include <string>
#include <vector>

// Local folders as put stores them. The model's AddLocal stores a folder with what it
// holds, following links to files but not links to folders (a link cycle would never end
// there). The command line follows a link to a folder at every depth, as it follows one
// named on it: each is stored as a folder of the link's name. A link that leads back to a
// folder on its own path (a loop) is refused by name.

// Why a local folder cannot be stored: it cannot be listed, or what it holds cannot be
// reached. Empty when it can.
std::string UnreadableFolderReason(const std::string& path);

// A link to a folder found below a stored folder: its local path, and the mailbox folder
// it goes into, relative to the stored folder ("" for the stored folder itself, else
// "sub\deeper\").
struct TFolderLink {
    std::string local;
    std::string parent;
};

// Every link to a folder below the local folder `root` (which may be reached through a
// link itself), depth first and in name order as AddLocal walks, each walked through as
// well. Links that lead to a folder on their own path from `root` go to `loops` (their
// local paths) instead. Names that cannot be stored and folders that cannot be read are
// passed over: AddLocal tells of those.
std::vector<TFolderLink> FolderLinksBelow(const std::string& root,
                                          std::vector<std::string>& loops);
