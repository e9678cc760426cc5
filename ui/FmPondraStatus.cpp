// The main window's status: command states, status bar panels, progress, the
// pending-operations list and the mailbox list.
#include "FmPondra.h"

#include "BoxMount.h"
#include "ClipboardFiles.h"
#include "ExListView.h"
#include "ExStatusBar.h"
#include "FileListAdapter.h"
#include "UiText.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QListWidget>
#include <QMessageBox>
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
        clipboardUsable_ = TClipboardFiles::HoldsUsableList(QApplication::clipboard()->mimeData());
        clipboardKnown_ = true;
    }
    return clipboardUsable_;
}

bool TFmPondra::SelectionHasBusyEntry() const {
    TMailFolder* box = folders_->CurrentFolder;
    if (!box) return false;
    for (int row : lvFiles_->SelectedRows()) {
        const std::string path = S(lvFiles_->ItemAt(row).path);
        // Rows are keyed by path: a structure refresh may have replaced the entries.
        const int i = path.empty() ? -1 : box->Files.IndexOf(path);
        if (i >= 0 && box->Files.IsBusy(box->Files.Items(i))) return true;
    }
    return false;
}

bool TFmPondra::SelectionAllowsPaste() const {
    const std::vector<int> selected = lvFiles_->SelectedRows();
    if (selected.empty()) return true;
    for (int row : selected)
        if (lvFiles_->ItemAt(row).folder) return true;
    return false;
}

void TFmPondra::IdleUpdate() {
    if (!folders_) return;
    SyncMount();
    TMailFolder* open = folders_->CurrentFolder;
    const bool isOpen = open != nullptr;
    const int filesSelected = lvFiles_->SelectedCount();
    const bool busy = SelectionHasBusyEntry();
    const bool mailSelected = !lvMails_->selectedItems().isEmpty();
    const int searchSelected = lvSearch_->SelectedCount();
    auto set = [this](const char* name, bool enabled) { Action(name)->setEnabled(enabled); };

    set("actEnter", isOpen && filesSelected > 0);
    set("actSearch", isOpen);
    set("actNewFolder", isOpen && filesSelected == 0);
    set("actDelete", isOpen && filesSelected > 0 && !busy);
    set("actProperties", (lvFiles_->HasFocusInside() && filesSelected == 1) ||
                             (lvSearch_->HasFocusInside() && searchSelected == 1));
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
    SyncMount();
    if (mount_) mount_->Publish();
    RefreshMailboxList();
    RefreshOpsView();
    IdleUpdate();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
}

void TFmPondra::OnOperationFailed(TMailFolder* box, const TExOp& op) {
    if (folders_->OperationCancelled || folders_->OperationError.empty()) return;
    failures_ << Q(OperationText(op, box ? box->Alias : std::string()) + ": " +
                   folders_->OperationError);
    ShowFailures();
}

void TFmPondra::ShowFailures() {
    if (failures_.isEmpty()) return;
    if (!failureBox_) {
        failureBox_ = new QMessageBox(QMessageBox::Critical, "Tavrel", QString(), QMessageBox::Ok, this);
        failureBox_->setObjectName("msgFailures");
        failureBox_->setWindowModality(Qt::NonModal);
        connect(failureBox_, &QMessageBox::finished, this, [this] { failures_.clear(); });
    }
    constexpr int kShown = 8;
    QStringList lines = failures_.mid(0, kShown);
    if (failures_.size() > kShown)
        lines << QString("... and %1 more.").arg(failures_.size() - kShown);
    const QString head = failures_.size() == 1 ? "This did not succeed:" : "These did not succeed:";
    failureBox_->setText(head + "\n\n" + lines.join("\n\n"));
    failureBox_->show();
    failureBox_->raise();
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

