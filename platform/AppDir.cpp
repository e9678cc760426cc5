#include "AppDir.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
std::string g_appDir;

std::string WithSlash(std::string s) {
    if (s.empty() || s.back() != '/') s += '/';
    return s;
}
} // namespace

std::string ExecutableDir() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return WithSlash(fs::current_path(ec).string());
    return WithSlash(exe.parent_path().string());
}

void SetAppDir(const std::string& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    g_appDir = WithSlash(dir);
}

void InitAppDir() {
    if (const char* home = std::getenv("TAVREL_HOME"); home && *home) {
        SetAppDir(home);
        return;
    }
    std::string exeDir = ExecutableDir();
    if (access(exeDir.c_str(), W_OK) == 0) {
        g_appDir = exeDir;
        return;
    }
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* h = std::getenv("HOME"); h && *h)
        base = std::string(h) + "/.local/share";
    else
        base = "/tmp";
    SetAppDir(WithSlash(base) + "tavrel/");
}

const std::string& AppDir() {
    if (g_appDir.empty()) InitAppDir();
    return g_appDir;
}
