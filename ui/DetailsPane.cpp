#include "DetailsPane.h"

#include "DateTime.h"
#include "TextUtil.h"
#include "UiText.h"

#include <QDateTime>
#include <QLocale>
#include <QPainter>

#include <algorithm>
#include <ctime>

namespace {
QDateTime ToQDateTime(double date) {
    std::tm t{};
    int ms = 0;
    if (!DecodeDateTime(date, t, ms)) return {};
    return QDateTime(QDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday),
                     QTime(t.tm_hour, t.tm_min, t.tm_sec));
}

QString SizeText(qint64 size) {
    return Q(SizeToText(static_cast<uint32_t>(std::clamp<qint64>(size, 0, UINT32_MAX))));
}
} // namespace

TDetailsPane::TDetailsPane(QWidget* parent) : QWidget(parent) {
    setObjectName("pbDetails");
    setAttribute(Qt::WA_OpaquePaintEvent); // painted whole, from the first paint on
    setMinimumHeight(160);
}

void TDetailsPane::Invalidate() {
    dirty_ = true;
    update();
}

void TDetailsPane::Settle() const {
    if (!dirty_ || !recompute) return;
    const_cast<TDetailsPane*>(this)->dirty_ = false;
    recompute();
}

void TDetailsPane::SetSelection(const QString& name, const QString& info, double date, qint64 size) {
    dirty_ = false;
    selName_ = name;
    selInfo_ = info;
    selDate_ = date;
    selSize_ = size;
    update();
}

QString TDetailsPane::DayText(double date) { return QLocale().toString(ToQDateTime(date), "dddd,"); }

QString TDetailsPane::DateText(double date) {
    return QLocale().toString(ToQDateTime(date), "MMMM, dd, yyyy, hh:mm:ss ap");
}

std::vector<TDetailsPane::TLine> TDetailsPane::Layout() const {
    Settle();
    std::vector<TLine> lines{{"Details", true, 0, 12}};
    if (selName_.isEmpty() && selInfo_.isEmpty()) return lines;
    if (!selName_.isEmpty()) lines.push_back({selName_, true, 0, 4});
    if (!selInfo_.isEmpty()) lines.push_back({selInfo_, false, selName_.isEmpty() ? 4 : 0, 4});
    if (selDate_ > 0) {
        lines.push_back({"Date Modified: " + DayText(selDate_), false, 0, 0});
        lines.push_back({DateText(selDate_), false, 0, 4});
    }
    if (selSize_ > 0)
        lines.push_back({(selName_.isEmpty() ? "Total File Size: " : "Size: ") + SizeText(selSize_),
                         false, 0, 0});
    return lines;
}

QStringList TDetailsPane::Lines() const {
    QStringList texts;
    for (const TLine& line : Layout()) texts << line.text;
    return texts;
}

void TDetailsPane::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QFont regular = font();
    QFont bold = regular;
    bold.setBold(true);
    // Single lines: a line's height is its font's line height.
    const int band = QFontMetrics(regular).height() + 16;
    p.fillRect(rect(), palette().base());
    p.fillRect(0, 0, width(), band, palette().button());
    p.setPen(QColor(128, 128, 128));
    p.drawLine(0, 0, width(), 0);
    p.drawLine(0, band, width(), band);
    p.setPen(palette().text().color());
    const int x = 8;
    int y = 8;
    for (const TLine& line : Layout()) {
        const QFont& f = line.bold ? bold : regular;
        const int h = QFontMetrics(f).height();
        y += line.before;
        p.setFont(f);
        p.drawText(QRect(x, y, std::max(0, width() - x - 4), h),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, line.text);
        y += h + line.after;
    }
}
