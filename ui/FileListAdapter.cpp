#include "FileListAdapter.h"

#include "ExFile.h"
#include "QtTypeNames.h"
#include "UiText.h"

#include <QComboBox>
#include <QTreeWidget>

#include <algorithm>

std::vector<std::string> TFileListAdapter::SelectedCaptions() const {
    std::vector<std::string> names;
    for (QTreeWidgetItem* item : view_->selectedItems()) names.push_back(S(item->text(0)));
    return names;
}

void TFileListAdapter::BeginUpdate() { view_->setUpdatesEnabled(false); }
void TFileListAdapter::EndUpdate() { view_->setUpdatesEnabled(true); }

void TFileListAdapter::Clear() { view_->clear(); }

void TFileListAdapter::AddRow(const TFileRow& row) {
    auto* item = new QTreeWidgetItem(QStringList{Q(row.Caption), Q(row.Size), Q(row.Type),
                                                 Q(row.Modified), Q(row.Location), Q(row.Action)});
    item->setData(0, Qt::UserRole, row.Data ? Q(row.Data->Path) : QString());
    item->setData(0, Qt::UserRole + 1, row.IsFolder);
    item->setIcon(0, TQtTypeNames::IconFor(Q(row.Caption), row.IsFolder, 16));
    view_->addTopLevelItem(item);
}

void TFileListAdapter::Sort() {
    // Folders first, then by name (ASCII case folded), as the model's own lists.
    QList<QTreeWidgetItem*> items;
    while (view_->topLevelItemCount() > 0) items << view_->takeTopLevelItem(0);
    std::stable_sort(items.begin(), items.end(), [](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        const bool fa = a->data(0, Qt::UserRole + 1).toBool(), fb = b->data(0, Qt::UserRole + 1).toBool();
        if (fa != fb) return fa;
        return a->text(0).compare(b->text(0), Qt::CaseInsensitive) < 0;
    });
    view_->addTopLevelItems(items);
}

int TFileListAdapter::RowCount() const { return view_->topLevelItemCount(); }

std::string TFileListAdapter::RowCaption(int row) const {
    QTreeWidgetItem* item = view_->topLevelItem(row);
    return item ? S(item->text(0)) : std::string();
}

void TFileListAdapter::SetSelected(int row, bool selected) {
    if (QTreeWidgetItem* item = view_->topLevelItem(row)) item->setSelected(selected);
}

void TFileListAdapter::TAddress::Clear() { box->clear(); }
void TFileListAdapter::TAddress::AddItem(const std::string& text) { box->addItem(Q(text)); }
void TFileListAdapter::TAddress::SelectItem(int index) { box->setCurrentIndex(index); }
