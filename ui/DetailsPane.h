#pragma once
#include <QWidget>

#include <functional>
#include <vector>

// The details pane under the mailbox list: what the file list's selection holds.
//   one entry: its name (bold), its type, "Date Modified: " with the day, the date and
//              time, and for a file "Size: " with its size text;
//   otherwise: "N items selected" and, when files are among them, "Total File Size: ".
class TDetailsPane : public QWidget {
    Q_OBJECT
public:
    explicit TDetailsPane(QWidget* parent = nullptr);

    // date <= 0: no date lines; size in bytes (0: no size line).
    void SetSelection(const QString& name, const QString& info, double date, qint64 size);
    // The selection changed: `recompute` (which calls SetSelection) runs before the next
    // paint or read, once however many changes came before (a listing that selects
    // 1,000 rows one by one).
    void Invalidate();
    std::function<void()> recompute;
    const QString& SelName() const { return Settle(), selName_; }
    const QString& SelInfo() const { return Settle(), selInfo_; }
    double SelDate() const { return Settle(), selDate_; }
    qint64 SelSize() const { return Settle(), selSize_; }
    // The lines as painted, top to bottom.
    QStringList Lines() const;

    static QString DayText(double date);  // "Thursday,"
    static QString DateText(double date); // "December, 10, 2026, 06:01:34 pm"

protected:
    void paintEvent(QPaintEvent*) override;

private:
    // One line of the pane: its text, its font, and the extra space before and after it.
    struct TLine {
        QString text;
        bool bold;
        int before, after;
    };
    std::vector<TLine> Layout() const;
    void Settle() const;

    bool dirty_ = false;
    QString selName_, selInfo_;
    double selDate_ = -1;
    qint64 selSize_ = 0;
};
