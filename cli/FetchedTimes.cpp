#include "FetchedTimes.h"

#include "DateTime.h"
#include "ExFile.h"
#include "TextUtil.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

bool StoredTimeToFileTime(const std::string& dateTimeText, struct timespec& out) {
    double dt = 0;
    try {
        dt = TextToFloat(dateTimeText);
    } catch (const EConvertError&) {
        return false;
    }
    // The years 1 to 9999, as DecodeDateTime takes them.
    if (!std::isfinite(dt) || dt < -693593.0 || dt > 2958466.0) return false;
    const long long ms = std::llround((dt - UnixEpochDays) * 86400000.0);
    long long seconds = ms / 1000, rest = ms % 1000;
    if (rest < 0) { // before 1970: the nanoseconds stay positive
        --seconds;
        rest += 1000;
    }
    out.tv_sec = static_cast<time_t>(seconds);
    out.tv_nsec = static_cast<long>(rest * 1000000);
    return true;
}

std::vector<std::string> ApplyStoredTimes(const TExFiles& files, const std::string& entryPath,
                                          const std::string& targetDir) {
    std::vector<std::string> errors;
    const bool folder = !entryPath.empty() && entryPath.back() == '\\';
    // The copy is named like the entry: the part of the path from the entry's name on.
    const std::string parent = ParentPath(entryPath);
    for (int i = 0; i < files.Count(); ++i) {
        const TExFile& e = files.Items(i);
        if (e.IsFolder || e.Path.empty() || e.Path.back() == '\\') continue;
        if (folder ? !StartsTextAscii(entryPath, e.Path) : !SameTextAscii(entryPath, e.Path))
            continue;
        std::string local = targetDir + "/" + e.Path.substr(parent.size());
        for (auto& c : local)
            if (c == '\\') c = '/';
        struct timespec times[2] = {{0, UTIME_OMIT}, {}};
        if (!StoredTimeToFileTime(e.Modified, times[1])) continue; // nothing to give it
        if (::utimensat(AT_FDCWD, local.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
            errors.push_back("cannot give \"" + local + "\" its stored modification time: " +
                             std::strerror(errno));
    }
    return errors;
}
