// A private scratch folder for the fuzz targets that read files (Data.bin, Tavrel.ini):
// made once per process under $TMPDIR (default /tmp), removed when the process ends.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fuzztemp {

// The folder, with a trailing "/".
inline const std::string& Dir() {
    static const std::string dir = [] {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tavrel-fuzz-XXXXXX";
        if (!::mkdtemp(tmpl.data())) {
            std::perror("fuzz: mkdtemp");
            std::abort();
        }
        static const std::string keep = tmpl;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(keep, ec);
        });
        return tmpl + "/";
    }();
    return dir;
}

// Writes bytes to a file of the folder (replaced) and gives its path.
inline std::string WriteFile(const std::string& name, const void* data, std::size_t size) {
    const std::string path = Dir() + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out.flush()) {
        std::perror("fuzz: cannot write the input file");
        std::abort();
    }
    return path;
}

}  // namespace fuzztemp
