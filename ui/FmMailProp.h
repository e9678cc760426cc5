#pragma once
#include <QDialog>

#include "MailPropDialog.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class TPieChart;

// The properties of one mailbox: its alias and address with the statistics the model
// gathered (General), the servers, the account and the sizes (Mail Server), and the ports
// with their SSL flags (Advanced). OK runs the model's checks and stays open on the first
// failing one, with that control focused; Cancel, Esc and closing store nothing.
class TFmMailProp : public QDialog {
    Q_OBJECT
public:
    explicit TFmMailProp(QWidget* parent = nullptr);

    void Fill(const TMailPropDialog& d);
    // The edit fields and check boxes; the rest of `d` is left as it is.
    void Read(TMailPropDialog& d) const;

    QTabWidget* pages;
    QLineEdit* edtName;
    QLineEdit* edtAddr;
    QLabel* lblSize;
    QLabel* lblSizeS;
    QLabel* lblContains;
    QLabel* lblCreated;
    TPieChart* cht1;
    QLineEdit* edtPopServer;
    QLineEdit* edtSMTPServer;
    QCheckBox* chkAuth;
    QLineEdit* edtAccount;
    QLineEdit* edtPassword;
    QLineEdit* edtMailBox;
    QLineEdit* edtAttach;
    QLineEdit* edtSMTPPort;
    QCheckBox* chkSMTPSSL;
    QLineEdit* edtPOPPort;
    QCheckBox* chkPOPSSL;
    QPushButton* btnDefault;
    QPushButton* btnOk;
    QPushButton* btnCancel;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    // Which characters a field takes as they are typed.
    enum class Filter { None, Name, Digits };
    Filter FilterOf(const QObject* edit) const;
    static bool Accepts(Filter filter, QChar c);
    bool IsTrimmed(const QObject* edit) const;
    static void Trim(QLineEdit* edit);

    void UseDefaults();
    void Confirm();

    std::vector<std::string> otherAliases_;
};

// Installs the dialog as the model's mailbox properties runner (owner: the main window).
void InstallMailPropDialog(QWidget* owner);
