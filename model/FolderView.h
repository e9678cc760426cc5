#pragma once
#include <string>
#include <vector>

struct TExFile;

// One row of the file view: the six columns and the table entry it shows.
struct TFileRow {
    std::string Caption, Size, Type, Modified, Location, Action;
    TExFile* Data = nullptr;
    bool IsFolder = false;
};

// The file view as the model fills it. The window implements it with its list view; the
// command line front end and tests with plain containers.
class IFileView {
public:
    virtual ~IFileView() = default;
    virtual std::vector<std::string> SelectedCaptions() const = 0;
    virtual void BeginUpdate() = 0;
    virtual void Clear() = 0;
    virtual void AddRow(const TFileRow& row) = 0;
    virtual void EndUpdate() = 0;
    virtual void Sort() = 0; // with the view's own sort settings
    virtual int RowCount() const = 0;
    virtual std::string RowCaption(int row) const = 0;
    virtual void SetSelected(int row, bool selected) = 0;
};

// The address box: a drop-down list whose first item is the current folder.
class IAddressBox {
public:
    virtual ~IAddressBox() = default;
    virtual void Clear() = 0;
    virtual void AddItem(const std::string& text) = 0;
    virtual void SelectItem(int index) = 0;
};

// Type names of files by extension. The window answers from the system's MIME database;
// without one a plain name is made from the extension.
class ITypeNames {
public:
    virtual ~ITypeNames() = default;
    virtual std::string TypeNameFor(const std::string& fileName) = 0;
};
ITypeNames& TypeNames();
void SetTypeNames(ITypeNames* names); // nullptr restores the plain names

// A simple view for the command line and tests: rows in a vector, selection by flags,
// sorted folders first, then by caption (ASCII case folded).
class TRowList : public IFileView {
public:
    std::vector<TFileRow> rows;
    std::vector<bool> selected;
    int updates = 0; // nesting of BeginUpdate/EndUpdate, for tests

    std::vector<std::string> SelectedCaptions() const override;
    void BeginUpdate() override { ++updates; }
    void Clear() override {
        rows.clear();
        selected.clear();
    }
    void AddRow(const TFileRow& row) override {
        rows.push_back(row);
        selected.push_back(false);
    }
    void EndUpdate() override { --updates; }
    void Sort() override;
    int RowCount() const override { return static_cast<int>(rows.size()); }
    std::string RowCaption(int row) const override { return rows.at(static_cast<size_t>(row)).Caption; }
    void SetSelected(int row, bool sel) override { selected.at(static_cast<size_t>(row)) = sel; }
    void Select(const std::string& caption);
};

class TAddressList : public IAddressBox {
public:
    std::vector<std::string> items;
    int selectedIndex = -1;
    void Clear() override {
        items.clear();
        selectedIndex = -1;
    }
    void AddItem(const std::string& text) override { items.push_back(text); }
    void SelectItem(int index) override { selectedIndex = index; }
};
