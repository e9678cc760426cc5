#include "PieChart.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {
constexpr int FullCircle = 360 * 16;
constexpr int TwelveOClock = 90 * 16;
} // namespace

TPieChart::TPieChart(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

void TPieChart::SetSlices(const QVector<Slice>& slices) {
    slices_ = slices;
    update();
}

QVector<QPair<int, int>> TPieChart::Angles() const {
    QVector<QPair<int, int>> angles;
    double total = 0;
    for (const Slice& s : slices_) total += static_cast<double>(std::max<qint64>(s.value, 0));
    if (total <= 0) return angles;
    // Every boundary is rounded from the running sum, so rounding never leaves a gap or
    // an overlap at the end of the circle.
    double sum = 0;
    int from = 0;
    for (const Slice& s : slices_) {
        sum += static_cast<double>(std::max<qint64>(s.value, 0));
        const int to = static_cast<int>(std::lround(sum / total * FullCircle));
        angles.append({TwelveOClock - from, -(to - from)});
        from = to;
    }
    return angles;
}

QSize TPieChart::sizeHint() const { return {160, 120}; }

void TPieChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    const int side = std::min(width(), height()) - 8;
    if (side <= 0) return;
    const QRectF pie((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(palette().color(QPalette::WindowText), 1));
    const auto angles = Angles();
    if (angles.isEmpty()) {
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(pie);
        return;
    }
    for (qsizetype i = 0; i < angles.size(); ++i) {
        if (angles[i].second == 0) continue;
        p.setBrush(slices_[i].color);
        if (angles[i].second == -FullCircle)
            p.drawEllipse(pie); // a pie of one slice has no radius line
        else
            p.drawPie(pie, angles[i].first, angles[i].second);
    }
}
