#include "RegisterDll.h"

#include "AppDir.h"

#include <dlfcn.h>

std::string LibraryPath(const std::string& nameOrPath) {
    std::string path = nameOrPath;
    std::string dir;
    if (!path.empty() && path[0] == '/') {
        size_t slash = path.rfind('/');
        dir = path.substr(0, slash + 1);
        path = path.substr(slash + 1);
    } else {
        dir = AppDir();
    }
    const std::string ext = ".dll";
    if (path.size() > ext.size()) {
        std::string tail = path.substr(path.size() - ext.size());
        for (auto& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        if (tail == ext) path = "lib" + path.substr(0, path.size() - ext.size()) + ".so";
    }
    return dir + path;
}

namespace {
void CallExport(const std::string& nameOrPath, const char* exportName) {
    void* lib = dlopen(LibraryPath(nameOrPath).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) return;
    using Fn = long (*)();
    if (auto fn = reinterpret_cast<Fn>(dlsym(lib, exportName))) fn();
    dlclose(lib);
}
} // namespace

void RegisterDll(const std::string& nameOrPath) { CallExport(nameOrPath, "DllRegisterServer"); }

void UnregisterDll(const std::string& nameOrPath) {
    CallExport(nameOrPath, "DllUnregisterServer");
}

void RegisterStartupComponents() { RegisterDll("Yarrowin.dll"); }
