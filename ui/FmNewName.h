#pragma once
#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// The one-line entry dialog: new folder names and search texts (mode 1, the characters
// " / : < > \ | are dropped as they are typed) and passwords (mode 3, shown as "*", no
// filter). OK is enabled only while the entry holds more than blanks, unless the caller
// enables it itself (the start-up password). The caller always reads a trimmed text.
class TFmNewName : public QDialog {
    Q_OBJECT
public:
    enum { nmName = 1, nmPassword = 3 };

    explicit TFmNewName(QWidget* parent = nullptr);

    void SetMode(int mode);
    int Mode() const { return mode_; }
    void SetPrompt(const QString& text);
    QString Text() const;
    void SetText(const QString& text);
    // Enables OK for any entry, blank ones included (until the next change of the field).
    void ForceOkEnabled();

    QLineEdit* Edit() const { return edtName_; }
    QPushButton* OkButton() const { return btnOk_; }
    QLabel* PromptLabel() const { return lblPrompt_; }

    // Characters mode 1 does not accept.
    static bool IsFiltered(QChar c);

protected:
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void Trim();

    int mode_ = nmName;
    QLabel* lblPrompt_;
    QLineEdit* edtName_;
    QPushButton* btnOk_;
    QPushButton* btnCancel_;
};
