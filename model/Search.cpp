#include "Search.h"

#include "TextUtil.h"

#include <functional>

std::vector<TSearchHit> SearchEntries(const TExFiles& table, const std::string& alias,
                                      const std::string& text,
                                      const std::function<bool()>& keepGoing) {
    std::vector<TSearchHit> hits;
    const std::string needle = LowerAscii(text);
    for (int i = 0; i < table.Count(); ++i) {
        if (keepGoing && !keepGoing()) break;
        const TExFile& e = table.Items(i);
        std::string path = e.Path;
        if (e.IsFolder && !path.empty() && path.back() == '\\') path.pop_back();
        size_t slash = path.rfind('\\');
        std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        std::string inFolder = alias + folder;
        if (!inFolder.empty() && inFolder.back() == '\\') inFolder.pop_back();
        if (LowerAscii(name).find(needle) == std::string::npos) continue;
        hits.push_back({name, inFolder, &e});
    }
    return hits;
}
