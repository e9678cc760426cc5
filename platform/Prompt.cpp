#include "Prompt.h"

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
} // namespace

IPrompt& Prompt() { return *g_prompt; }
void SetPrompt(IPrompt* prompt) { g_prompt = prompt ? prompt : &g_silent; }
