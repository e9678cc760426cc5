#pragma once
#include <QDialog>

#include "FileProps.h"

class QLabel;
class QLineEdit;

// The properties of one file or folder of a mailbox, as the model filled them in: icon,
// name, type, size, location, what a folder contains, created and modified times.
class TFmFileProp : public QDialog {
    Q_OBJECT
public:
    explicit TFmFileProp(QWidget* owner = nullptr);
    void Fill(const TFilePropDialog& d);

    QLabel* Value(const char* name) const; // "lblType", "lblSize", ... for tests

private:
    QLabel* imgIcon_;
    QLineEdit* edtName_;
    QLabel *lblContainsCaption_, *lblContains_;
};

// Installs the dialog as the model's file properties runner (owner: the main window).
void InstallFilePropDialog(QWidget* owner);
