#pragma once
#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

// The foot of the tabbed settings dialogs: "&OK" (the default button) and "&Cancel" at the
// right under the pages, the dialog sized to its contents. Cancel rejects; OK is left to
// the dialog, which checks its fields first.
inline void AddOkCancel(QDialog* dialog, QWidget* pages, QPushButton*& ok, QPushButton*& cancel) {
    ok = new QPushButton("&OK", dialog);
    ok->setObjectName("btnOk");
    ok->setDefault(true);
    cancel = new QPushButton("&Cancel", dialog);
    cancel->setObjectName("btnCancel");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(pages);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
}
