#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The mailbox properties dialog as the model fills and reads it: one member per control.
// The window shows it with Qt; the command line front end and tests fill it directly.
struct TMailPropDialog {
    struct Slice {
        std::string label;
        int64_t value = 0;
        uint32_t rgb = 0; // 0xRRGGBB
    };

    std::string Caption;
    std::vector<std::string> OtherAliases; // the other mailboxes, in list order
    std::string edtName, edtAddr, edtPopServer, edtSMTPServer, edtAccount, edtPassword;
    std::string edtMailBox, edtAttach, edtSMTPPort, edtPOPPort; // decimal texts
    bool chkAuth = false, chkSMTPSSL = false, chkPOPSSL = false;
    std::string lblSize, lblSizeS, lblContains, lblCreated;
    bool statsEnabled = true;
    std::vector<Slice> pie;
};

// Shows the dialog modally; true when the user closed it with OK (its own checks passed).
// Without a runner nothing is shown and the answer is Cancel.
using TMailPropRunner = std::function<bool(TMailPropDialog&)>;
void SetMailPropRunner(TMailPropRunner runner);
bool RunMailPropDialog(TMailPropDialog& dialog);

// The checks of the dialog's OK button, in order. Returns the error text of the first one
// that fails (empty when all pass) and the control that holds the wrong input.
struct TPropCheck {
    std::string error;
    std::string control; // "edtName", "edtAddr", "edtMailBox", ...
};
TPropCheck ValidatePropDialog(const TMailPropDialog& dialog);
// "Use Defaults": ports from the SSL check boxes.
void UseDefaultPorts(TMailPropDialog& dialog);
