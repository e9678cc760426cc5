#include "FmFileProp.h"

#include "ExImageList.h"
#include "UiText.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

TFmFileProp::TFmFileProp(QWidget* owner) : QDialog(owner) {
    setObjectName("TFmFileProp");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto* tabs = new QTabWidget(this);
    auto* page = new QWidget;
    tabs->addTab(page, "General");
    imgIcon_ = new QLabel(page);
    imgIcon_->setObjectName("imgIcon");
    imgIcon_->setFixedSize(32, 32);
    edtName_ = new QLineEdit(page);
    edtName_->setObjectName("edtName");
    edtName_->setReadOnly(true);
    edtName_->setStyleSheet("QLineEdit { background: palette(window); }");
    auto* head = new QHBoxLayout;
    head->addWidget(imgIcon_);
    head->addWidget(edtName_, 1);
    auto* form = new QFormLayout;
    auto addRow = [&](const char* caption, const char* name) {
        auto* value = new QLabel(page);
        value->setObjectName(name);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto* label = new QLabel(caption, page);
        form->addRow(label, value);
        return std::make_pair(label, value);
    };
    addRow("Type:", "lblType");
    addRow("Size:", "lblSize");
    addRow("Location:", "lblLocation");
    auto contains = addRow("Contains:", "lblContains");
    lblContainsCaption_ = contains.first;
    lblContains_ = contains.second;
    addRow("Created:", "lblCreated");
    addRow("Modified:", "lblModified");
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->addLayout(head);
    auto* line = new QFrame(page);
    line->setFrameShape(QFrame::HLine);
    pageLayout->addWidget(line);
    pageLayout->addLayout(form);
    pageLayout->addStretch(1);
    auto* close = new QPushButton("&Close", this);
    close->setObjectName("btnClose");
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addLayout(buttons);
    setMinimumWidth(380);
}

QLabel* TFmFileProp::Value(const char* name) const { return findChild<QLabel*>(name); }

void TFmFileProp::Fill(const TFilePropDialog& d) {
    setWindowTitle(Q(d.Caption));
    edtName_->setText(Q(d.edtName));
    const bool folder = d.Icon == "folder";
    imgIcon_->setPixmap(TExImageList::PixmapOf(folder ? QString() : "x." + Q(d.Icon), folder,
                                                TExImageList::siLarge));
    Value("lblType")->setText(Q(d.lblType));
    Value("lblSize")->setText(Q(d.lblSize));
    Value("lblLocation")->setText(Q(d.lblLocation));
    lblContains_->setText(Q(d.lblContains));
    lblContains_->setVisible(d.containsVisible);
    lblContainsCaption_->setVisible(d.containsVisible);
    Value("lblCreated")->setText(Q(d.lblCreated));
    Value("lblModified")->setText(Q(d.lblModified));
}

void InstallFilePropDialog(QWidget* owner) {
    SetFilePropRunner([owner](TFilePropDialog& d) {
        TFmFileProp dialog(owner);
        dialog.Fill(d);
        dialog.exec();
    });
}
