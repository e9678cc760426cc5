#include "Prompt.h"

#include <atomic>

namespace {
class TSilentPrompt : public IPrompt {
public:
    int MessageBox(const std::string&, const std::string&, unsigned flags) override {
        switch (flags & mb::ButtonMask) {
        case mb::YesNo:
        case mb::YesNoCancel:
            return id::No;
        case mb::OKCancel:
        case mb::RetryCancel:
            return id::Cancel;
        default:
            return id::OK;
        }
    }
    bool InputLine(const std::string&, const std::string&, std::string&, bool) override {
        return false;
    }
};

TSilentPrompt g_silent;
IPrompt* g_prompt = &g_silent;
// Changed on the window's thread (questions are asked there); the worker reads it too.
std::atomic<int> g_open{0};

struct TOpenQuestion {
    TOpenQuestion() { ++g_open; }
    ~TOpenQuestion() { --g_open; }
};

// What Prompt() hands out: the installed prompt, with each question counted while open.
class TCountingPrompt : public IPrompt {
public:
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
        TOpenQuestion open;
        return g_prompt->MessageBox(text, caption, flags);
    }
    bool InputLine(const std::string& caption, const std::string& label, std::string& value,
                   bool password) override {
        TOpenQuestion open;
        return g_prompt->InputLine(caption, label, value, password);
    }
};
TCountingPrompt g_counting;
} // namespace

IPrompt& Prompt() { return g_counting; }
int OpenQuestions() { return g_open; }
void SetPrompt(IPrompt* prompt) { g_prompt = prompt ? prompt : &g_silent; }
