#pragma once
#include <string>
#include <vector>

// The command line of tavrel-mount:
//   tavrel-mount [--home DIR] [--yes | --no] [--password-stdin] [-f] [-o OPTIONS] BOX MOUNTPOINT
// Our own -o options (async, refresh=SECONDS) are taken out; every other one is handed to
// libfuse as it was given (allow_other, ...).
struct TMountArgs {
    std::string home;
    enum class TAnswers { Ask, Yes, No } answers = TAnswers::Ask;
    bool passwordStdin = false;
    bool foreground = false;
    bool debug = false;          // -d: libfuse's request trace, implies -f
    bool async = false;          // close() returns before the upload is done
    int refreshSeconds = 60;     // structure refresh interval, 1 .. 86400
    std::vector<std::string> fuseOptions;
    std::string box;
    std::string mountPoint;
    bool help = false;
    bool version = false;
};

// Parses argv (without the program name). False with `error` set for a usage error: an
// unknown option, a missing value or operand, a bad refresh time, --yes with --no.
bool ParseMountArgs(const std::vector<std::string>& argv, TMountArgs& out, std::string& error);

// The text of --help.
std::string MountUsageText();
