#pragma once
#include "FolderView.h"

#include <vector>

#include "ExItemModel.h"

class QComboBox;
class TExListView;

// The file list and the address box as the model fills them. A listing collects its rows
// between BeginUpdate and EndUpdate and hands them to the list at once; every row keeps
// the entry's path and what the window shows of it, never a pointer into the file table.
class TFileListAdapter : public IFileView {
public:
    TFileListAdapter(TExListView* view, QComboBox* address) : view_(view), address_(address) {}

    // IFileView
    std::vector<std::string> SelectedCaptions() const override;
    void BeginUpdate() override;
    void Clear() override;
    void AddRow(const TFileRow& row) override;
    void EndUpdate() override;
    void Sort() override;
    int RowCount() const override;
    std::string RowCaption(int row) const override;
    void SetSelected(int row, bool selected) override;

    IFileView* View() { return this; }
    IAddressBox* Address() { return &address_; }
    static TExItem MakeItem(const TFileRow& row);

private:
    struct TAddress : IAddressBox {
        explicit TAddress(QComboBox* box) : box(box) {}
        void Clear() override;
        void AddItem(const std::string& text) override;
        void SelectItem(int index) override;
        QComboBox* box;
    };
    TExListView* view_;
    TAddress address_;
    int updating_ = 0;
    std::vector<TExItem> pending_;
};
