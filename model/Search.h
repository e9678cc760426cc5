#pragma once
#include <functional>
#include <string>
#include <vector>

#include "ExFile.h"

// One search result: the entry's name, its folder as shown ("In Folder"), and the entry.
struct TSearchHit {
    std::string Name;
    std::string InFolder;
    const TExFile* Entry = nullptr;
};

// Entries whose name holds the text (a plain substring test with A..Z folded; "*" and "?"
// mean nothing special), in table order. `keepGoing` is asked before every entry so a
// long search can be stopped.
std::vector<TSearchHit> SearchEntries(const TExFiles& table, const std::string& alias,
                                      const std::string& text,
                                      const std::function<bool()>& keepGoing = {});
