#include "FmMailProp.h"

#include "DialogButtons.h"
#include "PieChart.h"
#include "Prompt.h"
#include "UiText.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
QLineEdit* NewEdit(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    return edit;
}

QLineEdit* NewNumberEdit(QWidget* parent, const char* name) {
    QLineEdit* edit = NewEdit(parent, name);
    edit->setInputMethodHints(Qt::ImhDigitsOnly);
    edit->setFixedWidth(90);
    return edit;
}

QLabel* NewValue(QWidget* parent, const char* name) {
    auto* value = new QLabel(parent);
    value->setObjectName(name);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return value;
}

QCheckBox* NewCheck(QWidget* parent, const char* caption, const char* name) {
    auto* check = new QCheckBox(caption, parent);
    check->setObjectName(name);
    return check;
}

// A caption in the left column of a form, with the control it describes as its buddy.
void AddRow(QFormLayout* form, const char* caption, QWidget* field) {
    auto* label = new QLabel(caption, field->parentWidget());
    label->setBuddy(field);
    form->addRow(label, field);
}

QFormLayout* NewForm() {
    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setLabelAlignment(Qt::AlignLeft);
    return form;
}
} // namespace

TFmMailProp::TFmMailProp(QWidget* parent) : QDialog(parent) {
    setObjectName("TFmMailProp");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setProperty("helpContext", 3);
    pages = new QTabWidget(this);
    pages->setObjectName("pages");

    auto* general = new QWidget;
    pages->addTab(general, "General");
    edtName = NewEdit(general, "edtName");
    edtName->setMinimumWidth(240);
    edtAddr = NewEdit(general, "edtAddr");
    lblSize = NewValue(general, "lblSize");
    lblSizeS = NewValue(general, "lblSizeS");
    lblContains = NewValue(general, "lblContains");
    lblCreated = NewValue(general, "lblCreated");
    cht1 = new TPieChart(general);
    cht1->setObjectName("cht1");
    cht1->setFixedSize(180, 130);
    auto* generalForm = NewForm();
    AddRow(generalForm, "Alias:", edtName);
    AddRow(generalForm, "Mail Address:", edtAddr);
    auto* line = new QFrame(general);
    line->setFrameShape(QFrame::HLine);
    generalForm->addRow(line);
    AddRow(generalForm, "Size:", lblSize);
    AddRow(generalForm, "Size on server:", lblSizeS);
    AddRow(generalForm, "Contains:", lblContains);
    AddRow(generalForm, "Created:", lblCreated);
    AddRow(generalForm, "Used space:", cht1);
    auto* generalLayout = new QVBoxLayout(general);
    generalLayout->addLayout(generalForm);
    generalLayout->addStretch(1);

    auto* server = new QWidget;
    pages->addTab(server, "Mail Server");
    auto* account = new QGroupBox("Server and account", server);
    edtPopServer = NewEdit(account, "edtPopServer");
    edtSMTPServer = NewEdit(account, "edtSMTPServer");
    chkAuth = NewCheck(account, "Require authentication", "chkAuth");
    edtAccount = NewEdit(account, "edtAccount");
    edtPassword = NewEdit(account, "edtPassword");
    edtPassword->setEchoMode(QLineEdit::Password);
    edtMailBox = NewNumberEdit(account, "edtMailBox");
    edtAttach = NewNumberEdit(account, "edtAttach");
    auto* accountForm = NewForm();
    AddRow(accountForm, "Incoming mail (POP3) server:", edtPopServer);
    AddRow(accountForm, "Outgoing mail (SMTP) server:", edtSMTPServer);
    accountForm->addRow(chkAuth);
    AddRow(accountForm, "Account name:", edtAccount);
    AddRow(accountForm, "Password:", edtPassword);
    AddRow(accountForm, "Mail box size (MBit):", edtMailBox);
    AddRow(accountForm, "Max attachment size (MBit):", edtAttach);
    account->setLayout(accountForm);
    auto* serverLayout = new QVBoxLayout(server);
    serverLayout->addWidget(account);
    serverLayout->addStretch(1);

    auto* advanced = new QWidget;
    pages->addTab(advanced, "Advanced");
    auto* ports = new QGroupBox("Server port numbers", advanced);
    edtSMTPPort = NewNumberEdit(ports, "edtSMTPPort");
    chkSMTPSSL = NewCheck(ports, "This server requires a secure connection (SSL)", "chkSMTPSSL");
    edtPOPPort = NewNumberEdit(ports, "edtPOPPort");
    chkPOPSSL = NewCheck(ports, "This server requires a secure connection (SSL)", "chkPOPSSL");
    btnDefault = new QPushButton("Use Defaults", ports);
    btnDefault->setObjectName("btnDefault");
    btnDefault->setAutoDefault(false);
    auto* portsForm = NewForm();
    AddRow(portsForm, "Outgoing mail (SMTP):", edtSMTPPort);
    portsForm->addRow(chkSMTPSSL);
    AddRow(portsForm, "Incoming mail (POP3):", edtPOPPort);
    portsForm->addRow(chkPOPSSL);
    auto* portsLayout = new QVBoxLayout(ports);
    portsLayout->addLayout(portsForm);
    portsLayout->addWidget(btnDefault, 0, Qt::AlignRight);
    auto* advancedLayout = new QVBoxLayout(advanced);
    advancedLayout->addWidget(ports);
    advancedLayout->addStretch(1);

    AddOkCancel(this, pages, btnOk, btnCancel);

    for (QLineEdit* edit : findChildren<QLineEdit*>()) edit->installEventFilter(this);
    connect(btnDefault, &QPushButton::clicked, this, &TFmMailProp::UseDefaults);
    connect(btnOk, &QPushButton::clicked, this, &TFmMailProp::Confirm);
    edtName->setFocus();
}

