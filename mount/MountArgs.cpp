#include "MountArgs.h"

#include "TextUtil.h"

namespace {
// Splits "a,b=c,d" at the commas; a backslash keeps the next character (a comma in a value).
std::vector<std::string> SplitOptions(const std::string& text) {
    std::vector<std::string> out;
    std::string cur;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            cur += text[++i];
        } else if (text[i] == ',') {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += text[i];
        }
    }
    out.push_back(cur);
    return out;
}

bool TakeOption(const std::string& option, TMountArgs& out, std::string& error) {
    if (option.empty()) return true;
    if (option == "async") {
        out.async = true;
    } else if (option == "sync") {
        out.async = false;
    } else if (option.rfind("refresh=", 0) == 0) {
        uint64_t v = 0;
        if (!ParseDecimal(option.substr(8), 86400, v) || v == 0) {
            error = "-o refresh: \"" + option.substr(8) + "\" is not a number of seconds from 1 "
                    "to 86400";
            return false;
        }
        out.refreshSeconds = static_cast<int>(v);
    } else {
        out.fuseOptions.push_back(option);
    }
    return true;
}
} // namespace

bool ParseMountArgs(const std::vector<std::string>& argv, TMountArgs& out, std::string& error) {
    out = TMountArgs{};
    std::vector<std::string> operands;
    bool yes = false, no = false, onlyOperands = false;
    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argv.size()) {
                error = a + " needs a value";
                return false;
            }
            into = argv[++i];
            return true;
        };
        if (onlyOperands || a.empty() || a[0] != '-' || a == "-") {
            operands.push_back(a);
        } else if (a == "--") {
            onlyOperands = true;
        } else if (a == "--home") {
            if (!value(out.home)) return false;
        } else if (a.rfind("--home=", 0) == 0) {
            out.home = a.substr(7);
        } else if (a == "--yes") {
            yes = true;
        } else if (a == "--no") {
            no = true;
        } else if (a == "--password-stdin") {
            out.passwordStdin = true;
        } else if (a == "-f" || a == "--foreground") {
            out.foreground = true;
        } else if (a == "-d") {
            out.debug = out.foreground = true;
        } else if (a == "-o") {
            std::string list;
            if (!value(list)) return false;
            for (const auto& o : SplitOptions(list))
                if (!TakeOption(o, out, error)) return false;
        } else if (a.rfind("-o", 0) == 0) {
            for (const auto& o : SplitOptions(a.substr(2)))
                if (!TakeOption(o, out, error)) return false;
        } else if (a == "--help" || a == "-h") {
            out.help = true;
            return true;
        } else if (a == "--version" || a == "-V") {
            out.version = true;
            return true;
        } else {
            error = "unknown option " + a;
            return false;
        }
    }
    if (yes && no) {
        error = "--yes and --no exclude each other";
        return false;
    }
    out.answers = yes ? TMountArgs::TAnswers::Yes
                      : no ? TMountArgs::TAnswers::No : TMountArgs::TAnswers::Ask;
    if (operands.size() != 2) {
        error = operands.size() < 2 ? "BOX and MOUNTPOINT are needed"
                                    : "unexpected operand \"" + operands[2] + "\"";
        return false;
    }
    out.box = operands[0];
    out.mountPoint = operands[1];
    if (out.mountPoint.empty()) {
        error = "MOUNTPOINT is empty";
        return false;
    }
    return true;
}

std::string MountUsageText() {
    return "Usage: tavrel-mount [--home DIR] [--yes | --no] [--password-stdin] [-f] [-o OPTIONS]\n"
           "                    BOX MOUNTPOINT\n"
           "\n"
           "Mounts mailbox BOX of the program folder at MOUNTPOINT, an empty folder, until\n"
           "`fusermount3 -u MOUNTPOINT`, Ctrl-C or SIGTERM. Queued uploads are finished before\n"
           "it ends; a second signal stops at once and names what was not stored.\n"
           "\n"
           "  --home DIR          the program folder (as TAVREL_HOME)\n"
           "  --yes, --no         the answer to questions (a password typed again, ...)\n"
           "  --password-stdin    a password typed again after a failed login, from stdin\n"
           "  -f                  stay in the foreground (default: background once mounted)\n"
           "  -d                  libfuse's trace of every request (implies -f)\n"
           "  -o async            close() returns before the upload is done\n"
           "  -o refresh=SECONDS  re-read the mailbox's structure this often (default 60)\n"
           "  -o OPTION           any other option is passed to libfuse (allow_other, ...)\n";
}
