#include "Pondra.h"

#include <cerrno>
#include <csignal>
#include <dlfcn.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace pondra {

namespace {
const char g_anchor = 0; // any address inside this library tells dladdr which file it is
}

std::string LibraryFile() {
    Dl_info info{};
    if (!dladdr(&g_anchor, &info) || !info.dli_fname || !*info.dli_fname) return {};
    std::filesystem::path p(info.dli_fname);
    std::error_code ec;
    if (p.is_relative()) p = std::filesystem::absolute(p, ec);
    return p.lexically_normal().string();
}

std::string LibraryFolder() {
    std::string file = LibraryFile();
    return file.substr(0, file.rfind('/') + 1);
}

// The program is started by a short-lived intermediate child, which the caller waits for.
// The program itself is then a child of no process of ours and is reaped by the system
// when it ends: no zombie stays behind, and no thread of this library outlives the call
// (the library may be unloaded while the program still runs).
void StartProgram() {
    std::string folder = LibraryFolder();
    if (folder.empty()) return;
    std::string program = folder + kProgramName;
    char* argv[] = {program.data(), nullptr};

    // Everything is prepared before fork: the intermediate child only spawns and exits.
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    if (posix_spawn_file_actions_init(&actions) != 0) return;
    if (posix_spawnattr_init(&attr) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return;
    }
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    // Descriptors of the host process stay with the host; standard streams are inherited.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    // A session of its own: signals for the host's terminal or process group do not reach it.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                        POSIX_SPAWN_SETSID);

    pid_t middle = fork();
    if (middle == 0) {
        pid_t pid;
        int rc = posix_spawn(&pid, program.c_str(), &actions, &attr, argv, environ);
        _exit(rc == 0 ? 0 : 127);
    }
    if (middle > 0)
        while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
        }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
}

} // namespace pondra
