#include "TerminalPrompt.h"

#include "ProgressPrinter.h"
#include "TextUtil.h"

#include <cerrno>
#include <termios.h>
#include <unistd.h>

namespace {
struct TChoice {
    const char* keys; // accepted first letters
    int answer;
    const char* label;
};

// A question's choices: the positive answer first, then the negative one.
std::vector<TChoice> ChoicesOf(unsigned flags) {
    switch (flags & mb::ButtonMask) {
    case mb::YesNo: return {{"y", id::Yes, "yes"}, {"n", id::No, "no"}};
    case mb::YesNoCancel:
        return {{"y", id::Yes, "yes"}, {"n", id::No, "no"}, {"c", id::Cancel, "cancel"}};
    case mb::OKCancel: return {{"o", id::OK, "ok"}, {"c", id::Cancel, "cancel"}};
    case mb::RetryCancel: return {{"r", id::Retry, "retry"}, {"c", id::Cancel, "cancel"}};
    default: return {};
    }
}
} // namespace

TTerminalPrompt::TTerminalPrompt(TAnswerMode mode, bool passwordFromStdin, bool interactive,
                                 TProgressPrinter& printer, std::FILE* in)
    : mode_(mode), passwordFromStdin_(passwordFromStdin), interactive_(interactive),
      printer_(printer), in_(in) {}

std::optional<std::string> TTerminalPrompt::ReadLine(const std::string& prompt, bool hidden) {
    const int fd = ::fileno(in_);
    struct termios saved {};
    bool restore = false;
    // Echo goes off before the prompt shows, so nothing typed after the prompt is ever
    // echoed; the settings change without flushing, so what was typed ahead is kept.
    if (hidden && ::isatty(fd) && ::tcgetattr(fd, &saved) == 0) {
        struct termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        restore = ::tcsetattr(fd, TCSANOW, &quiet) == 0;
    }
    if (!prompt.empty()) {
        std::fputs(prompt.c_str(), printer_.Out());
        std::fflush(printer_.Out());
    }
    std::string line;
    bool got = false;
    for (;;) {
        int c = std::fgetc(in_);
        if (c == EOF) {
            // An interrupted read (Ctrl-C) ends the entry like the end of input.
            std::clearerr(in_);
            break;
        }
        got = true;
        if (c == '\n') break;
        line += static_cast<char>(c);
    }
    if (restore) {
        ::tcsetattr(fd, TCSANOW, &saved);
        std::fputc('\n', printer_.Out());
    }
    if (!got) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::optional<std::string> TTerminalPrompt::StdinPassword() {
    if (!passwordFromStdin_) return std::nullopt;
    if (!stdinPasswordRead_) {
        stdinPasswordRead_ = true;
        const bool terminal = ::isatty(::fileno(in_));
        if (terminal) printer_.ClearLive();
        stdinPassword_ = ReadLine(terminal ? "Password: " : "", true);
    }
    return stdinPassword_;
}

int TTerminalPrompt::MessageBox(const std::string& text, const std::string& caption,
                                unsigned flags) {
    const std::string title = caption.empty() ? "Tavrel" : caption;
    const std::vector<TChoice> choices = ChoicesOf(flags);
    if (choices.empty()) {
        // A message with only OK: an error, a warning or a notice.
        bool error = (flags & mb::IconMask) == mb::IconStop;
        if (error) errors_.push_back(text);
        printer_.Line(std::string(error ? "tavrel-cli: error: " : "tavrel-cli: ") + text);
        return id::OK;
    }
    std::string question = title + ": " + text;
    auto answered = [&](int answer) {
        if (answer != choices[0].answer) declined_.push_back(title);
        return answer;
    };
    // Every question's first choice is its positive answer (--yes), the second its
    // negative one (--no, no terminal, end of input).
    if (mode_ != TAnswerMode::Ask || !interactive_) {
        const TChoice& a = choices[mode_ == TAnswerMode::Yes ? 0 : 1];
        const char* why = mode_ == TAnswerMode::Yes  ? "--yes"
                          : mode_ == TAnswerMode::No ? "--no"
                                                     : "no terminal to ask on";
        printer_.Line(question + "\n-> " + a.label + " (" + why + ")");
        return answered(a.answer);
    }
    std::string keys;
    for (const auto& c : choices) keys += std::string(keys.empty() ? "" : "/") + c.label;
    for (;;) {
        printer_.Line(question);
        std::optional<std::string> line = ReadLine("[" + keys + "] ", false);
        if (!line) {
            printer_.Line(std::string("-> ") + choices[1].label + " (end of input)");
            return answered(choices[1].answer);
        }
        std::string typed = LowerAscii(TrimBlanks(*line));
        for (const auto& c : choices)
            if (!typed.empty() && (typed == c.label || typed == std::string(c.keys)))
                return answered(c.answer);
    }
}

bool TTerminalPrompt::InputLine(const std::string& caption, const std::string& label,
                                std::string& value, bool password) {
    if (password && passwordFromStdin_ && !stdinPasswordRead_) {
        std::optional<std::string> p = StdinPassword();
        if (!p) return false;
        value = *p;
        printer_.Line(caption + ": " + label + " (read from standard input)");
        return true;
    }
    if (!interactive_) {
        printer_.Line(caption + ": " + label + "\n-> cancelled (no terminal to ask on)");
        return false;
    }
    printer_.ClearLive();
    std::optional<std::string> line = ReadLine(
        SanitizeForTerminal(caption) + ": " + SanitizeForTerminal(label) + " ", password);
    if (!line) return false;
    value = *line;
    return true;
}
