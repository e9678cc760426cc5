#include "Arguments.h"

#include "Commands.h"

#include <algorithm>

namespace {
const std::vector<std::string> BoxValues = {"--address",      "--smtp",         "--pop",
                                            "--account",      "--password",     "--capacity-mib",
                                            "--max-attach-mib", "--max-attach-bytes"};
const std::vector<std::string> BoxFlags = {"--smtp-ssl",    "--pop-ssl",    "--no-auth",
                                           "--no-smtp-ssl", "--no-pop-ssl", "--auth"};

std::vector<std::string> With(std::vector<std::string> v, const std::string& extra) {
    v.push_back(extra);
    return v;
}

const char* const BoxGroup = "Mailboxes:";
const char* const FileGroup =
    "Files (PATH is a path inside the mailbox; \"/\" and \"\\\" both separate names):";

bool Contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

const TCommandInfo* FindCommand(const std::string& name) {
    for (const auto& c : CommandList())
        if (name == c.name) return &c;
    return nullptr;
}

// An option that some command takes.
bool KnownOption(const std::string& name) {
    return std::any_of(CommandList().begin(), CommandList().end(), [&](const TCommandInfo& c) {
        return Contains(c.valueOptions, name) || Contains(c.flagOptions, name);
    });
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t nl = text.find('\n', start);
        lines.push_back(text.substr(start, nl == std::string::npos ? nl : nl - start));
        if (nl == std::string::npos) return lines;
        start = nl + 1;
    }
}

std::string Synopsis(const TCommandInfo& c, const std::string& continued) {
    std::string out = c.name;
    const std::vector<std::string> lines = Lines(c.synopsis);
    for (size_t i = 0; i < lines.size(); ++i)
        if (!lines[i].empty()) out += (i == 0 ? " " : continued) + lines[i];
    return out;
}

// A command in the usage text: the synopsis from column 3 (continued lines from column
// 11), what it does from column 32, on the synopsis's last line when that leaves room.
std::string Entry(const TCommandInfo& c) {
    constexpr size_t aboutColumn = 31;
    const std::string indent(aboutColumn, ' ');
    std::string entry = "  " + Synopsis(c, "\n          ");
    const size_t lastLine = entry.size() - (entry.rfind('\n') + 1);
    entry += lastLine < aboutColumn ? std::string(aboutColumn - lastLine, ' ') : "\n" + indent;
    const std::vector<std::string> about = Lines(c.about);
    for (size_t i = 0; i < about.size(); ++i) entry += (i ? indent : "") + about[i] + "\n";
    return entry;
}

const char* const GlobalOptions = R"(Options:
  --home DIR         program folder with Data.bin and Tavrel.ini (as TAVREL_HOME)
  --yes, --no        answer every question yes, or no (default: ask on the terminal;
                     without one, questions are answered no)
  --password-stdin   read a password from one line of standard input: the mailbox
                     password of add-box/edit-box, else the one typed again after a
                     failed login (with --yes, which answers the login question)
  --help, --version
)";
} // namespace

