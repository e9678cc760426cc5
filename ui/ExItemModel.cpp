#include "ExItemModel.h"

#include "ExImageList.h"

#include <QColor>
#include <QIcon>

TExItemModel::TExItemModel(const QStringList& headers, QList<int> rightAligned, QObject* parent)
    : QAbstractTableModel(parent), headers_(headers), rightAligned_(std::move(rightAligned)) {}

const QColor& TExItemModel::Red() {
    static const QColor red(255, 77, 77);
    return red;
}

void TExItemModel::SetItems(std::vector<TExItem> items) {
    for (TExItem& item : items) item.key = item.texts.value(0).toUpper();
    beginResetModel();
    items_ = std::move(items);
    endResetModel();
}

void TExItemModel::Append(TExItem item) {
    const int row = Count();
    item.key = item.texts.value(0).toUpper();
    beginInsertRows({}, row, row);
    items_.push_back(std::move(item));
    endInsertRows();
}

void TExItemModel::Append(std::vector<TExItem> items) {
    if (items.empty()) return;
    const int first = Count();
    for (TExItem& item : items) item.key = item.texts.value(0).toUpper();
    beginInsertRows({}, first, first + static_cast<int>(items.size()) - 1);
    for (TExItem& item : items) items_.push_back(std::move(item));
    endInsertRows();
}

int TExItemModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int TExItemModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant TExItemModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count()) return {};
    const TExItem& item = Item(index.row());
    switch (role) {
    case Qt::DisplayRole: return item.texts.value(index.column());
    case Qt::DecorationRole:
        if (index.column() == 0) return TExImageList::IconOf(item.texts.value(0), item.folder);
        return {};
    case Qt::ForegroundRole:
        if (item.red) return Red();
        return {};
    case Qt::TextAlignmentRole:
        if (rightAligned_.contains(index.column()))
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    case PathRole: return item.path;
    case FolderRole: return item.folder;
    case SizeRole: return item.size;
    case ModifiedRole: return item.modified;
    case SortKeyRole: return item.key;
    default: return {};
    }
}

QVariant TExItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) return headers_.value(section);
    if (role == Qt::TextAlignmentRole && rightAligned_.contains(section))
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}
