#pragma once
#include <QSortFilterProxyModel>

// The order of the file lists: folders before files, then by caption, upper-cased and
// compared by character code, whatever column carries the sort mark. A descending sort
// reverses the whole order (files then come first).
class TExSortProxy : public QSortFilterProxyModel {
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    // -1, 0 or +1 as the ascending order has it; the names already upper-cased.
    static int CompareItems(bool folderA, const QString& nameA, bool folderB, const QString& nameB);

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
};
