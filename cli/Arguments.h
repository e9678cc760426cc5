#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

// Exit statuses of tavrel-cli.
enum : int {
    exOk = 0,          // everything asked for succeeded
    exFailed = 1,      // an operation failed after its attempts (reason on stderr)
    exUsage = 2,       // the command line or an input named on it was not usable
    exInterrupted = 130
};

// How questions of the model and the worker are answered.
enum class TAnswerMode { Ask, Yes, No };

struct TCliContext;

// The parsed command line: global options, the command, its operands and options.
struct TCliArgs {
    std::string home;
    TAnswerMode answers = TAnswerMode::Ask;
    bool passwordStdin = false;
    bool help = false;
    bool version = false;

    std::string command;
    int (*run)(TCliContext&) = nullptr; // the command's handler (Commands.h)
    std::vector<std::string> operands;
    std::map<std::string, std::string> values; // "--address" -> "a@b.c"
    std::set<std::string> flags;               // "--smtp-ssl", "-R"

    bool Has(const std::string& option) const {
        return values.count(option) > 0 || flags.count(option) > 0;
    }
    std::string Value(const std::string& option, const std::string& def = {}) const {
        auto it = values.find(option);
        return it == values.end() ? def : it->second;
    }
};

// Parses argv. Returns false and sets `error` for a usage error (unknown command or
// option, a missing value or operand, options that exclude each other).
bool ParseArguments(const std::vector<std::string>& argv, TCliArgs& out, std::string& error);

// The text of --help.
std::string UsageText();
