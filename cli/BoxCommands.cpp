// The mailbox list: showing it, adding, changing and removing mailboxes. Adding and
// changing go through the properties dialog of the model, filled from the options, so
// the checks and their texts are the dialog's.
#include "Commands.h"

#include "EngineConfig.h"
#include "IniFile.h"
#include "MailPropDialog.h"
#include "ProgressPrinter.h"
#include "Session.h"
#include "Table.h"
#include "TerminalPrompt.h"
#include "TextUtil.h"

#include <optional>

namespace {
std::string SizeSetting(uint32_t bytes) {
    if (bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

std::string ServerText(const std::string& host, int32_t port, bool ssl) {
    return host + ":" + std::to_string(port) + (ssl ? ", SSL" : "");
}

struct THostPort {
    std::string host;
    std::optional<std::string> port;
};

bool SplitHostPort(const std::string& option, const std::string& value, THostPort& out,
                   std::string& error) {
    size_t colon = value.rfind(':');
    out.host = colon == std::string::npos ? value : value.substr(0, colon);
    if (colon != std::string::npos) out.port = TrimBlanks(value.substr(colon + 1));
    if (out.host.find_first_not_of(" \t") == std::string::npos) {
        error = option + ": a host name is needed (HOST or HOST:PORT)";
        return false;
    }
    return true;
}

// The option a control of the dialog is filled from, for the error message.
std::string OptionOf(const std::string& control, bool isNew) {
    if (control == "edtName") return isNew ? "ALIAS" : "--alias";
    if (control == "edtAddr") return "--address";
    if (control == "edtMailBox") return "--capacity-mib";
    if (control == "edtAttach") return "--max-attach-mib";
    if (control == "edtSMTPPort") return "--smtp";
    if (control == "edtPOPPort") return "--pop";
    return control;
}

// Fills the dialog from the options and runs the dialog's checks, then the ones that the
// command line adds because its values reach further than the dialog's fields: ports that
// do not fit 16 bits, sizes that do not fit 32 bits, a name unusable as a cache folder.
class TBoxEditor {
public:
    TBoxEditor(const TCliArgs& args, bool isNew, std::optional<std::string> password)
        : args_(args), isNew_(isNew), password_(std::move(password)) {}

    // Checks that need no dialog (option syntax); false with `error` set.
    bool Precheck() {
        if (args_.Has("--smtp") && !SplitHostPort("--smtp", args_.Value("--smtp"), smtp_, error))
            return false;
        if (args_.Has("--pop") && !SplitHostPort("--pop", args_.Value("--pop"), pop_, error))
            return false;
        if (args_.Has("--max-attach-bytes")) {
            const std::string v = args_.Value("--max-attach-bytes");
            uint64_t n = 0;
            if (!ParseDecimal(v, UINT32_MAX, n) || n < 1024) {
                // Digits only: a number out of range; anything else is no number at all.
                const bool digits = !v.empty() && v.find_first_not_of("0123456789") == std::string::npos;
                error = digits ? "--max-attach-bytes: must be between 1024 and 4294967295"
                               : "--max-attach-bytes: Please enter an integer.";
                return false;
            }
            attachBytes_ = static_cast<uint32_t>(n);
        }
        return true;
    }

    // The dialog's OK: true when every check passed.
    bool Run(TMailPropDialog& d) {
        if (isNew_) d.edtName = args_.operands.at(0);
        if (args_.Has("--alias")) d.edtName = args_.Value("--alias");
        if (args_.Has("--address")) d.edtAddr = args_.Value("--address");
        if (args_.Has("--account")) d.edtAccount = args_.Value("--account");
        if (args_.Has("--password")) d.edtPassword = args_.Value("--password");
        if (password_) d.edtPassword = *password_;
        if (args_.Has("--smtp-ssl")) d.chkSMTPSSL = true;
        if (args_.Has("--no-smtp-ssl")) d.chkSMTPSSL = false;
        if (args_.Has("--pop-ssl")) d.chkPOPSSL = true;
        if (args_.Has("--no-pop-ssl")) d.chkPOPSSL = false;
        if (args_.Has("--no-auth")) d.chkAuth = false;
        if (args_.Has("--auth")) d.chkAuth = true;
        if (isNew_) UseDefaultPorts(d); // the dialog's "Use Defaults", from the SSL boxes
        if (args_.Has("--smtp")) {
            d.edtSMTPServer = smtp_.host;
            if (smtp_.port) d.edtSMTPPort = *smtp_.port;
        }
        if (args_.Has("--pop")) {
            d.edtPopServer = pop_.host;
            if (pop_.port) d.edtPOPPort = *pop_.port;
        }
        if (args_.Has("--capacity-mib")) d.edtMailBox = TrimBlanks(args_.Value("--capacity-mib"));
        if (args_.Has("--max-attach-mib")) d.edtAttach = TrimBlanks(args_.Value("--max-attach-mib"));
        if (attachBytes_) d.edtAttach = std::to_string(*attachBytes_ >> 20);

        TPropCheck check = ValidatePropDialog(d);
        if (!check.error.empty()) {
            error = OptionOf(check.control, isNew_) + ": " + check.error;
            return false;
        }
        const std::pair<const char*, const std::string*> sizes[] = {
            {"--capacity-mib", &d.edtMailBox}, {"--max-attach-mib", &d.edtAttach}};
        for (auto [option, text] : sizes) {
            if (!args_.Has(option)) continue;
            long long v = std::stoll(*text);
            if (v < 1 || v > 4095) {
                error = std::string(option) + ": must be between 1 and 4095 (MiB)";
                return false;
            }
        }
        return true;
    }

    // After the dialog's values were taken back: --max-attach-bytes sets a size the
    // dialog's whole MiB cannot. True when the box changed.
    bool FixSizes(TMailFolder& box) const {
        if (!attachBytes_ || box.MaxAttachSize == *attachBytes_) return false;
        box.MaxAttachSize = *attachBytes_;
        return true;
    }

    std::string error;

private:
    const TCliArgs& args_;
    bool isNew_;
    std::optional<std::string> password_;
    THostPort smtp_, pop_;
    std::optional<uint32_t> attachBytes_;
};

// Adds or edits through the model's own operation, which shows the dialog and saves.
int EditBox(TCliContext& c, bool isNew) {
    std::optional<std::string> password;
    if (c.args.passwordStdin) {
        password = c.prompt.StdinPassword();
        if (!password) {
            c.printer.Line("tavrel-cli: --password-stdin: no line on standard input");
            return exUsage;
        }
    }
    TBoxEditor editor(c.args, isNew, password);
    if (!editor.Precheck()) {
        c.printer.Line("tavrel-cli: " + editor.error);
        return exUsage;
    }
    TCliSession session(c.printer, c.prompt, false);
    if (!session.Load()) return session.LoadFailure();
    TMailFolders& folders = session.Folders();
    TMailFolder* box = nullptr;
    if (!isNew) {
        box = session.FindBox(c.args.operands.at(0));
        if (!box) return exUsage;
    }
    SetMailPropRunner([&](TMailPropDialog& d) { return editor.Run(d); });
    struct TRunnerReset {
        ~TRunnerReset() { SetMailPropRunner(nullptr); }
    } reset;
    // An error of the collection (Data.bin cannot be written) is reported by main.
    bool ok = isNew ? folders.AddFolder() : box->EditProperties();
    if (!ok) {
        c.printer.Line("tavrel-cli: " + editor.error);
        return exUsage;
    }
    if (isNew) box = &folders.Items(folders.Count() - 1);
    if (editor.FixSizes(*box)) folders.Save();
    c.printer.Line(std::string(isNew ? "Added" : "Changed") + " mailbox \"" + box->Alias + "\"");
    return session.Status();
}
} // namespace

int CmdBoxes(TCliContext& c) {
    TCliSession session(c.printer, c.prompt, false);
    if (!session.Load()) return session.LoadFailure();
    TMailFolders& folders = session.Folders();
    if (folders.Count() == 0) {
        c.printer.Line("No mailboxes yet; add-box adds one.");
        return exOk;
    }
    const TEngineConfig config = LoadEngineConfig(IniFile());
    for (int i = 0; i < folders.Count(); ++i) {
        const TMailFolder& m = folders.Items(i);
        if (i) std::fputc('\n', stdout);
        std::fprintf(stdout, "%s\n", SanitizeForTerminal(m.Alias).c_str());
        std::vector<std::pair<std::string, std::string>> f = {
            {"  Address", m.Address},
            {"  SMTP server", ServerText(m.SmtpServer, m.SmtpPort, m.SmtpSsl) +
                                  (m.SmtpAuth ? ", authentication" : "")},
            {"  POP3 server", ServerText(m.PopServer, m.PopPort, m.PopSsl)},
        };
        if (ReadsOverImap(config, m.Account))
            f.push_back({"  Reads over IMAP4",
                         ServerText(config.ImapHost, config.ImapPort, m.PopSsl)});
        f.push_back({"  Account", m.Account});
        f.push_back({"  Password", m.Password.empty() ? "(none)" : std::string(m.Password.size(), '*')});
        f.push_back({"  Capacity", SizeSetting(m.Capacity)});
        f.push_back({"  Max attachment", SizeSetting(m.MaxAttachSize)});
        PrintFields(stdout, f);
    }
    return exOk;
}

int CmdAddBox(TCliContext& c) { return EditBox(c, true); }
int CmdEditBox(TCliContext& c) { return EditBox(c, false); }

int CmdRmBox(TCliContext& c) {
    TCliSession session(c.printer, c.prompt, false);
    if (!session.Load()) return session.LoadFailure();
    TMailFolder* box = session.FindBox(c.args.operands.at(0));
    if (!box) return exUsage;
    const std::string alias = box->Alias;
    session.Folders().DeleteFolder(session.Folders().IndexOf(box));
    c.printer.Line("Removed mailbox \"" + alias + "\"; its stored mails stay on the server.");
    return exOk;
}