const std::vector<TCommandInfo>& CommandList() {
    static const std::vector<TCommandInfo> commands = {
        {"boxes", CmdBoxes, {}, {}, 0, 0, "", "list the mailboxes and their settings", BoxGroup},
        {"add-box", CmdAddBox, BoxValues, BoxFlags, 1, 1,
         "ALIAS --address A --smtp HOST[:PORT] --pop HOST[:PORT] --account NAME\n"
         "[--password P] [--smtp-ssl | --no-smtp-ssl] [--pop-ssl | --no-pop-ssl]\n"
         "[--auth | --no-auth] [--capacity-mib N] [--max-attach-mib N | --max-attach-bytes N]",
         "add a mailbox (ports default to 25/110, 465/995 with SSL)", BoxGroup},
        {"edit-box", CmdEditBox, With(BoxValues, "--alias"), BoxFlags, 1, 1,
         "ALIAS [--alias NEW] [--address A] [--smtp HOST[:PORT]]\n"
         "[--pop HOST[:PORT]] [--account NAME] [--password P]\n"
         "[--smtp-ssl | --no-smtp-ssl] [--pop-ssl | --no-pop-ssl] [--auth | --no-auth]\n"
         "[--capacity-mib N] [--max-attach-mib N | --max-attach-bytes N]",
         "change a mailbox; what is not given stays", BoxGroup},
        {"rm-box", CmdRmBox, {}, {}, 1, 1, "ALIAS",
         "remove a mailbox from the list (its mails stay on the server)", BoxGroup},
        {"ls", CmdLs, {}, {"-R", "-l"}, 1, 2, "BOX [PATH] [-R] [-l]",
         "list a folder (-l: size, type, date, Local/Mail, action;\n"
         "-R: the folders below it too)",
         FileGroup},
        {"put", CmdPut, {"--to"}, {}, 2, SIZE_MAX, "BOX LOCAL... [--to PATH]",
         "store local files and folders (links followed)", FileGroup},
        {"mkdir", CmdMkdir, {}, {}, 2, 2, "BOX PATH", "make a folder", FileGroup},
        {"rm", CmdRm, {}, {}, 2, SIZE_MAX, "BOX PATH...",
         "delete files and folders (a folder that holds something\n"
         "only after a question, or with --yes)",
         FileGroup},
        {"get", CmdGet, {"--to"}, {}, 2, SIZE_MAX, "BOX PATH... [--to DIR]",
         "fetch files and folders into DIR (default: .)", FileGroup},
        {"find", CmdFind, {}, {}, 2, 2, "BOX TEXT", "entries whose name holds TEXT", FileGroup},
        {"info", CmdInfo, {}, {}, 1, 2, "BOX [PATH]",
         "statistics of the mailbox, or properties of an entry", FileGroup},
        {"help", nullptr, {}, {}, 0, 1, "[COMMAND]", "the usage of a command", ""},
    };
    return commands;
}

std::string UsageText() {
    std::string text =
        "Usage: tavrel-cli [--home DIR] [--yes | --no] [--password-stdin] COMMAND ...\n"
        "       tavrel-cli help [COMMAND]\n";
    std::string group;
    for (const auto& c : CommandList()) {
        if (!*c.group) continue;
        if (group != c.group) text += std::string("\n") + (group = c.group) + "\n";
        text += Entry(c);
    }
    return text + "\n" + GlobalOptions +
           "\nExit status: 0 all succeeded, 1 an operation failed or nothing was done (every "
           "item\nskipped, no match), 2 usage error or unusable input.\n";
}

std::string CommandUsage(const std::string& name) {
    const TCommandInfo* c = FindCommand(name);
    if (!c) return {};
    std::string about;
    for (const auto& line : Lines(c->about)) about += "  " + line + "\n";
    return "Usage: tavrel-cli " + Synopsis(*c, "\n          ") + "\n" + about + "\n" +
           GlobalOptions;
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
        // value is the same for every command. One that no command takes is named later,
        // unless --help or --version wins.
        if (!KnownOption(name)) {
            options.push_back({name, value});
            continue;
        }
        const bool takesValue =
            std::any_of(CommandList().begin(), CommandList().end(),
                        [&](const TCommandInfo& c) { return Contains(c.valueOptions, name); });
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
    if (!positional.empty() && positional.front() == "help") {
        out.help = true;
        if (positional.size() > 2) {
            error = "usage: tavrel-cli help [COMMAND]";
            return false;
        }
        positional.erase(positional.begin());
    }
    if (out.help && !positional.empty()) {
        // "help ls" and "ls --help": the usage of that command.
        out.helpTopic = positional.front();
        if (!FindCommand(out.helpTopic)) {
            error = "unknown command \"" + out.helpTopic + "\"";
            return false;
        }
    }
    if (out.help || out.version) return true;
    for (const auto& option : options)
        if (!KnownOption(option.first)) {
            error = "unknown option " + option.first;
            return false;
        }
    if (positional.empty()) {
        error = "no command given";
        return false;
    }
    out.command = positional.front();
    const TCommandInfo* cmd = FindCommand(out.command);
    if (!cmd) {
        error = "unknown command \"" + out.command + "\"";
        return false;
    }
    out.run = cmd->run;
    out.operands.assign(positional.begin() + 1, positional.end());
    for (auto& [name, value] : options) {
        bool isValue = Contains(cmd->valueOptions, name);
        bool isFlag = Contains(cmd->flagOptions, name);
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
    if (n < cmd->minOperands || n > cmd->maxOperands) {
        error = "usage: tavrel-cli " + Synopsis(*cmd, " ");
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
