#pragma once
#include "Prompt.h"

#include <deque>
#include <string>
#include <vector>

// Prompt for tests: answers come from queues filled by the test; every box and entry
// shown is recorded. With no scripted answer left, a box gets `defaultAnswer` and an entry
// is cancelled.
class TScriptedPrompt : public IPrompt {
public:
    struct Shown {
        std::string text, caption;
        unsigned flags = 0;
        bool isEntry = false;
        bool password = false;
    };

    std::deque<int> answers;
    std::deque<std::pair<bool, std::string>> entries; // (confirmed, text)
    std::vector<Shown> shown;
    int defaultAnswer = id::No;

    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
        shown.push_back({text, caption, flags, false, false});
        if (answers.empty()) return defaultAnswer;
        int a = answers.front();
        answers.pop_front();
        return a;
    }

    bool InputLine(const std::string& caption, const std::string& label, std::string& value,
                   bool password) override {
        shown.push_back({label, caption, 0, true, password});
        if (entries.empty()) return false;
        auto [ok, text] = entries.front();
        entries.pop_front();
        if (ok) value = text;
        return ok;
    }
};

// Installs a prompt for the lifetime of a scope.
class TPromptScope {
public:
    explicit TPromptScope(IPrompt& p) { SetPrompt(&p); }
    ~TPromptScope() { SetPrompt(nullptr); }
};
