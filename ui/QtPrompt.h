#pragma once
#include "Prompt.h"

class QWidget;

// The questions of model and worker as the window shows them: message boxes (errors with
// the critical icon and the title "Tavrel", confirmations with the question icon and the
// caption "Warning") and the one-line entry dialog TFmNewName.
class TQtPrompt : public IPrompt {
public:
    explicit TQtPrompt(QWidget* owner = nullptr) : owner_(owner) {}
    void SetOwner(QWidget* owner) { owner_ = owner; }

    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
    bool InputLine(const std::string& caption, const std::string& label, std::string& value,
                   bool password) override;

private:
    QWidget* owner_;
};
