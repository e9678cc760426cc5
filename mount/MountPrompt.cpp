#include "MountPrompt.h"

#include "MountLog.h"

TMountPrompt::TMountPrompt(IPrompt& terminal, TMountLog& log) : terminal_(terminal), log_(log) {}

int TMountPrompt::MessageBox(const std::string& text, const std::string& caption,
                             unsigned flags) {
    const bool error = (flags & mb::IconMask) == mb::IconStop;
    if (error) lastError_ = text;
    if (!serving_) return terminal_.MessageBox(text, caption, flags);
    log_.Line(text);
    switch (flags & mb::ButtonMask) {
    case mb::YesNo:
    case mb::YesNoCancel: return id::No;
    case mb::OKCancel:
    case mb::RetryCancel: return id::Cancel;
    default: return id::OK;
    }
}

bool TMountPrompt::InputLine(const std::string& caption, const std::string& label,
                             std::string& value, bool password) {
    if (!serving_) return terminal_.InputLine(caption, label, value, password);
    log_.Line(caption + ": " + label + " (not asked: the mailbox is mounted in the background)");
    return false;
}

std::string TMountPrompt::TakeLastError() {
    std::string s;
    s.swap(lastError_);
    return s;
}
