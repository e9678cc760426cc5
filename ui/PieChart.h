#pragma once
#include <QColor>
#include <QString>
#include <QVector>
#include <QWidget>

// A flat pie of a few values, drawn on the window colour: no legend, no title, no mouse
// handling. The first slice starts at twelve o'clock and the slices follow clockwise.
// Values below zero count as zero; when all are zero only the outline is drawn.
class TPieChart : public QWidget {
    Q_OBJECT
public:
    struct Slice {
        QString label;
        qint64 value = 0;
        QColor color;
    };

    explicit TPieChart(QWidget* parent = nullptr);

    void SetSlices(const QVector<Slice>& slices);
    const QVector<Slice>& Slices() const { return slices_; }

    // The start and span of every slice in 1/16 degree (QPainter's unit), counterclockwise
    // positive as QPainter takes them; the spans add up to the full circle exactly.
    QVector<QPair<int, int>> Angles() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QVector<Slice> slices_;
};
