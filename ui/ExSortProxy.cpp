#include "ExSortProxy.h"

#include "ExItemModel.h"

// The names come upper-cased.
int TExSortProxy::CompareItems(bool folderA, const QString& nameA, bool folderB,
                               const QString& nameB) {
    if (folderA != folderB) return folderA ? -1 : 1;
    const int c = nameA.compare(nameB, Qt::CaseSensitive);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

bool TExSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const QAbstractItemModel* m = sourceModel();
    const QModelIndex a = m->index(left.row(), 0), b = m->index(right.row(), 0);
    return CompareItems(m->data(a, FolderRole).toBool(), m->data(a, SortKeyRole).toString(),
                        m->data(b, FolderRole).toBool(), m->data(b, SortKeyRole).toString()) < 0;
}
