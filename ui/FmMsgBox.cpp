#include "FmMsgBox.h"

#include "IniFile.h"
#include "UiText.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

TFmMsgBox::TFmMsgBox(QWidget* parent) : QDialog(parent) {
    setObjectName("TFmMsgBox");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowCloseButtonHint, false); // no Close in its system menu
    auto* icon = new QLabel(this);
    icon->setObjectName("imgIcon");
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    lblText_ = new QLabel(this);
    lblText_->setObjectName("lblText");
    lblText_->setWordWrap(true);
    lblText_->setMinimumWidth(340);
    chkDontShow_ = new QCheckBox("Don't show this message again", this);
    chkDontShow_->setObjectName("chkDontShow");
    btnOk_ = new QPushButton("&OK", this);
    btnOk_->setObjectName("btnOk");
    btnOk_->setDefault(true);
    timer_ = new QTimer(this);
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &TFmMsgBox::Tick);
    connect(btnOk_, &QPushButton::clicked, this, &QDialog::accept);

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addWidget(lblText_, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(chkDontShow_);
    bottom->addStretch(1);
    bottom->addWidget(btnOk_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addLayout(bottom);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TFmMsgBox::SetText(const QString& text) { lblText_->setText(text); }

void TFmMsgBox::StartCountdown(int seconds) {
    remaining_ = seconds;
    timer_->start();
    UpdateButton();
}

void TFmMsgBox::Tick() {
    --remaining_;
    UpdateButton();
    if (remaining_ <= 0) timer_->stop();
}

void TFmMsgBox::UpdateButton() {
    if (remaining_ > 0) {
        btnOk_->setText(QString("&Ok (%1)").arg(remaining_));
        btnOk_->setEnabled(false);
    } else {
        btnOk_->setText("&OK");
        btnOk_->setEnabled(true);
    }
}

bool TFmMsgBox::DontShowAgain() const { return chkDontShow_->isChecked(); }

void TFmMsgBox::done(int r) {
    if (!btnOk_->isEnabled()) return; // Esc during the countdown
    QDialog::done(r);
}

void TFmMsgBox::closeEvent(QCloseEvent* e) {
    if (!btnOk_->isEnabled()) {
        e->ignore();
        return;
    }
    QDialog::closeEvent(e);
}

void TFmMsgBox::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    raise();
    activateWindow();
}

QString NoticeText(int number) {
    switch (number) {
    case 0:
    case 1:
        return "At least one selected file is not in your local disk, \n"
               "They will be copied to destination folder after download.";
    default:
        return {};
    }
}

void ShowNotice(QWidget* owner, int number, const QString& text, int countdown,
                const QString& caption) {
    const std::string key = std::to_string(number);
    if (IniFile().ReadBool("MsgBox", key, false)) return;
    TFmMsgBox box(owner);
    if (countdown > 0) box.StartCountdown(countdown);
    box.setWindowTitle(TrimBlanks(caption).isEmpty() ? QString("Error") : caption);
    box.SetText(TrimBlanks(text).isEmpty() ? NoticeText(number) : text);
    box.exec();
    IniFile().WriteBool("MsgBox", key, box.DontShowAgain());
    IniFile().UpdateFile(); // a read-only file loses the flag silently
}
