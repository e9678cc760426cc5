#include "ExListView.h"

#include "ClipboardFiles.h"
#include "ExSortProxy.h"
#include "UiText.h"

#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>

#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// The Tiles style: a large icon with the name, the type and the size beside it (columns 2
// and 1 of the file list).
class TTileDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QAbstractItemModel* m = index.model();
        QStringList lines{option->text, m->index(index.row(), 2).data().toString()};
        const QString size = m->index(index.row(), 1).data().toString();
        if (!size.isEmpty()) lines << size;
        option->text = lines.join('\n');
        option->displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    }
};
} // namespace

TExListView::TExListView(const QStringList& headers, QList<int> rightAligned, QWidget* parent)
    : QWidget(parent),
      model_(new TExItemModel(headers, std::move(rightAligned), this)),
      proxy_(new TExSortProxy(this)),
      stack_(new QStackedWidget(this)),
      list_(new QListView(stack_)),
      tree_(new QTreeView(stack_)) {
    proxy_->setSourceModel(model_);
    proxy_->setDynamicSortFilter(true);
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(stack_);

    tree_->setObjectName("details");
    tree_->setModel(proxy_);
    tree_->setRootIsDecorated(false);
    tree_->setUniformRowHeights(true);
    tree_->setItemsExpandable(false);
    tree_->setAllColumnsShowFocus(true);
    tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tree_->header()->setSortIndicatorShown(true);
    tree_->header()->setSectionsClickable(true);
    tree_->header()->setStretchLastSection(false);
    for (int i = 0; i < headers.size(); ++i) tree_->header()->resizeSection(i, 100);
    connect(tree_->header(), &QHeaderView::sectionClicked, this, &TExListView::ClickColumn);

    list_->setObjectName("icons");
    plain_ = new QStyledItemDelegate(list_);
    tiles_ = new TTileDelegate(list_);
    list_->setModel(proxy_);
    list_->setSelectionModel(tree_->selectionModel()); // one selection for both views
    list_->setMovement(QListView::Static);
    list_->setResizeMode(QListView::Adjust);
    list_->setUniformItemSizes(true);
    list_->setWrapping(true);
    list_->setWordWrap(true);

    for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(tree_), static_cast<QAbstractItemView*>(list_)}) {
        v->setEditTriggers(QAbstractItemView::NoEditTriggers);
        v->setSelectionMode(QAbstractItemView::ExtendedSelection);
        // Whole rows in both views: a cell left selected in another column would keep a
        // row in the selection that the user took out of it.
        v->setSelectionBehavior(QAbstractItemView::SelectRows);
        v->setDragEnabled(false);
        v->installEventFilter(this);           // keys
        v->viewport()->installEventFilter(this); // mouse presses
        connect(v, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& i) {
            if (i.isValid()) emit Activated();
        });
        stack_->addWidget(v);
    }
    connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TExListView::SelectionChanged);
    connect(proxy_, &QAbstractItemModel::modelReset, this, &TExListView::SelectionChanged);
    setFocusProxy(tree_);
    SetViewStyle(vsReport);
    SetSort(0, true);
}

QItemSelectionModel* TExListView::Selection() const {
    Flush();
    return tree_->selectionModel();
}

void TExListView::QueueSelected(int row) {
    if (row < 0 || row >= RowCount()) return;
    pending_.select(ViewIndex(row), proxy_->index(row, model_->columnCount() - 1));
    if (!flushQueued_) {
        flushQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            flushQueued_ = false;
            Flush();
        });
    }
}

void TExListView::Flush() const {
    if (pending_.isEmpty()) return;
    QItemSelection rows;
    rows.swap(pending_);
    tree_->selectionModel()->select(rows, QItemSelectionModel::Select);
}
QHeaderView* TExListView::Header() const { return tree_->header(); }

QAbstractItemView* TExListView::Current() const {
    return style_ == vsReport ? static_cast<QAbstractItemView*>(tree_) : list_;
}

QList<QWidget*> TExListView::Views() const {
    return {tree_, list_, tree_->viewport(), list_->viewport()};
}

void TExListView::SetViewStyle(int style) {
    style_ = style >= vsIcon && style <= vsReport ? style : vsReport;
    list_->setItemDelegate(style_ == vsTile ? tiles_ : plain_);
    switch (style_) {
    case vsIcon:
        list_->setViewMode(QListView::IconMode);
        list_->setFlow(QListView::LeftToRight);
        list_->setIconSize(QSize(32, 32));
        list_->setGridSize(QSize(96, 72));
        break;
    case vsTile:
        list_->setViewMode(QListView::ListMode);
        list_->setFlow(QListView::LeftToRight);
        list_->setIconSize(QSize(32, 32));
        list_->setGridSize(QSize(230, 56));
        break;
    case vsList:
        list_->setViewMode(QListView::ListMode);
        list_->setFlow(QListView::TopToBottom);
        list_->setIconSize(QSize(16, 16));
        list_->setGridSize(QSize(200, 20));
        break;
    default: break;
    }
    list_->setWrapping(true);
    SetAcceptDrops(acceptDrops_);
    SetDragOut(dragOut_);
    QWidget* current = Current();
    const bool focused = HasFocusInside();
    stack_->setCurrentWidget(current);
    setFocusProxy(current);
    if (focused) current->setFocus();
}

