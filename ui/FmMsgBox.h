#pragma once
#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;

// A notice the user can switch off for good ("Don't show this message again"), with an
// optional countdown during which it cannot be closed.
class TFmMsgBox : public QDialog {
    Q_OBJECT
public:
    explicit TFmMsgBox(QWidget* parent = nullptr);

    void SetText(const QString& text);
    // Disables OK for `seconds` and counts down on it ("&Ok (3)", "&Ok (2)", ... "&OK").
    void StartCountdown(int seconds);
    // One tick of the countdown timer (tests call it instead of waiting a second).
    void Tick();

    bool DontShowAgain() const;
    QPushButton* OkButton() const { return btnOk_; }
    QCheckBox* DontShowBox() const { return chkDontShow_; }
    QLabel* TextLabel() const { return lblText_; }

public slots:
    void done(int r) override; // refused while the countdown runs

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void UpdateButton();

    int remaining_ = 0;
    QLabel* lblText_;
    QCheckBox* chkDontShow_;
    QPushButton* btnOk_;
    QTimer* timer_;
};

// The text of a notice number when the caller gives none.
QString NoticeText(int number);
// Shows notice `number` unless its flag in Tavrel.ini ([MsgBox], key = the number) is set,
// then writes the check box's state as that flag. A blank caption reads "Error".
void ShowNotice(QWidget* owner, int number, const QString& text, int countdown,
                const QString& caption);
