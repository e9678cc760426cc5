#pragma once
#include <QItemSelection>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ExItemModel.h"

class QAbstractItemDelegate;
class QAbstractItemView;
class QHeaderView;
class QItemSelectionModel;
class QListView;
class QStackedWidget;
class QTreeView;
class TExSortProxy;

// A file list: one item model behind the sort proxy, shown by a list view in the Icons,
// Tiles and List styles and by a tree view with column headers in the Details style. Both
// views share the selection. Rows are addressed in view order (the sorted order).
// Drag-out: a left-button press on an item and a move of more than sqrt(8) pixels starts a
// drag of the selected items' captions, offered as a copy only; OnDragFiles (when set) may
// rewrite the names or cancel, OnDragDrop hears of a copy taken by another program.
class TExListView : public QWidget {
    Q_OBJECT
public:
    enum TStyle { vsIcon = 0, vsTile = 1, vsList = 2, vsReport = 3 };

    TExListView(const QStringList& headers, QList<int> rightAligned, QWidget* parent = nullptr);

    TExItemModel* Model() const { return model_; }
    TExSortProxy* Proxy() const { return proxy_; }
    QItemSelectionModel* Selection() const;
    QTreeView* Details() const { return tree_; }
    QListView* List() const { return list_; }
    QAbstractItemView* Current() const; // the view of the current style
    QHeaderView* Header() const;

    void SetViewStyle(int style);
    int ViewStyle() const { return style_; }
    void SetMultiSelect(bool multi);
    // Drops onto both views (the list view forgets it with every change of its mode).
    void SetAcceptDrops(bool accept);

    // The sort mark: a value not below the column count gives 0. Sorting re-sorts the rows.
    int SortIndex() const { return sortIndex_; }
    bool SortASC() const { return sortAsc_; }
    void SetSort(int column, bool ascending);
    // A click on a column header: the sort column again flips the direction, another
    // column keeps it.
    void ClickColumn(int column);
    void Sort();

    int RowCount() const;
    const TExItem& ItemAt(int row) const; // row in view order
    QString CaptionAt(int row) const;
    // Selected rows in view order.
    std::vector<int> SelectedRows() const;
    int SelectedCount() const;
    void SetSelected(int row, bool selected);
    // Selects a row with the next read of the selection (or the next event-loop turn):
    // a listing that restores 1,000 selected rows selects them in one step.
    void QueueSelected(int row);
    void SelectAll();
    void ClearSelection();
    // The row under a point of the current view's viewport; -1 over empty space.
    int RowAt(const QPoint& viewportPos) const;
    bool HasFocusInside() const;
    // Widgets that get the list's keys and drops: both views and their viewports.
    QList<QWidget*> Views() const;

    // Set by the owner; a list without OnDragFiles starts no drags.
    std::function<void(std::vector<std::string>& files, bool& cancel)> OnDragFiles;
    std::function<void()> OnDragDrop;
    void SetDragOut(bool enabled);
    // The move from the press point that starts a drag: squared distance above 8.
    static bool StartsDrag(const QPoint& from, const QPoint& to);
    // The drag of the selected items (a nested event loop until it ends).
    void StartDrag();

signals:
    void SelectionChanged();
    void Activated(); // Enter or a double-click

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    QModelIndex ViewIndex(int row) const;
    void Flush() const;

    mutable QItemSelection pending_;
    bool flushQueued_ = false;
    TExItemModel* model_;
    TExSortProxy* proxy_;
    QStackedWidget* stack_;
    QListView* list_;
    QTreeView* tree_;
    QAbstractItemDelegate* plain_ = nullptr;
    QAbstractItemDelegate* tiles_ = nullptr;
    int style_ = vsReport;
    bool acceptDrops_ = false;
    bool dragOut_ = false;
    std::optional<QPoint> dragFrom_; // viewport point of a left press on an item
    int sortIndex_ = 0;
    bool sortAsc_ = true;
};