void TFmMailProp::Fill(const TMailPropDialog& d) {
    setWindowTitle(Q(d.Caption));
    otherAliases_ = d.OtherAliases;
    edtName->setText(Q(d.edtName));
    edtAddr->setText(Q(d.edtAddr));
    lblSize->setText(Q(d.lblSize));
    lblSizeS->setText(Q(d.lblSizeS));
    lblContains->setText(Q(d.lblContains));
    lblCreated->setText(Q(d.lblCreated));
    // Without an opened mailbox the model has no figures, only the hint in their place.
    for (QLabel* stat : {lblSize, lblSizeS, lblContains}) stat->setEnabled(d.statsEnabled);
    QVector<TPieChart::Slice> slices;
    for (const TMailPropDialog::Slice& s : d.pie)
        slices.append({Q(s.label), s.value, QColor(static_cast<QRgb>(s.rgb & 0xFFFFFFu))});
    cht1->SetSlices(slices);
    edtPopServer->setText(Q(d.edtPopServer));
    edtSMTPServer->setText(Q(d.edtSMTPServer));
    chkAuth->setChecked(d.chkAuth);
    edtAccount->setText(Q(d.edtAccount));
    edtPassword->setText(Q(d.edtPassword));
    edtMailBox->setText(Q(d.edtMailBox));
    edtAttach->setText(Q(d.edtAttach));
    edtSMTPPort->setText(Q(d.edtSMTPPort));
    chkSMTPSSL->setChecked(d.chkSMTPSSL);
    edtPOPPort->setText(Q(d.edtPOPPort));
    chkPOPSSL->setChecked(d.chkPOPSSL);
    pages->setCurrentIndex(0);
}

void TFmMailProp::Read(TMailPropDialog& d) const {
    d.edtName = S(edtName->text());
    d.edtAddr = S(edtAddr->text());
    d.edtPopServer = S(edtPopServer->text());
    d.edtSMTPServer = S(edtSMTPServer->text());
    d.chkAuth = chkAuth->isChecked();
    d.edtAccount = S(edtAccount->text());
    d.edtPassword = S(edtPassword->text());
    d.edtMailBox = S(edtMailBox->text());
    d.edtAttach = S(edtAttach->text());
    d.edtSMTPPort = S(edtSMTPPort->text());
    d.chkSMTPSSL = chkSMTPSSL->isChecked();
    d.edtPOPPort = S(edtPOPPort->text());
    d.chkPOPSSL = chkPOPSSL->isChecked();
}

