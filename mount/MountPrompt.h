#pragma once
#include <atomic>
#include <string>

#include "Prompt.h"

class TMountLog;

// The message boxes of the model and the worker for tavrel-mount. While the mailbox is
// being opened (in the foreground, before the mount) they are the terminal's questions;
// once it serves, nobody is there to answer: error boxes go to the log and every question
// gets its negative answer. The last error box's text is kept as the reason of a refusal.
class TMountPrompt : public IPrompt {
public:
    TMountPrompt(IPrompt& terminal, TMountLog& log);

    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    bool InputLine(const std::string& caption, const std::string& label, std::string& value,
                   bool password) override;

    void SetServing(bool on) { serving_ = on; }
    // The text of the last error box (cleared by TakeLastError).
    std::string TakeLastError();

private:
    IPrompt& terminal_;
    TMountLog& log_;
    std::atomic<bool> serving_{false};
    std::string lastError_; // model thread only
};
