// tavrel-cli: the command line front end over the same model and worker as the window.
#include "AppDir.h"
#include "Arguments.h"
#include "Commands.h"
#include "IniFile.h"
#include "ProgressPrinter.h"
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
int RunCommand(TCliContext& c) {
    const std::string& cmd = c.args.command;
    if (cmd == "boxes") return CmdBoxes(c);
    if (cmd == "add-box") return CmdAddBox(c);
    if (cmd == "edit-box") return CmdEditBox(c);
    if (cmd == "rm-box") return CmdRmBox(c);
    if (cmd == "ls") return CmdLs(c);
    if (cmd == "put") return CmdPut(c);
    if (cmd == "mkdir") return CmdMkdir(c);
    if (cmd == "rm") return CmdRm(c);
    if (cmd == "get") return CmdGet(c);
    if (cmd == "find") return CmdFind(c);
    if (cmd == "info") return CmdInfo(c);
    return exUsage;
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
        std::fputs(UsageText().c_str(), stdout);
        return exOk;
    }
    if (args.version) {
        std::printf("tavrel-cli %s\n", TAVREL_VERSION);
        return exOk;
    }
    if (!args.home.empty()) {
        std::error_code ec;
        std::string home = std::filesystem::absolute(args.home, ec).lexically_normal().string();
        std::filesystem::create_directories(home, ec);
        if (!std::filesystem::is_directory(home, ec) || ::access(home.c_str(), W_OK) != 0) {
            std::fprintf(stderr, "tavrel-cli: --home: \"%s\" is not a folder that can be used\n",
                         args.home.c_str());
            return exUsage;
        }
        SetAppDir(home);
    } else {
        InitAppDir();
    }
    ReopenIniFile();
    InstallSignals();

    TProgressPrinter printer(stderr, ::isatty(STDERR_FILENO) != 0);
    const bool interactive = ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO);
    TTerminalPrompt prompt(args.answers, args.passwordStdin, interactive, printer);
    SetPrompt(&prompt);
    TCliContext context{args, printer, prompt};
    int status = exFailed;
    try {
        status = RunCommand(context);
    } catch (const std::exception& e) {
        printer.Line(std::string("tavrel-cli: ") + e.what());
        status = exFailed;
    }
    SetPrompt(nullptr);
    if (g_interrupted) {
        printer.Line("tavrel-cli: interrupted");
        status = exInterrupted;
    }
    return status;
}
