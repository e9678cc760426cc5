// tavrel-cli: the command line front end over the same model and worker as the window.
#include "AppDir.h"
#include "Arguments.h"
#include "Commands.h"
#include "IniFile.h"
#include "ProgressPrinter.h"
#include "ScriptedPrompt.h"
#include "Session.h"
#include "TerminalPrompt.h"

#include <clocale>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

#ifndef TAVREL_VERSION
#define TAVREL_VERSION "0"
#endif

namespace {
void OnSignal(int) {
    // A second interruption ends the program at once.
    if (g_interrupted) ::_exit(exInterrupted);
    g_interrupted = true;
}

void InstallSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no restart: a blocking read of an answer ends
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}
} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    TCliArgs args;
    std::string error;
    if (!ParseArguments(std::vector<std::string>(argv + 1, argv + argc), args, error)) {
        std::fprintf(stderr, "tavrel-cli: %s\nTry 'tavrel-cli --help'.\n", error.c_str());
        return exUsage;
    }
    if (args.help) {
        std::fputs((args.helpTopic.empty() ? UsageText() : CommandUsage(args.helpTopic)).c_str(),
                   stdout);
        return exOk;
    }
    if (args.version) {
        std::printf("tavrel-cli %s\n", TAVREL_VERSION);
        return exOk;
    }
    if (!args.home.empty()) {
        std::error_code ec;
        std::string home = std::filesystem::absolute(args.home, ec).lexically_normal().string();
        SetAppDir(home); // creates the folder
        if (!std::filesystem::is_directory(home, ec) || ::access(home.c_str(), W_OK) != 0) {
            std::fprintf(stderr, "tavrel-cli: --home: \"%s\" is not a folder that can be used\n",
                         args.home.c_str());
            return exUsage;
        }
    } else {
        InitAppDir();
    }
    ReopenIniFile();
    InstallSignals();

    TProgressPrinter printer(stderr, ::isatty(STDERR_FILENO) != 0);
    const bool interactive = ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO);
    TTerminalPrompt prompt(args.answers, args.passwordStdin, interactive, printer);
    TPromptScope promptScope(prompt);
    TCliContext context{args, printer, prompt};
    int status = exFailed;
    try {
        status = args.run(context);
    } catch (const std::exception& e) {
        printer.Line(std::string("tavrel-cli: ") + e.what());
        status = exFailed;
    }
    if (g_interrupted) {
        printer.Line("tavrel-cli: interrupted");
        // The worker may have been let go in the middle of a transfer (the cache folder is
        // gone already). Ending without the exit handlers keeps the library cleanup from
        // freeing what that thread still uses.
        std::fflush(nullptr);
        ::_exit(exInterrupted);
    }
    return status;
}
