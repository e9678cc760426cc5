// The main window's status: command states, status bar panels, progress, the
// pending-operations list and the mailbox list.
#include "FmPondra.h"

#include "ClipboardFiles.h"
#include "ExStatusBar.h"
#include "FileListAdapter.h"
#include "UiText.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>

#include <algorithm>

namespace {
const char* const kWelcome = "Welcome to Tavrel, if you need help press F1 please.";
}

QString TFmPondra::PanelText(int index) const { return ExStatMain_->PanelText(index); }

void TFmPondra::SetStatusText(const QString& text) { ExStatMain_->SetPanelText(0, text); }

int TFmPondra::PendingCount() const {
    int n = 0;
    for (int i = 0; i < folders_->Count(); ++i) n += folders_->Items(i).Ops.Count();
    return n;
}

bool TFmPondra::ClipboardUsable() const {
    // Read when the clipboard changes, not on every idle update: on X11 each read is a
    // round trip to the program that owns the clipboard, which may hang.
    if (!clipboardKnown_) {
        const std::vector<std::string> names =
            TClipboardFiles::Read(QApplication::clipboard()->mimeData());
        clipboardUsable_ = !names.empty();
        for (const std::string& n : names)
            if (n.find('*') != std::string::npos) clipboardUsable_ = false;
        clipboardKnown_ = true;
    }
    return clipboardUsable_;
}

bool TFmPondra::SelectionHasBusyEntry() const {
    TMailFolder* box = folders_->CurrentFolder;
    if (!box) return false;
    for (QTreeWidgetItem* item : lvFiles_->selectedItems()) {
        const std::string path = S(item->data(0, Qt::UserRole).toString());
        // Rows are keyed by path: a structure refresh may have replaced the entries.
        const int i = path.empty() ? -1 : box->Files.IndexOf(path);
        if (i >= 0 && box->Files.IsBusy(box->Files.Items(i))) return true;
    }
    return false;
}

bool TFmPondra::SelectionAllowsPaste() const {
    const QList<QTreeWidgetItem*> selected = lvFiles_->selectedItems();
    if (selected.isEmpty()) return true;
    for (QTreeWidgetItem* item : selected)
        if (item->data(0, Qt::UserRole + 1).toBool()) return true;
    return false;
}

void TFmPondra::IdleUpdate() {
    if (!folders_) return;
    TMailFolder* open = folders_->CurrentFolder;
    const bool isOpen = open != nullptr;
    const int filesSelected = static_cast<int>(lvFiles_->selectedItems().size());
    const bool busy = SelectionHasBusyEntry();
    const bool mailSelected = !lvMails_->selectedItems().isEmpty();
    const int searchSelected = static_cast<int>(lvSearch_->selectedItems().size());
    QWidget* focus = QApplication::focusWidget();
    auto set = [this](const char* name, bool enabled) { Action(name)->setEnabled(enabled); };

    set("actEnter", isOpen && filesSelected > 0);
    set("actSearch", isOpen);
    set("actNewFolder", isOpen && filesSelected == 0);
    set("actDelete", isOpen && filesSelected > 0 && !busy);
    set("actProperties", (focus == lvFiles_ && filesSelected == 1) ||
                             (focus == lvSearch_ && searchSelected == 1));
    set("actMailsOpen", mailSelected);
    set("actMailsDel", mailSelected);
    set("actMailsProp", mailSelected);
    set("actDownload", isOpen && filesSelected > 0 && !busy);
    set("actCopy", isOpen && filesSelected > 0 && !busy);
    set("actPaste", isOpen && !busy && SelectionAllowsPaste() && ClipboardUsable());
    set("actBack", isOpen && !open->BackHistory.empty());
    set("actFoward", isOpen && !open->ForwardHistory.empty());
    set("actUp", isOpen && open->CurrentPath != "\\");
    set("actRefresh", isOpen || mailSelected);
    set("actOpenFolder", isOpen && searchSelected == 1);
    btnGo_->setEnabled(isOpen);

    if (ExStatMain_->PanelText(0).isEmpty()) ExStatMain_->SetPanelText(0, kWelcome);
    ExStatMain_->SetPanelText(3, isOpen ? "Current Mail: " + Q(open->Alias)
                                        : QString("Current Mail: Open a mail box first"));
    ExStatMain_->SetPanelText(2, QString("Pending Operations: %1").arg(PendingCount()));
}

