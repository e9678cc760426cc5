#include "Options.h"

#include "Stream.h"

namespace {
TOptionsDialogRunner g_runner;
}

void SetOptionsDialogRunner(TOptionsDialogRunner runner) { g_runner = std::move(runner); }

bool TOptions::LoadFromStream(TStreamReader& in) {
    try {
        in.ReadInteger(); // options version: written as 10, not used
        LoginLastFolder = in.ReadFlag() != 0;
        Password = in.ReadString();
        PasswordRequired = in.ReadFlag() != 0;
        ShowTrayIcon = in.ReadFlag() != 0;
        MinimizeOnClose = in.ReadFlag() != 0;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TOptions::SaveToStream(TStreamWriter& out) const {
    out.WriteInteger(10);
    out.WriteFlag(LoginLastFolder);
    out.WriteString(Password);
    out.WriteFlag(PasswordRequired);
    out.WriteFlag(ShowTrayIcon);
    out.WriteFlag(MinimizeOnClose);
}

bool TOptions::EditOptions() {
    if (!g_runner) return false;
    TOptionsDialogData d{LoginLastFolder, PasswordRequired, MinimizeOnClose, ShowTrayIcon,
                         Password};
    if (!g_runner(d)) return false;
    LoginLastFolder = d.LoginLastFolder;
    PasswordRequired = d.PasswordRequired;
    MinimizeOnClose = d.MinimizeOnClose;
    ShowTrayIcon = d.ShowTrayIcon;
    Password = d.StagedPassword;
    return true;
}
