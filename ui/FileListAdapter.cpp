#include "FileListAdapter.h"

#include "ExFile.h"
#include "ExImageList.h"
#include "ExListView.h"
#include "TextUtil.h"
#include "UiText.h"

#include <QComboBox>

std::vector<std::string> TFileListAdapter::SelectedCaptions() const {
    std::vector<std::string> names;
    for (int row : view_->SelectedRows()) names.push_back(S(view_->CaptionAt(row)));
    return names;
}

TExItem TFileListAdapter::MakeItem(const TFileRow& row) {
    TExItem item;
    item.texts = QStringList{Q(row.Caption), Q(row.Size), Q(row.Type),
                             Q(row.Modified), Q(row.Location), Q(row.Action)};
    item.folder = row.IsFolder;
    // The entry is read now, while the table that the listing walks is the current one.
    if (const TExFile* e = row.Data) {
        item.path = Q(e->Path);
        item.size = e->IsFolder ? 0 : e->Size;
        item.red = row.Location != "Local" || e->State != fsNone;
        try {
            item.modified = e->Modified.empty() ? -1 : TextToFloat(e->Modified);
        } catch (const std::exception&) {
            item.modified = -1;
        }
    } else {
        item.red = row.Location != "Local";
    }
    return item;
}

void TFileListAdapter::BeginUpdate() {
    if (updating_++ == 0) pending_.clear();
}

void TFileListAdapter::EndUpdate() {
    if (updating_ > 0 && --updating_ == 0) {
        view_->Model()->SetItems(std::move(pending_));
        pending_.clear();
    }
}

void TFileListAdapter::Clear() {
    if (updating_ > 0)
        pending_.clear();
    else
        view_->Model()->Clear();
}

void TFileListAdapter::AddRow(const TFileRow& row) {
    if (updating_ > 0)
        pending_.push_back(MakeItem(row));
    else
        view_->Model()->Append(MakeItem(row));
}

void TFileListAdapter::Sort() { view_->Sort(); }

int TFileListAdapter::RowCount() const { return view_->RowCount(); }

std::string TFileListAdapter::RowCaption(int row) const { return S(view_->CaptionAt(row)); }

void TFileListAdapter::SetSelected(int row, bool selected) {
    if (selected)
        view_->QueueSelected(row); // the listing restores the selection row by row
    else
        view_->SetSelected(row, false);
}

void TFileListAdapter::TAddress::Clear() { box->clear(); }
void TFileListAdapter::TAddress::AddItem(const std::string& text) {
    box->addItem(TExImageList::FolderIcon(), Q(text));
}
void TFileListAdapter::TAddress::SelectItem(int index) { box->setCurrentIndex(index); }
