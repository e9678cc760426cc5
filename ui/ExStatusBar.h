#pragma once
#include <QStatusBar>
#include <QVector>

class QLabel;

// The main window's status bar: text panels of fixed widths (the first takes the rest of
// the bar), and child widgets placed on a panel (the progress bar on panel 1).
class TExStatusBar : public QStatusBar {
    Q_OBJECT
public:
    // widths: one per panel; -1 for the panel that takes the rest.
    TExStatusBar(const QVector<int>& widths, QWidget* parent = nullptr);

    int PanelCount() const { return static_cast<int>(panels_.size()); }
    QString PanelText(int index) const;
    void SetPanelText(int index, const QString& text);
    QLabel* Panel(int index) const { return panels_.value(index); }
    // Places a widget on a panel after the panel's text; it keeps its own visibility.
    void PlaceOnPanel(int index, QWidget* widget);

private:
    QVector<QLabel*> panels_;
};
