#include "MailFolder.h"
#include "MailFolders.h"
#include "MailPropDialog.h"
#include "Prompt.h"
#include "TextUtil.h"

#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;

namespace {
TMailPropRunner g_runner;

std::string CreatedText(TDateTime dt) {
    // "dddd,mmmm,dd,yyyy, hh:nn:ss AM/PM": the long date with commas between its fields.
    std::string s = LongDateText(dt);
    size_t monthEnd = s.find(' ', s.find(", ") + 2);
    if (monthEnd == std::string::npos) return s;
    s[monthEnd] = ',';
    for (size_t p; (p = s.find(", ")) != std::string::npos && p < s.rfind(", ");)
        s.erase(p + 1, 1);
    return s;
}

// The dialog's checks accept blanks around a number, so they are skipped here as well.
int64_t ToInt(const std::string& text) {
    const std::string t = TrimBlanks(text);
    size_t used = 0;
    long long v = 0;
    try {
        v = std::stoll(t, &used, 10);
    } catch (const std::logic_error&) {
        used = 0;
    }
    if (t.empty() || used != t.size())
        throw EConvertError("'" + text + "' is not a valid integer value");
    return v;
}

// The dialog shows sizes in whole MiB. A field left as shown keeps the exact stored value,
// so a size that is not a whole number of MiB (a limit below 1 MiB shows as 0) survives an
// edit of the other fields.
uint32_t MebibytesBack(const std::string& text, uint32_t stored) {
    const int64_t mib = ToInt(text);
    if (mib == static_cast<int64_t>(stored >> 20)) return stored;
    return static_cast<uint32_t>(mib) << 20;
}
} // namespace

void SetMailPropRunner(TMailPropRunner runner) { g_runner = std::move(runner); }
bool RunMailPropDialog(TMailPropDialog& dialog) { return g_runner && g_runner(dialog); }

void FillPropDialog(const TMailFolder& f, TMailPropDialog& d) {
    d.OtherAliases.clear();
    if (f.Owner)
        for (int i = 0; i < f.Owner->Count(); ++i)
            if (&f.Owner->Items(i) != &f) d.OtherAliases.push_back(f.Owner->Items(i).Alias);
    d.pie.clear();
    d.edtName = f.Alias;
    const uint32_t green = 0x008000, red = 0xFF0000;
    if (f.Opened) {
        int files = 0, folders = 0;
        uint32_t total = 0;
        for (int i = 0; i < f.Files.Count(); ++i) {
            const TExFile& e = f.Files.Items(i);
            if (e.IsFolder) {
                ++folders;
            } else {
                ++files;
                total += e.Size;
            }
        }
        d.lblSize = SizeToText(total);
        d.lblSizeS = SizeToText(f.UsedSize);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%d Files, %d Folders", files, folders);
        d.lblContains = buf;
        d.statsEnabled = true;
        d.pie.push_back({"Free", static_cast<int64_t>(f.Capacity) - f.UsedSize, green});
        d.pie.push_back({"Occupied", f.UsedSize, red});
    } else {
        d.lblSize = d.lblSizeS = d.lblContains = "Open this mail box and try again";
        d.statsEnabled = false;
        d.pie.push_back({"Free", f.Capacity, green});
        d.pie.push_back({"Occupied", 0, red});
    }
    d.lblCreated = CreatedText(f.Created);
    d.edtAddr = f.Address;
    d.edtPopServer = f.PopServer;
    d.edtSMTPServer = f.SmtpServer;
    d.chkAuth = f.SmtpAuth;
    d.edtAccount = f.Account;
    d.edtPassword = f.Password;
    d.edtMailBox = std::to_string(f.Capacity >> 20);
    d.edtAttach = std::to_string(f.MaxAttachSize >> 20);
    d.edtSMTPPort = std::to_string(f.SmtpPort);
    d.chkSMTPSSL = f.SmtpSsl;
    d.edtPOPPort = std::to_string(f.PopPort);
    d.chkPOPSSL = f.PopSsl;
}

void ReadPropDialog(TMailFolder& f, const TMailPropDialog& d) {
    f.Alias = d.edtName;
    f.Address = d.edtAddr;
    f.PopServer = d.edtPopServer;
    f.SmtpServer = d.edtSMTPServer;
    f.SmtpAuth = d.chkAuth;
    f.Account = d.edtAccount;
    f.Password = d.edtPassword;
    f.Capacity = MebibytesBack(d.edtMailBox, f.Capacity);
    f.MaxAttachSize = MebibytesBack(d.edtAttach, f.MaxAttachSize);
    f.SmtpPort = static_cast<int32_t>(ToInt(d.edtSMTPPort));
    f.SmtpSsl = d.chkSMTPSSL;
    f.PopPort = static_cast<int32_t>(ToInt(d.edtPOPPort));
    f.PopSsl = d.chkPOPSSL;
}

bool TMailFolder::EditProperties() {
    TMailPropDialog d;
    d.Caption = Alias + " properies";
    FillPropDialog(*this, d);
    if (!RunMailPropDialog(d)) return false;
    std::string oldAlias = Alias;
    ReadPropDialog(*this, d);
    std::error_code ec;
    if (Owner && !SameTextAscii(Alias, oldAlias) && IsUsableCacheName(oldAlias) &&
        fs::is_directory(Owner->MailRootDir + oldAlias, ec)) {
        bool renamed = false;
        if (IsUsableCacheName(Alias) && !fs::exists(Owner->MailRootDir + Alias, ec)) {
            fs::rename(Owner->MailRootDir + oldAlias, Owner->MailRootDir + Alias, ec);
            renamed = !ec;
        }
        if (!renamed) {
            Alias = oldAlias;
            Prompt().MessageBox("Couldn't change the mail name but all of its other data are "
                                "saved\r\n\r\nMaybe there are file(s) in this mail that are "
                                "currently in use.",
                                "", mb::OK | mb::IconStop);
        }
    }
    if (Owner && Owner->IndexOf(this) >= 0) Owner->Save();
    return true;
}
