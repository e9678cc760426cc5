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

QStringList TDetailsPane::Lines() const {
    Settle();
    QStringList lines{"Details"};
    if (selName_.isEmpty() && selInfo_.isEmpty()) return lines;
    if (!selName_.isEmpty()) lines << selName_;
    if (!selInfo_.isEmpty()) lines << selInfo_;
    if (selDate_ > 0) lines << "Date Modified: " + DayText(selDate_) << DateText(selDate_);
    if (selSize_ > 0)
        lines << (selName_.isEmpty() ? "Total File Size: " : "Size: ") + SizeText(selSize_);
    return lines;
}

void TDetailsPane::paintEvent(QPaintEvent*) {
    Settle();
    QPainter p(this);
    const QFont regular = font();
    QFont bold = regular;
    bold.setBold(true);
    // Single lines: the text height is the font's line height.
    auto height = [](const QString&, const QFont& f) { return QFontMetrics(f).height(); };
    const int band = height("H", regular) + 16;
    p.fillRect(rect(), palette().base());
    p.fillRect(0, 0, width(), band, palette().button());
    p.setPen(QColor(128, 128, 128));
    p.drawLine(0, 0, width(), 0);
    p.drawLine(0, band, width(), band);
    p.setPen(palette().text().color());
    const int x = 8;
    auto draw = [&](int y, const QString& s, const QFont& f) {
        p.setFont(f);
        p.drawText(QRect(x, y, std::max(0, width() - x - 4), height(s, f)),
                   Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, s);
    };
    draw(8, "Details", bold);
    int y = 8 + height("H", regular) + 12;
    if (selName_.isEmpty() && selInfo_.isEmpty()) return;
    if (!selName_.isEmpty()) {
        draw(y, selName_, bold);
        y += height(selName_, bold) + 4;
    } else {
        y += 4;
    }
    if (!selInfo_.isEmpty()) {
        draw(y, selInfo_, regular);
        y += height(selInfo_, regular) + 4;
    }
    if (selDate_ > 0) {
        const QString day = "Date Modified: " + DayText(selDate_);
        draw(y, day, regular);
        y += height(day, regular);
        const QString date = DateText(selDate_);
        draw(y, date, regular);
        y += height(date, regular) + 4;
    }
    if (selSize_ > 0)
        draw(y, (selName_.isEmpty() ? "Total File Size: " : "Size: ") + SizeText(selSize_), regular);
}
