// tavrel-mount: a mailbox as a mounted folder, over the same model and worker as the
// window and tavrel-cli.
#include "AppDir.h"
#include "Completion.h"
#include "FuseMount.h"
#include "IniFile.h"
#include "MailFolder.h"
#include "MailFs.h"
#include "ModelThread.h"
#include "MountArgs.h"
#include "MountLog.h"
#include "MountPrompt.h"
#include "MountedBox.h"
#include "ProgressPrinter.h"
#include "ScriptedPrompt.h"
#include "TerminalPrompt.h"

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#ifndef TAVREL_VERSION
#define TAVREL_VERSION "0"
#endif

namespace {
std::atomic<int> g_signals{0};

void OnSignal(int) { ++g_signals; }

void SetSignals(void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &sa, nullptr);
}

// The signals that end the program reach this thread and libfuse's, never the model's
// or the worker's (which would not wake anybody up).
void BlockEndSignals(bool block) {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, s);
    pthread_sigmask(block ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

// In the background the starting process waits until the mount is ready (or has failed)
// and ends with the status the server sends it; the server goes on alone.
int g_readyPipe = -1;

void TellStarter(int status) {
    if (g_readyPipe < 0) return;
    const unsigned char b = static_cast<unsigned char>(status);
    (void)!::write(g_readyPipe, &b, 1);
    ::close(g_readyPipe);
    g_readyPipe = -1;
}

bool GoBackground() {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid > 0) {
        ::close(fds[1]);
        unsigned char status = 1;
        ssize_t n;
        while ((n = ::read(fds[0], &status, 1)) < 0 && errno == EINTR) {
        }
        ::_exit(n == 1 ? status : 1);
    }
    ::close(fds[0]);
    g_readyPipe = fds[1];
    ::setsid();
    return true;
}

void DetachFromTerminal(TMountLog& log) {
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0) return;
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    // Standard error stays where it was sent only when that is a file: the terminal is
    // left behind, and a pipe kept open would make `tavrel-mount ... 2>&1 | less` or
    // `out=$(tavrel-mount ... 2>&1)` wait until the folder is unmounted.
    struct stat st {};
    if (::fstat(STDERR_FILENO, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::dup2(null, STDERR_FILENO);
        log.SetStderr(false);
    }
    if (null > STDERR_FILENO) ::close(null);
    log.SetSyslog(true);
    (void)!::chdir("/");
}

