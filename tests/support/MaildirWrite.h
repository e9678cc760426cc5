#pragma once
// Writing a mail straight into a Maildir, as a delivery does: into tmp/, owned like the
// Maildir (the mail server's user must read it), then renamed into new/. A header only,
// for the tests and the benchmarks alike.
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// False when the file cannot be written, or cannot be given the Maildir's owner while
// running as root.
inline bool DeliverToMaildir(const std::string& maildir, const std::string& name,
                             const std::string& text) {
    struct stat owner {};
    if (::stat(maildir.c_str(), &owner) != 0) return false;
    const std::string tmp = maildir + "/tmp/" + name;
    {
        std::ofstream out(tmp, std::ios::binary);
        out << text;
        if (!out.flush()) return false;
    }
    if (::chown(tmp.c_str(), owner.st_uid, owner.st_gid) != 0 && ::geteuid() == 0) return false;
    return std::rename(tmp.c_str(), (maildir + "/new/" + name).c_str()) == 0;
}
