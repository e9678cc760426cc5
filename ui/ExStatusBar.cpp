#include "ExStatusBar.h"

#include <QHBoxLayout>
#include <QLabel>

TExStatusBar::TExStatusBar(const QVector<int>& widths, QWidget* parent) : QStatusBar(parent) {
    setSizeGripEnabled(true);
    for (int i = 0; i < widths.size(); ++i) {
        auto* frame = new QWidget(this);
        frame->setObjectName(QString("panel%1").arg(i));
        auto* layout = new QHBoxLayout(frame);
        layout->setContentsMargins(4, 0, 4, 0);
        layout->setSpacing(10);
        auto* label = new QLabel(frame);
        label->setTextFormat(Qt::PlainText);
        layout->addWidget(label, widths[i] < 0 ? 1 : 0);
        if (widths[i] >= 0) frame->setFixedWidth(widths[i]);
        label->setMinimumWidth(0);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        addPermanentWidget(frame, widths[i] < 0 ? 1 : 0);
        panels_.push_back(label);
    }
}

QString TExStatusBar::PanelText(int index) const {
    QLabel* p = panels_.value(index);
    return p ? p->text() : QString();
}

void TExStatusBar::SetPanelText(int index, const QString& text) {
    if (QLabel* p = panels_.value(index)) p->setText(text);
}

void TExStatusBar::PlaceOnPanel(int index, QWidget* widget) {
    QLabel* p = panels_.value(index);
    if (!p) return;
    p->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    widget->setParent(p->parentWidget());
    static_cast<QHBoxLayout*>(p->parentWidget()->layout())->addWidget(widget, 1);
}