int Fail(TMountLog& log, const std::string& text, int status) {
    log.Line(text);
    TellStarter(status);
    return status;
}
} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    TMountArgs args;
    std::string error;
    if (!ParseMountArgs(std::vector<std::string>(argv + 1, argv + argc), args, error)) {
        std::fprintf(stderr, "tavrel-mount: %s\nTry 'tavrel-mount --help'.\n", error.c_str());
        return 2;
    }
    if (args.help) {
        std::fputs(MountUsageText().c_str(), stdout);
        return 0;
    }
    if (args.version) {
        std::printf("tavrel-mount %s\n", TAVREL_VERSION);
        return 0;
    }
    std::error_code ec;
    const std::string mountPoint =
        std::filesystem::absolute(args.mountPoint, ec).lexically_normal().string();
    if (ec || !std::filesystem::is_directory(mountPoint, ec)) {
        std::fprintf(stderr, "tavrel-mount: MOUNTPOINT \"%s\" is not a folder\n",
                     args.mountPoint.c_str());
        return 2;
    }
    if (!args.home.empty()) {
        const std::string home = std::filesystem::absolute(args.home, ec).lexically_normal().string();
        SetAppDir(home);
        if (!std::filesystem::is_directory(home, ec) || ::access(home.c_str(), W_OK) != 0) {
            std::fprintf(stderr, "tavrel-mount: --home: \"%s\" is not a folder that can be used\n",
                         args.home.c_str());
            return 2;
        }
    } else {
        InitAppDir();
    }
    ReopenIniFile();
    std::signal(SIGPIPE, SIG_IGN);
    // Threads cannot cross a fork: the background process is made before any is started.
    if (!args.foreground && !GoBackground()) {
        std::perror("tavrel-mount: cannot go into the background");
        return 1;
    }

    TProgressPrinter printer(stderr, ::isatty(STDERR_FILENO) != 0);
    TMountLog log(printer);
    const bool interactive = ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO);
    const TAnswerMode answers = args.answers == TMountArgs::TAnswers::Yes  ? TAnswerMode::Yes
                                : args.answers == TMountArgs::TAnswers::No ? TAnswerMode::No
                                                                           : TAnswerMode::Ask;
    TTerminalPrompt terminal(answers, args.passwordStdin, interactive, printer);
    TMountPrompt prompt(terminal, log);
    TPromptScope promptScope(prompt);

    BlockEndSignals(true);
    TModelThread model;
    std::unique_ptr<TMountedBox> box;
    std::atomic<TMailFs*> served{nullptr};
    const int refreshSeconds = args.refreshSeconds;
    model.Start(
        [&] {
            // The structure refresh of -o refresh, never while something is queued or open
            // for writing.
            TMailFs* fs = served.load();
            if (!fs || !box || box->Refreshing() || box->Queued() > 0) return;
            if (SteadySeconds() - box->LastRefresh() < refreshSeconds) return;
            if (fs->OpenForWriting() > 0) return;
            box->Refresh(nullptr);
        },
        1000, [&] {
            if (box) box->Publish();
        });
    BlockEndSignals(false);
    SetSignals(OnSignal);

    int status = 0;
    bool loaded = false;
    model.Call([&] {
        box = std::make_unique<TMountedBox>(log, prompt);
        loaded = box->Load(model, args.box, error, status);
    });
    auto finish = [&](int code) {
        model.Call([&] { box.reset(); });
        model.Stop();
        log.ClearLive();
        return code;
    };
    if (!loaded) {
        Fail(log, error, status);
        return finish(status);
    }

    log.SetShowProgress(true);
    auto opened = std::make_shared<TCompletion>();
    model.Call([&] { box->Refresh(opened); });
    while (!opened->WaitFor(100)) {
        if (g_signals > 0) {
            Fail(log, "interrupted", 130);
            return finish(130);
        }
    }
    log.SetShowProgress(false);
    if (!opened->Wait()) {
        Fail(log, "cannot open mailbox \"" + args.box + "\"", 1);
        return finish(1);
    }
    prompt.SetServing(true);

    {
        TMailFs fs(model, *box, log, args.async, args.refreshSeconds);
        TFuseMount mount(fs);
        if (!mount.Mount(mountPoint, args.fuseOptions, args.debug, error)) {
            Fail(log, error, 1);
            return finish(1);
        }
        served = &fs;
        log.Line("mounted \"" + args.box + "\" at " + mountPoint + " (process " +
                 std::to_string(::getpid()) + ")");
        TellStarter(0);
        if (!args.foreground) DetachFromTerminal(log);
        SetSignals(SIG_DFL); // libfuse installs its own only over the default ones
        g_signals = 0;
        mount.Serve();
        mount.Unmount();
        served = nullptr;
        SetSignals(OnSignal);

        // What is queued is finished before the cache goes; a signal now stops at once.
        log.SetShowProgress(true);
        bool told = false;
        for (;;) {
            int queued = 0;
            model.Call([&] { queued = box->Queued(); });
            if (queued == 0) break;
            if (!told) {
                log.Line("unmounted; finishing " + std::to_string(queued) +
                         " queued operation(s) first (a signal stops at once)");
                told = true;
            }
            if (g_signals > 0) {
                std::vector<std::string> lost;
                model.Call([&] { lost = box->QueuedStores(); });
                for (const auto& p : lost) log.Line("not stored: " + p);
                log.Line("stopped: " + std::to_string(lost.size()) + " file(s) not stored");
                status = lost.empty() ? 130 : 1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        log.SetShowProgress(false);
    }
    log.Line("unmounted \"" + args.box + "\"");
    return finish(status);
}
