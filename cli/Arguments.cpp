#include "Arguments.h"

#include "Commands.h"

#include <algorithm>

namespace {
// What a command accepts: its options with a value, its flags, and how many operands.
struct TCommandSpec {
    const char* name;
    int (*run)(TCliContext&);
    std::vector<std::string> valueOptions;
    std::vector<std::string> flagOptions;
    size_t minOperands;
    size_t maxOperands; // SIZE_MAX: any number
    const char* operandsText;
};

const std::vector<std::string> BoxValues = {"--address",      "--smtp",         "--pop",
                                            "--account",      "--password",     "--capacity-mib",
                                            "--max-attach-mib", "--max-attach-bytes"};
const std::vector<std::string> BoxFlags = {"--smtp-ssl",    "--pop-ssl",    "--no-auth",
                                           "--no-smtp-ssl", "--no-pop-ssl", "--auth"};

std::vector<std::string> With(std::vector<std::string> v, const std::string& extra) {
    v.push_back(extra);
    return v;
}

const std::vector<TCommandSpec>& Commands() {
    static const std::vector<TCommandSpec> specs = {
        {"boxes", CmdBoxes, {}, {}, 0, 0, ""},
        {"add-box", CmdAddBox, BoxValues, BoxFlags, 1, 1, "ALIAS"},
        {"edit-box", CmdEditBox, With(BoxValues, "--alias"), BoxFlags, 1, 1, "ALIAS"},
        {"rm-box", CmdRmBox, {}, {}, 1, 1, "ALIAS"},
        {"ls", CmdLs, {}, {"-R", "-l"}, 1, 2, "BOX [PATH]"},
        {"put", CmdPut, {"--to"}, {}, 2, SIZE_MAX, "BOX LOCAL..."},
        {"mkdir", CmdMkdir, {}, {}, 2, 2, "BOX PATH"},
        {"rm", CmdRm, {}, {}, 2, SIZE_MAX, "BOX PATH..."},
        {"get", CmdGet, {"--to"}, {}, 2, SIZE_MAX, "BOX PATH..."},
        {"find", CmdFind, {}, {}, 2, 2, "BOX TEXT"},
        {"info", CmdInfo, {}, {}, 1, 2, "BOX [PATH]"},
    };
    return specs;
}

bool Contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

const TCommandSpec* FindCommand(const std::string& name) {
    for (const auto& c : Commands())
        if (name == c.name) return &c;
    return nullptr;
}
} // namespace

std::string UsageText() {
    return R"(Usage: tavrel-cli [--home DIR] [--yes | --no] [--password-stdin] COMMAND ...

Mailboxes:
  boxes                        list the mailboxes and their settings
  add-box ALIAS --address A --smtp HOST[:PORT] --pop HOST[:PORT] --account NAME
          [--password P] [--smtp-ssl] [--pop-ssl] [--no-auth] [--capacity-mib N]
          [--max-attach-mib N | --max-attach-bytes N]
                               add a mailbox (ports default to 25/110, 465/995 with SSL)
  edit-box ALIAS [the options of add-box] [--alias NEW]
          [--no-smtp-ssl] [--no-pop-ssl] [--auth]
                               change a mailbox; what is not given stays
  rm-box ALIAS                 remove a mailbox from the list (its mails stay on the server)

Files (PATH is a path inside the mailbox; "/" and "\" both separate names):
  ls BOX [PATH] [-R] [-l]      list a folder (-l: size, type, date, Local/Mail, action)
  put BOX LOCAL... [--to PATH] store local files and folders
  mkdir BOX PATH               make a folder
  rm BOX PATH...               delete files and folders
  get BOX PATH... [--to DIR]   fetch files and folders into DIR (default: .)
  find BOX TEXT                entries whose name holds TEXT
  info BOX [PATH]              statistics of the mailbox, or properties of an entry

Options:
  --home DIR         program folder with Data.bin and Tavrel.ini (as TAVREL_HOME)
  --yes, --no        answer every question yes, or no (default: ask on the terminal;
                     without one, questions are answered no)
  --password-stdin   read a password from one line of standard input: the mailbox
                     password of add-box/edit-box, else the one typed again after a
                     failed login (with --yes, which answers the login question)
  --help, --version

Exit status: 0 all succeeded, 1 an operation failed, 2 usage error or unusable input.
)";
}

