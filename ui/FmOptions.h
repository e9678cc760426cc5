#pragma once
#include <QDialog>

#include "Options.h"

class QCheckBox;
class QPushButton;

// The options dialog: program password (asked at start, set through two entries), the
// virtual folder (registration of libPondra.so, read from the registry), the tray icon's
// behaviour, and the hidden auto-login flag that passes through unchanged.
class TFmOptions : public QDialog {
    Q_OBJECT
public:
    explicit TFmOptions(QWidget* parent = nullptr);

    void Fill(const TOptionsDialogData& d);
    void Read(TOptionsDialogData& d) const;
    const std::string& StagedPassword() const { return staged_; }

    // The registry key that exists while the virtual folder is registered.
    static const char* const ShellKey;
    static bool ShellRegistered();

    QCheckBox* chkPass;
    QPushButton* btnPass;
    QCheckBox* chkShell;
    QCheckBox* chkIcon;
    QCheckBox* chkMini;
    QCheckBox* chkLogin;
    QPushButton* btnOk;
    QPushButton* btnCancel;

private:
    void SetPassword();
    void Confirm();

    std::string staged_;
};

// Installs the dialog as the model's options dialog runner.
void InstallOptionsDialog(QWidget* owner);
