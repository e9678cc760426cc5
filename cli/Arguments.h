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
    bool help = false;     // --help, -h or the command help
    std::string helpTopic; // the command whose usage is asked for; empty for all
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

// What a command accepts: its options with a value, its flags, how many operands, and
// its usage: the synopsis after its name (lines after the first are continued ones) and
// what it does. `run` is null for help, which the parser answers itself.
struct TCommandInfo {
    const char* name;
    int (*run)(TCliContext&);
    std::vector<std::string> valueOptions;
    std::vector<std::string> flagOptions;
    size_t minOperands;
    size_t maxOperands; // SIZE_MAX: any number
    const char* synopsis;
    const char* about;
    const char* group; // the heading of the usage text it comes under
};
const std::vector<TCommandInfo>& CommandList();

// Parses argv. Returns false and sets `error` for a usage error (unknown command or
// option, a missing value or operand, options that exclude each other). "help COMMAND"
// and "COMMAND --help" set `help` and `helpTopic`.
bool ParseArguments(const std::vector<std::string>& argv, TCliArgs& out, std::string& error);

// The text of --help: every command, then the global options.
std::string UsageText();
// The usage of one command: "Usage: tavrel-cli NAME SYNOPSIS", what it does, and the global
// options; empty for a name that is no command.
std::string CommandUsage(const std::string& name);
