#pragma once
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Arguments.h"
#include "Prompt.h"

class TProgressPrinter;

// The message boxes and entries of the model and the worker on the terminal. Questions
// go to standard error and are answered from standard input when it is a terminal, or by
// --yes / --no; without either they get the negative answer. Error boxes are printed and
// remembered, so the caller can tell that something went wrong.
class TTerminalPrompt : public IPrompt {
public:
    TTerminalPrompt(TAnswerMode mode, bool passwordFromStdin, bool interactive,
                    TProgressPrinter& printer, std::FILE* in = stdin);

    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    bool InputLine(const std::string& caption, const std::string& label, std::string& value,
                   bool password) override;

    // The line of standard input given by --password-stdin, read at the first call; nullopt
    // when there is none (or it was used by a password question already).
    std::optional<std::string> StdinPassword();

    // Whether a question gets the user's answer: asked on a terminal, or given by --yes or
    // --no (else it gets the negative one for want of anybody to ask).
    bool Answers() const { return mode_ != TAnswerMode::Ask || interactive_; }

    // Error boxes shown so far (texts as shown).
    const std::vector<std::string>& Errors() const { return errors_; }
    // Captions of the questions answered with anything but their positive answer, so far.
    const std::vector<std::string>& Declined() const { return declined_; }

private:
    // Shows `prompt`, then reads one line from `in_` without its line end (unseen when
    // `hidden` and `in_` is a terminal); nullopt at end of input or interruption.
    std::optional<std::string> ReadLine(const std::string& prompt, bool hidden);

    TAnswerMode mode_;
    bool passwordFromStdin_;
    bool interactive_;
    TProgressPrinter& printer_;
    std::FILE* in_;
    bool stdinPasswordRead_ = false;
    std::optional<std::string> stdinPassword_;
    std::vector<std::string> errors_;
    std::vector<std::string> declined_;
};
