#pragma once
#include <string>

// Message boxes and the one-line entry that the model and the worker show. The window
// implements this with Qt, the command line front end with the terminal, tests with
// scripted answers. Button and icon flags and the answers keep the classic values, so a
// box is described the same way everywhere.
namespace mb {
constexpr unsigned OK = 0x00;
constexpr unsigned OKCancel = 0x01;
constexpr unsigned RetryCancel = 0x05;
constexpr unsigned YesNo = 0x04;
constexpr unsigned YesNoCancel = 0x03;
constexpr unsigned IconStop = 0x10; // error icon
constexpr unsigned IconQuestion = 0x20;
constexpr unsigned IconWarning = 0x30;
constexpr unsigned IconInformation = 0x40;
constexpr unsigned DefButton2 = 0x100; // the second button is the default one
constexpr unsigned ButtonMask = 0x0F;
constexpr unsigned IconMask = 0xF0;
} // namespace mb

namespace id {
constexpr int OK = 1;
constexpr int Cancel = 2;
constexpr int Retry = 4;
constexpr int Yes = 6;
constexpr int No = 7;
} // namespace id

class IPrompt {
public:
    virtual ~IPrompt() = default;
    // Shows a modal message box; returns one of the id:: answers. An empty caption means
    // the program's own name.
    virtual int MessageBox(const std::string& text, const std::string& caption,
                           unsigned flags) = 0;
    // One-line entry (new folder name, search text, passwords). `value` holds the initial
    // text and receives the entry; false when the user cancelled.
    virtual bool InputLine(const std::string& caption, const std::string& label,
                           std::string& value, bool password) = 0;
};

// The prompt that model and engine use. Defaults to one that answers every box with its
// first button's negative choice (No / Cancel / OK) and cancels every entry, so nothing
// waits for a user that is not there.
//
// Every question asked through Prompt() counts as open while it is shown. A shown box runs
// a nested event loop in the window; the worker's synchronous calls wait while a question
// is open (the dispatcher holds them), so the model never changes under the code that is
// waiting for the answer (a FinishOp while AddLocal asks "replace?").
IPrompt& Prompt();
void SetPrompt(IPrompt* prompt); // nullptr restores the default
int OpenQuestions(); // may be read on any thread
