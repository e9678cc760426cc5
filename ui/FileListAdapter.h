#pragma once
#include "FolderView.h"

class QComboBox;
class QTreeWidget;

// The file list and the address box as the model fills them. Each row keeps the entry's
// mailbox path (Qt::UserRole) and whether it is a folder (Qt::UserRole + 1), never a
// pointer into the file table: a structure refresh replaces the entries.
class TFileListAdapter : public IFileView {
public:
    TFileListAdapter(QTreeWidget* view, QComboBox* address) : view_(view), address_(address) {}

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

private:
    struct TAddress : IAddressBox {
        explicit TAddress(QComboBox* box) : box(box) {}
        void Clear() override;
        void AddItem(const std::string& text) override;
        void SelectItem(int index) override;
        QComboBox* box;
    };
    QTreeWidget* view_;
    TAddress address_;
};
