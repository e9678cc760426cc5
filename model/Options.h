#pragma once
#include <functional>
#include <string>

class TStreamReader;
class TStreamWriter;

// What the options dialog shows and edits.
struct TOptionsDialogData {
    bool LoginLastFolder = false; // its check box is kept hidden
    bool PasswordRequired = false;
    bool MinimizeOnClose = false;
    bool ShowTrayIcon = true;
    std::string StagedPassword;   // "Set Password" changes it
};

// Shows the options dialog modally; true when the user confirmed with OK. The window
// installs the real dialog; without one nothing is shown and nothing changes.
using TOptionsDialogRunner = std::function<bool(TOptionsDialogData&)>;
void SetOptionsDialogRunner(TOptionsDialogRunner runner);

// Settings of the program rather than of a mailbox; stored as the options block of Data.bin.
class TOptions {
public:
    bool LoginLastFolder = false;
    std::string Password;
    bool PasswordRequired = false;
    bool MinimizeOnClose = false;
    bool ShowTrayIcon = true;

    // Version (read and ignored), LoginLastFolder, Password, PasswordRequired, ShowTrayIcon,
    // MinimizeOnClose. Stops at the first item that fails; what was read before stays.
    bool LoadFromStream(TStreamReader& in);
    void SaveToStream(TStreamWriter& out) const;
    bool EditOptions();
};