void TFmPondra::OnProgress(TMailFolder*, int32_t position, int32_t maximum) {
    QProgressBar* bar = pbStatus_;
    if (maximum != bar->maximum()) {
        if (maximum < bar->value()) bar->setValue(maximum);
        if (maximum < bar->minimum()) bar->setMinimum(maximum);
        bar->setValue(bar->minimum());
        bar->setMaximum(maximum);
    }
    bar->setVisible(maximum > 0);
    if (bar->isHidden()) {
        bar->setRange(0, 1);
        bar->setValue(0);
        position = 1;
    }
    bar->setMinimum(1);
    // The bar shows a position outside its range at the nearest end.
    bar->setValue(std::clamp(position, bar->minimum(), std::max(bar->minimum(), bar->maximum())));
    bar->repaint();
}

void TFmPondra::OnOperationDone(TMailFolder* box) {
    if (box && box == folders_->CurrentFolder) ListCurrent();
    RefreshMailboxList();
    RefreshOpsView();
    IdleUpdate();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
}

void TFmPondra::RefreshOpsView() {
    lvOps_->setUpdatesEnabled(false);
    lvOps_->clear();
    int row = 0;
    QList<QTreeWidgetItem*> items;
    for (int i = 0; i < folders_->Count(); ++i) {
        TMailFolder& m = folders_->Items(i);
        for (int k = 0; k < m.Ops.Count(); ++k) {
            const TExOp op = m.Ops.Get(k);
            items << new QTreeWidgetItem(QStringList{QString::number(++row), Q(m.Alias),
                                                     OpKindName(op.Kind), Q(op.Path), Q(op.Name)});
        }
    }
    lvOps_->addTopLevelItems(items);
    lvOps_->setUpdatesEnabled(true);
}

void TFmPondra::RefreshMailboxList() {
    QString selected;
    if (QListWidgetItem* cur = lvMails_->currentItem(); cur && cur->isSelected())
        selected = cur->text();
    static const QIcon closedIcon = QIcon::fromTheme("mail-unread", style()->standardIcon(QStyle::SP_DriveNetIcon));
    static const QIcon openIcon = QIcon::fromTheme("mail-read", style()->standardIcon(QStyle::SP_DirOpenIcon));
    lvMails_->clear();
    for (int i = 0; i < folders_->Count(); ++i) {
        TMailFolder& m = folders_->Items(i);
        auto* item = new QListWidgetItem(&m == folders_->CurrentFolder ? openIcon : closedIcon,
                                         Q(m.Alias), lvMails_);
        item->setData(Qt::UserRole, &m == folders_->CurrentFolder ? 1 : 0);
        if (!selected.isEmpty() && item->text().compare(selected, Qt::CaseInsensitive) == 0) {
            lvMails_->setCurrentItem(item);
            item->setSelected(true);
        }
    }
}

TMailFolder* TFmPondra::SelectedMailbox() const {
    // The list holds the mailboxes in the collection's order.
    const QList<QListWidgetItem*> selected = lvMails_->selectedItems();
    if (selected.isEmpty()) return nullptr;
    const int row = lvMails_->row(selected.first());
    return row >= 0 && row < folders_->Count() ? &folders_->Items(row) : nullptr;
}

void TFmPondra::ListCurrent(const std::string& path) {
    if (TMailFolder* box = folders_->CurrentFolder) {
        box->ListFolder(files_->View(), files_->Address(), path);
        return;
    }
    lvFiles_->clear();
    files_->Address()->Clear();
}

void TFmPondra::OpenMailbox() {
    TMailFolder* box = SelectedMailbox();
    if (!box) return;
    // A mailbox read before opens at once; otherwise its structure is read first and it
    // becomes the open one when the worker is done (OnOperationDone lists it then).
    if (box->Open()) ListCurrent();
    RefreshMailboxList();
    RefreshOpsView();
}

void TFmPondra::EnterSelected() {
    TMailFolder* box = folders_->CurrentFolder;
    QTreeWidgetItem* item = lvFiles_->currentItem();
    if (!box || !item || !item->data(0, Qt::UserRole + 1).toBool()) return;
    box->EnterFolder(S(item->text(0)));
    ListCurrent();
}

void TFmPondra::RefreshMailbox() {
    TMailFolder* box = folders_->CurrentFolder ? folders_->CurrentFolder : SelectedMailbox();
    if (!box) return;
    box->QueueRefresh();
    RefreshOpsView();
}
