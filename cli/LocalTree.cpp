#include "LocalTree.h"

#include "MailFolder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
struct TFolderId {
    dev_t dev;
    ino_t ino;
    bool operator==(const TFolderId& o) const { return dev == o.dev && ino == o.ino; }
};

void Walk(const std::string& dir, const std::string& parent, std::vector<TFolderId>& path,
          std::vector<TFolderLink>& links, std::vector<std::string>& loops) {
    std::vector<std::string> entries;
    std::error_code ec;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
        entries.push_back(it->path().string());
    std::sort(entries.begin(), entries.end());
    for (const auto& e : entries) {
        const std::string name = fs::path(e).filename().string();
        if (!IsStorableName(name)) continue;
        struct stat own {}, target {};
        if (::lstat(e.c_str(), &own) != 0 || ::stat(e.c_str(), &target) != 0 ||
            !S_ISDIR(target.st_mode))
            continue;
        const TFolderId id{target.st_dev, target.st_ino};
        if (S_ISLNK(own.st_mode)) {
            if (std::find(path.begin(), path.end(), id) != path.end()) {
                loops.push_back(e);
                continue;
            }
            links.push_back({e, parent});
        }
        path.push_back(id);
        Walk(e, parent + name + "\\", path, links, loops);
        path.pop_back();
    }
}
} // namespace

std::string UnreadableFolderReason(const std::string& path) {
    DIR* d = ::opendir(path.c_str());
    if (!d) return std::strerror(errno);
    ::closedir(d);
    // Listed but not searchable: none of its entries could be read.
    if (::access(path.c_str(), X_OK) != 0) return std::strerror(errno);
    return {};
}

std::vector<TFolderLink> FolderLinksBelow(const std::string& root,
                                          std::vector<std::string>& loops) {
    std::vector<TFolderLink> links;
    struct stat st {};
    if (::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return links;
    std::vector<TFolderId> path = {{st.st_dev, st.st_ino}};
    Walk(root, "", path, links, loops);
    return links;
}
