#include "FmOptions.h"

#include "DialogButtons.h"
#include "FmNewName.h"
#include "Prompt.h"
#include "RegisterDll.h"
#include "Registry.h"
#include "UiText.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

const char* const TFmOptions::ShellKey =
    "HKEY_LOCAL_MACHINE\\Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer\\MyComputer"
    "\\NameSpace\\{67F75E16-82C8-49A0-A586-C1026D21B08C}";

bool TFmOptions::ShellRegistered() { return TRegistry().KeyExists(ShellKey); }

TFmOptions::TFmOptions(QWidget* parent) : QDialog(parent) {
    setObjectName("TFmOptions");
    setWindowTitle("Options");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setProperty("helpContext", 4);
    auto* tabs = new QTabWidget(this);
    auto* page = new QWidget;
    tabs->addTab(page, "General");
    chkPass = new QCheckBox("Password required for this software", page);
    chkPass->setObjectName("chkPass");
    btnPass = new QPushButton("Set &Password", page);
    btnPass->setObjectName("btnPass");
    chkShell = new QCheckBox("Create a virtual folder under \"My Computer\"", page);
    chkShell->setObjectName("chkShell");
    auto* icon = new QGroupBox("Icon", page);
    chkIcon = new QCheckBox("Always show icon in taskbar", icon);
    chkIcon->setObjectName("chkIcon");
    chkMini = new QCheckBox("Minimize to tarkbar when close", icon);
    chkMini->setObjectName("chkMini");
    chkLogin = new QCheckBox("Auto Login My Last Folder", page);
    chkLogin->setObjectName("chkLogin");
    chkLogin->setVisible(false);

    auto* pass = new QHBoxLayout;
    pass->addWidget(chkPass, 1);
    pass->addWidget(btnPass);
    auto* iconLayout = new QVBoxLayout(icon);
    iconLayout->addWidget(chkIcon);
    iconLayout->addWidget(chkMini);
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->addLayout(pass);
    pageLayout->addWidget(chkShell);
    pageLayout->addWidget(icon);
    pageLayout->addWidget(chkLogin);
    pageLayout->addStretch(1);

    AddOkCancel(this, tabs, btnOk, btnCancel);

    chkShell->setChecked(ShellRegistered());
    connect(chkPass, &QCheckBox::toggled, btnPass, &QWidget::setEnabled);
    connect(btnPass, &QPushButton::clicked, this, &TFmOptions::SetPassword);
    connect(btnOk, &QPushButton::clicked, this, &TFmOptions::Confirm);
}

void TFmOptions::Fill(const TOptionsDialogData& d) {
    chkLogin->setChecked(d.LoginLastFolder);
    staged_ = d.StagedPassword;
    chkPass->setChecked(d.PasswordRequired);
    btnPass->setEnabled(d.PasswordRequired);
    chkIcon->setChecked(d.ShowTrayIcon);
    chkMini->setChecked(d.MinimizeOnClose);
}

void TFmOptions::Read(TOptionsDialogData& d) const {
    d.LoginLastFolder = chkLogin->isChecked();
    d.StagedPassword = staged_;
    d.PasswordRequired = chkPass->isChecked();
    d.ShowTrayIcon = chkIcon->isChecked();
    d.MinimizeOnClose = chkMini->isChecked();
}

void TFmOptions::SetPassword() {
    // Two entries through the prompt seam (the window shows them as TFmNewName in
    // password mode); Cancel in either keeps the staged password.
    for (;;) {
        std::string first;
        if (!Prompt().InputLine("Set Password", "Please enter your password: ", first, true))
            return;
        std::string second;
        if (!Prompt().InputLine("Confirm Password", "Please reenter your password: ", second,
                                true))
            return;
        if (second == first) {
            staged_ = second;
            return;
        }
        Prompt().MessageBox("The passwords you typed do not match, please retype.", "",
                            mb::OK | mb::IconStop);
    }
}

void TFmOptions::Confirm() {
    // Every OK registers or unregisters the library, changed or not; failures are silent.
    if (chkShell->isChecked())
        RegisterDll("Pondra.dll");
    else
        UnregisterDll("Pondra.dll");
    accept();
}

void InstallOptionsDialog(QWidget* owner) {
    SetOptionsDialogRunner([owner](TOptionsDialogData& d) {
        TFmOptions dialog(owner);
        dialog.Fill(d);
        if (dialog.exec() != QDialog::Accepted) return false;
        dialog.Read(d);
        return true;
    });
}