bool ParseArguments(const std::vector<std::string>& argv, TCliArgs& out, std::string& error) {
    out = TCliArgs{};
    std::vector<std::pair<std::string, std::string>> options; // before the command is known
    std::vector<std::string> positional;
    bool yes = false, no = false, endOfOptions = false;

    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (endOfOptions || a.empty() || a[0] != '-' || a == "-") {
            positional.push_back(a);
            continue;
        }
        if (a == "--") {
            endOfOptions = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            out.help = true;
            continue;
        }
        if (a == "--version") {
            out.version = true;
            continue;
        }
        if (a == "--yes") {
            yes = true;
            continue;
        }
        if (a == "--no") {
            no = true;
            continue;
        }
        if (a == "--password-stdin") {
            out.passwordStdin = true;
            continue;
        }
        if (a.size() > 2 && a[1] != '-') {
            // Short flags, possibly bundled: -lR.
            for (size_t k = 1; k < a.size(); ++k) options.push_back({std::string("-") + a[k], ""});
            continue;
        }
        std::string name = a, value;
        bool hasValue = false;
        if (size_t eq = a.find('='); eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            hasValue = true;
        }
        if (name == "--home") {
            if (!hasValue) {
                if (i + 1 >= argv.size()) {
                    error = "--home needs a folder";
                    return false;
                }
                value = argv[++i];
            }
            if (value.empty()) {
                error = "--home needs a folder";
                return false;
            }
            out.home = value;
            continue;
        }
        // Command options are checked once the command is known; whether one takes a
        // value is the same for every command.
        const bool takesValue =
            std::any_of(Commands().begin(), Commands().end(),
                        [&](const TCommandSpec& c) { return Contains(c.valueOptions, name); });
        if (takesValue && !hasValue) {
            if (i + 1 >= argv.size()) {
                error = name + " needs a value";
                return false;
            }
            value = argv[++i];
            hasValue = true;
        }
        if (!takesValue && hasValue) {
            error = name + " takes no value";
            return false;
        }
        options.push_back({name, value});
    }

    if (yes && no) {
        error = "--yes and --no exclude each other";
        return false;
    }
    out.answers = yes ? TAnswerMode::Yes : no ? TAnswerMode::No : TAnswerMode::Ask;
    if (out.help || out.version) return true;
    if (positional.empty()) {
        error = "no command given";
        return false;
    }
    out.command = positional.front();
    const TCommandSpec* spec = FindCommand(out.command);
    if (!spec) {
        error = "unknown command \"" + out.command + "\"";
        return false;
    }
    out.run = spec->run;
    out.operands.assign(positional.begin() + 1, positional.end());
    for (auto& [name, value] : options) {
        bool isValue = Contains(spec->valueOptions, name);
        bool isFlag = Contains(spec->flagOptions, name);
        if (!isValue && !isFlag) {
            error = "unknown option " + name + " for " + out.command;
            return false;
        }
        if (out.Has(name)) {
            error = name + " is given twice";
            return false;
        }
        if (isValue)
            out.values[name] = value;
        else
            out.flags.insert(name);
    }
    const size_t n = out.operands.size();
    if (n < spec->minOperands || n > spec->maxOperands) {
        error = std::string("usage: tavrel-cli ") + spec->name + " " + spec->operandsText;
        return false;
    }
    const std::pair<const char*, const char*> exclusive[] = {
        {"--max-attach-mib", "--max-attach-bytes"},
        {"--smtp-ssl", "--no-smtp-ssl"},
        {"--pop-ssl", "--no-pop-ssl"},
        {"--auth", "--no-auth"},
    };
    for (auto [a, b] : exclusive)
        if (out.Has(a) && out.Has(b)) {
            error = std::string(a) + " and " + b + " exclude each other";
            return false;
        }
    if (out.Has("--password") && out.passwordStdin) { // the second is a global option
        error = "--password and --password-stdin exclude each other";
        return false;
    }
    if (out.command == "add-box") {
        for (const char* required : {"--address", "--smtp", "--pop", "--account"})
            if (!out.Has(required)) {
                error = std::string("add-box needs ") + required;
                return false;
            }
    }
    return true;
}
