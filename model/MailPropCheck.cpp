#include "MailPropDialog.h"

#include "MailFolder.h"
#include "TextUtil.h"

namespace {
// An integer as the dialog accepts it: optional sign, digits, within 32 bits.
bool IsInteger(const std::string& text) {
    std::string t = TrimBlanks(text);
    size_t i = (!t.empty() && (t[0] == '-' || t[0] == '+')) ? 1 : 0;
    if (i == t.size() || t.size() - i > 10) return false;
    for (size_t k = i; k < t.size(); ++k)
        if (t[k] < '0' || t[k] > '9') return false;
    long long v = std::stoll(t);
    return v >= INT32_MIN && v <= INT32_MAX;
}
// A number the stored field can hold: sizes are kept in 32 bits of bytes (whole MiB up to
// 4095; more would wrap around to a tiny or huge capacity), ports are TCP ports.
bool InRange(const std::string& text, long long low, long long high) {
    const long long v = std::stoll(TrimBlanks(text));
    return v >= low && v <= high;
}
} // namespace

TPropCheck ValidatePropDialog(const TMailPropDialog& d) {
    if (TrimBlanks(d.edtName).empty())
        return {"Please enter a valid folder name for this mail box.", "edtName"};
    size_t at = d.edtAddr.find('@');
    if (at == std::string::npos || at == 0)
        return {"Please enter a valid email address for this mail box.", "edtAddr"};
    for (const auto& other : d.OtherAliases)
        if (SameTextAscii(other, d.edtName))
            return {"A mail box with the name you specified already exists.", "edtName"};
    // The alias names the cache folder: it must stay one folder inside MailRoot.
    if (!IsUsableCacheName(TrimBlanks(d.edtName)))
        return {"A mail box name cannot be \".\" or \"..\" or hold \"/\" or a control character.",
                "edtName"};
    if (!IsInteger(d.edtMailBox)) return {"Please enter an integer.", "edtMailBox"};
    if (!IsInteger(d.edtAttach)) return {"Please enter an integer.", "edtAttach"};
    if (!IsInteger(d.edtSMTPPort)) return {"Please enter an integer.", "edtSMTPPort"};
    if (!IsInteger(d.edtPOPPort)) return {"Please enter an integer.", "edtPOPPort"};
    const char* const sizeError = "Please enter a size from 0 to 4095 (MiB).";
    if (!InRange(d.edtMailBox, 0, 4095)) return {sizeError, "edtMailBox"};
    if (!InRange(d.edtAttach, 0, 4095)) return {sizeError, "edtAttach"};
    const char* const portError = "Please enter a port number from 1 to 65535.";
    if (!InRange(d.edtSMTPPort, 1, 65535)) return {portError, "edtSMTPPort"};
    if (!InRange(d.edtPOPPort, 1, 65535)) return {portError, "edtPOPPort"};
    return {};
}

void UseDefaultPorts(TMailPropDialog& d) {
    d.edtSMTPPort = d.chkSMTPSSL ? "465" : "25";
    d.edtPOPPort = d.chkPOPSSL ? "995" : "110";
}
