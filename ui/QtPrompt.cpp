#include "QtPrompt.h"

#include "FmNewName.h"
#include "UiText.h"

#include <QMessageBox>
#include <QPushButton>

int TQtPrompt::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    QMessageBox box(owner_);
    box.setText(Q(text));
    switch (flags & mb::IconMask) {
    case mb::IconStop: box.setIcon(QMessageBox::Critical); break;
    case mb::IconQuestion: box.setIcon(QMessageBox::Question); break;
    case mb::IconWarning: box.setIcon(QMessageBox::Warning); break;
    case mb::IconInformation: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
    }
    box.setWindowTitle(caption.empty() ? QString("Tavrel") : Q(caption));
    struct B {
        QMessageBox::StandardButton button;
        int answer;
    };
    std::vector<B> buttons;
    switch (flags & mb::ButtonMask) {
    case mb::YesNo: buttons = {{QMessageBox::Yes, id::Yes}, {QMessageBox::No, id::No}}; break;
    case mb::YesNoCancel:
        buttons = {{QMessageBox::Yes, id::Yes}, {QMessageBox::No, id::No},
                   {QMessageBox::Cancel, id::Cancel}};
        break;
    case mb::OKCancel: buttons = {{QMessageBox::Ok, id::OK}, {QMessageBox::Cancel, id::Cancel}}; break;
    case mb::RetryCancel:
        buttons = {{QMessageBox::Retry, id::Retry}, {QMessageBox::Cancel, id::Cancel}};
        break;
    default: buttons = {{QMessageBox::Ok, id::OK}}; break;
    }
    QMessageBox::StandardButtons set;
    for (const B& b : buttons) set |= b.button;
    box.setStandardButtons(set);
    // The second default button flag (0x100) picks the second button, as the classic flags do.
    const size_t def = (flags & mb::DefButton2) && buttons.size() > 1 ? 1 : 0;
    box.setDefaultButton(buttons[def].button);
    const auto clicked = static_cast<QMessageBox::StandardButton>(box.exec());
    for (const B& b : buttons)
        if (b.button == clicked) return b.answer;
    // Closed without a button (Esc, the title bar): the box's negative answer.
    return buttons.size() > 1 ? buttons.back().answer : id::OK;
}

bool TQtPrompt::InputLine(const std::string& caption, const std::string& label,
                          std::string& value, bool password) {
    TFmNewName dialog(owner_);
    dialog.SetMode(password ? TFmNewName::nmPassword : TFmNewName::nmName);
    dialog.setWindowTitle(Q(caption));
    dialog.SetPrompt(Q(label));
    dialog.SetText(Q(value));
    if (dialog.exec() != QDialog::Accepted) return false;
    value = S(dialog.Text());
    return true;
}
