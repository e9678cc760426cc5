#include "FmNewName.h"

#include "UiText.h"

#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TFmNewName::TFmNewName(QWidget* parent) : QDialog(parent) {
    setObjectName("TFmNewName");
    setWindowTitle("New Folder");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    lblPrompt_ = new QLabel("Please enter the new name:", this);
    lblPrompt_->setObjectName("lblPrompt");
    edtName_ = new QLineEdit(this);
    edtName_->setObjectName("edtName");
    edtName_->setMinimumWidth(320);
    edtName_->installEventFilter(this);
    btnOk_ = new QPushButton("&Ok", this);
    btnOk_->setObjectName("btnOk");
    btnOk_->setDefault(true);
    btnOk_->setEnabled(false);
    btnCancel_ = new QPushButton("&Cancel", this);
    btnCancel_->setObjectName("btnCancel");
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(btnOk_, QDialogButtonBox::AcceptRole);
    buttons->addButton(btnCancel_, QDialogButtonBox::RejectRole);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblPrompt_);
    layout->addWidget(edtName_);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(edtName_, &QLineEdit::textChanged, this,
            [this](const QString& t) { btnOk_->setEnabled(!t.trimmed().isEmpty()); });
    connect(btnOk_, &QPushButton::clicked, this, [this] {
        Trim();
        accept();
    });
    connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void TFmNewName::SetMode(int mode) {
    mode_ = mode;
    edtName_->setEchoMode(mode == nmPassword ? QLineEdit::Password : QLineEdit::Normal);
}

void TFmNewName::SetPrompt(const QString& text) { lblPrompt_->setText(text); }
QString TFmNewName::Text() const { return edtName_->text(); }
void TFmNewName::SetText(const QString& text) { edtName_->setText(text); }
void TFmNewName::ForceOkEnabled() { btnOk_->setEnabled(true); }

bool TFmNewName::IsFiltered(QChar c) {
    static const QString filtered = QStringLiteral("\"/:<>\\|");
    return filtered.contains(c);
}

void TFmNewName::Trim() {
    const QString trimmed = TrimBlanks(edtName_->text());
    if (trimmed != edtName_->text()) {
        const bool enabled = btnOk_->isEnabled();
        edtName_->setText(trimmed);
        btnOk_->setEnabled(enabled); // trimming is no edit of the user's
    }
}

void TFmNewName::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    edtName_->selectAll();
    edtName_->setFocus();
    raise();
    activateWindow();
}

bool TFmNewName::eventFilter(QObject* watched, QEvent* e) {
    if (watched == edtName_) {
        if (e->type() == QEvent::FocusOut) Trim();
        if (e->type() == QEvent::KeyPress && mode_ == nmName) {
            const QString text = static_cast<QKeyEvent*>(e)->text();
            if (text.size() == 1 && IsFiltered(text.at(0))) return true;
        }
    }
    return QDialog::eventFilter(watched, e);
}