void TExListView::SetAcceptDrops(bool accept) {
    acceptDrops_ = accept;
    for (QWidget* w : Views()) w->setAcceptDrops(accept);
}

void TExListView::SetMultiSelect(bool multi) {
    const auto mode = multi ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection;
    tree_->setSelectionMode(mode);
    list_->setSelectionMode(mode);
}

void TExListView::SetSort(int column, bool ascending) {
    sortIndex_ = column >= 0 && column < model_->columnCount() ? column : 0;
    sortAsc_ = ascending;
    tree_->header()->setSortIndicator(sortIndex_, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    Sort();
}

void TExListView::ClickColumn(int column) {
    SetSort(column, column == sortIndex_ ? !sortAsc_ : sortAsc_);
}

void TExListView::Sort() {
    proxy_->sort(sortIndex_, sortAsc_ ? Qt::AscendingOrder : Qt::DescendingOrder);
}

int TExListView::RowCount() const { return proxy_->rowCount(); }

QModelIndex TExListView::ViewIndex(int row) const { return proxy_->index(row, 0); }

const TExItem& TExListView::ItemAt(int row) const {
    return model_->Item(proxy_->mapToSource(ViewIndex(row)).row());
}

QString TExListView::CaptionAt(int row) const {
    return row >= 0 && row < RowCount() ? ItemAt(row).texts.value(0) : QString();
}

std::vector<int> TExListView::SelectedRows() const {
    std::vector<int> rows;
    for (const QItemSelectionRange& r : Selection()->selection())
        for (int row = r.top(); row <= r.bottom(); ++row) rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

int TExListView::SelectedCount() const { return static_cast<int>(SelectedRows().size()); }

void TExListView::SetSelected(int row, bool selected) {
    if (row < 0 || row >= RowCount()) return;
    Selection()->select(ViewIndex(row), (selected ? QItemSelectionModel::Select
                                                  : QItemSelectionModel::Deselect) |
                                            QItemSelectionModel::Rows);
}

void TExListView::SelectAll() {
    if (RowCount() == 0) return;
    const QItemSelection all(proxy_->index(0, 0),
                             proxy_->index(RowCount() - 1, model_->columnCount() - 1));
    Selection()->select(all, QItemSelectionModel::ClearAndSelect);
}

void TExListView::ClearSelection() { Selection()->clearSelection(); }

int TExListView::RowAt(const QPoint& viewportPos) const {
    const QModelIndex i = Current()->indexAt(viewportPos);
    return i.isValid() ? i.row() : -1;
}

bool TExListView::HasFocusInside() const { return tree_->hasFocus() || list_->hasFocus(); }

void TExListView::SetDragOut(bool enabled) {
    dragOut_ = enabled;
    // The views keep a selection pressed on until the release, so several items can be
    // dragged; their own drags never start, the moves are taken here first.
    tree_->setDragEnabled(enabled);
    list_->setDragEnabled(enabled);
}

bool TExListView::StartsDrag(const QPoint& from, const QPoint& to) {
    const QPoint d = to - from;
    return d.x() * d.x() + d.y() * d.y() > 8;
}

void TExListView::StartDrag() {
    std::vector<std::string> files;
    for (int row : SelectedRows()) files.push_back(S(CaptionAt(row)));
    if (files.empty()) return;
    bool cancel = false;
    if (OnDragFiles) OnDragFiles(files, cancel);
    if (cancel || files.empty()) return;
    auto* drag = new QDrag(Current());
    drag->setMimeData(TClipboardFiles::MakeDrag(files));
    const Qt::DropAction done = drag->exec(Qt::CopyAction, Qt::CopyAction);
    // No target object: the drop went to a window of another program.
    const bool elsewhere = done == Qt::CopyAction && drag->target() == nullptr;
    if (elsewhere && OnDragDrop) OnDragDrop();
}

bool TExListView::eventFilter(QObject* watched, QEvent* e) {
    // A selection restored by a listing is in place before the user's next click or key.
    if (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::KeyPress) Flush();
    if (dragOut_ && (watched == tree_->viewport() || watched == list_->viewport())) {
        if (e->type() == QEvent::MouseButtonPress) {
            auto* m = static_cast<QMouseEvent*>(e);
            const QPoint at = m->position().toPoint();
            dragFrom_.reset();
            if (m->button() == Qt::LeftButton && RowAt(at) >= 0) dragFrom_ = at;
        } else if (e->type() == QEvent::MouseButtonRelease) {
            dragFrom_.reset();
        } else if (e->type() == QEvent::MouseMove && dragFrom_) {
            auto* m = static_cast<QMouseEvent*>(e);
            if (!(m->buttons() & Qt::LeftButton)) {
                dragFrom_.reset();
            } else {
                if (StartsDrag(*dragFrom_, m->position().toPoint())) {
                    dragFrom_.reset();
                    StartDrag();
                }
                return true; // a press on an item drags, it does not extend the selection
            }
        }
    }
    if (e->type() == QEvent::KeyPress && (watched == tree_ || watched == list_)) {
        auto* key = static_cast<QKeyEvent*>(e);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            key->modifiers() == Qt::NoModifier) {
            emit Activated();
            return true;
        }
    }
    return QWidget::eventFilter(watched, e);
}