TFmMailProp::Filter TFmMailProp::FilterOf(const QObject* edit) const {
    if (edit == edtName) return Filter::Name;
    if (edit == edtMailBox || edit == edtAttach || edit == edtSMTPPort || edit == edtPOPPort)
        return Filter::Digits;
    return Filter::None;
}

bool TFmMailProp::Accepts(Filter filter, QChar c) {
    // Control characters are keys, not text: Backspace, Enter, Esc and the editing
    // shortcuts keep working in every field.
    if (c.unicode() < 0x20 || c.unicode() == 0x7F) return true;
    switch (filter) {
    case Filter::Name:
        return !QStringView(u"\"*/:<>?\\|").contains(c);
    case Filter::Digits:
        return c >= u'0' && c <= u'9';
    case Filter::None:
        break;
    }
    return true;
}

bool TFmMailProp::IsTrimmed(const QObject* edit) const {
    // The address is taken as typed; the model's check looks at its first character.
    const auto* field = qobject_cast<const QLineEdit*>(edit);
    return field && field != edtAddr && isAncestorOf(field);
}

void TFmMailProp::Trim(QLineEdit* edit) {
    const QString trimmed = TrimBlanks(edit->text());
    if (trimmed != edit->text()) edit->setText(trimmed);
}

bool TFmMailProp::eventFilter(QObject* watched, QEvent* e) {
    switch (e->type()) {
    case QEvent::KeyPress: {
        const Filter filter = FilterOf(watched);
        if (filter == Filter::None) break;
        const QString text = static_cast<QKeyEvent*>(e)->text();
        for (QChar c : text)
            if (!Accepts(filter, c)) return true;
        break;
    }
    case QEvent::InputMethod: {
        // Text composed by an input method arrives without key presses; it is passed on
        // with the characters that could not have been typed removed.
        const Filter filter = FilterOf(watched);
        if (filter == Filter::None) break;
        auto* ime = static_cast<QInputMethodEvent*>(e);
        QString commit = ime->commitString();
        commit.removeIf([filter](QChar c) { return !Accepts(filter, c); });
        if (commit == ime->commitString()) break;
        QInputMethodEvent filtered(ime->preeditString(), ime->attributes());
        filtered.setCommitString(commit, ime->replacementStart(), ime->replacementLength());
        QCoreApplication::sendEvent(watched, &filtered);
        return true;
    }
    case QEvent::FocusOut: {
        // Leaving for another control trims; a context menu or another window taking
        // the focus for a while is no leaving.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(e)->reason();
        if (IsTrimmed(watched) && reason != Qt::PopupFocusReason &&
            reason != Qt::ActiveWindowFocusReason)
            Trim(static_cast<QLineEdit*>(watched));
        break;
    }
    default:
        break;
    }
    return QDialog::eventFilter(watched, e);
}

void TFmMailProp::UseDefaults() {
    TMailPropDialog d;
    Read(d);
    UseDefaultPorts(d);
    edtSMTPPort->setText(Q(d.edtSMTPPort));
    edtPOPPort->setText(Q(d.edtPOPPort));
}

void TFmMailProp::Confirm() {
    // Enter and the button's shortcut confirm without the focus leaving the field in use,
    // so it is trimmed here as if it had been left.
    if (QWidget* focused = focusWidget(); IsTrimmed(focused))
        Trim(static_cast<QLineEdit*>(focused));
    TMailPropDialog d;
    d.OtherAliases = otherAliases_;
    Read(d);
    const TPropCheck check = ValidatePropDialog(d);
    if (check.error.empty()) {
        accept();
        return;
    }
    Prompt().MessageBox(check.error, "", mb::OK | mb::IconStop);
    QWidget* control = findChild<QWidget*>(Q(check.control));
    if (!control) return;
    for (int i = 0; i < pages->count(); ++i)
        if (pages->widget(i)->isAncestorOf(control)) pages->setCurrentIndex(i);
    control->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
}

void InstallMailPropDialog(QWidget* owner) {
    SetMailPropRunner([owner](TMailPropDialog& d) {
        TFmMailProp dialog(owner);
        dialog.Fill(d);
        if (dialog.exec() != QDialog::Accepted) return false;
        dialog.Read(d);
        return true;
    });
}
