#pragma once
#include <QAbstractTableModel>
#include <QStringList>

#include <vector>

// One row of a file list: the column texts and what the window needs of the entry. A row
// never points into a mailbox's file table (a structure refresh replaces the entries); it
// names its entry by path.
struct TExItem {
    QStringList texts;      // one per column; texts[0] is the caption
    QString path;           // the entry's mailbox path (a folder's ends with a backslash)
    bool folder = false;
    bool red = false;       // drawn red: not in the local cache, or an operation pending
    qint64 size = 0;        // bytes, files only
    double modified = -1;   // the entry's time as a date-time; -1 none
    QString key;            // the caption upper-cased, for sorting (filled by the model)
};

// The rows of a file list behind a sort proxy. Item roles beyond the display text:
enum TExItemRole {
    PathRole = Qt::UserRole,
    FolderRole,
    SizeRole,
    ModifiedRole,
    SortKeyRole,
};

class TExItemModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Columns listed in rightAligned show their text at the right edge ("Size").
    TExItemModel(const QStringList& headers, QList<int> rightAligned, QObject* parent = nullptr);

    void SetItems(std::vector<TExItem> items); // replaces every row at once
    void Append(TExItem item);
    void Append(std::vector<TExItem> items); // one insertion for all
    void Clear() { SetItems({}); }
    const TExItem& Item(int row) const { return items_.at(static_cast<size_t>(row)); }
    int Count() const { return static_cast<int>(items_.size()); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static const QColor& Red();

private:
    QStringList headers_;
    QList<int> rightAligned_;
    std::vector<TExItem> items_;
};
