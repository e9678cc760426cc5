// The main window's mailbox list: rebuilding it, and its commands Open, Add, Properties
// and Delete.
#include "FmPondra.h"

#include "BoxMount.h"
#include "ClipboardFiles.h"
#include "DetailsPane.h"
#include "ExListView.h"
#include "UiText.h"

#include <QApplication>
#include <QClipboard>
#include <QListWidget>
#include <QStyle>

void TFmPondra::RefreshMailboxList() {
    QString selected;
    if (QListWidgetItem* cur = lvMails_->currentItem(); cur && cur->isSelected())
        selected = cur->text();
    else if (lvMails_->count() > 0)
        selected = lvMails_->item(0)->text();
    // Image 0 for every mailbox, 1 for the open one.
    static const QIcon closedIcon = QIcon::fromTheme("network-server", style()->standardIcon(QStyle::SP_DriveNetIcon));
    static const QIcon openIcon = QIcon::fromTheme("folder-open", style()->standardIcon(QStyle::SP_DirOpenIcon));
    lvMails_->clear();
    for (int i = 0; i < folders_->Count(); ++i) {
        TMailFolder& m = folders_->Items(i);
        const bool open = &m == folders_->CurrentFolder;
        auto* item = new QListWidgetItem(open ? openIcon : closedIcon, Q(m.Alias), lvMails_);
        item->setData(Qt::UserRole, open ? 1 : 0);
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

void TFmPondra::ClearClipboardUnlessFileList() {
    // Placeholders of one mailbox mean nothing in another; other content goes with them.
    QClipboard* clip = QApplication::clipboard();
    if (!TClipboardFiles::HoldsUsableList(clip->mimeData())) clip->clear();
}

void TFmPondra::OpenMailbox() {
    ClearClipboardUnlessFileList();
    TMailFolder* box = SelectedMailbox();
    if (!box || box == folders_->CurrentFolder) return;
    if (PendingCount() >= 1) {
        Prompt().MessageBox("The current mail box is busy now, try opening this mail box later.\n\n"
                            "You need wait until it submits all the pending operations.",
                            "", mb::OK | mb::IconStop);
        return;
    }
    searching_ = false;
    lvSearch_->Model()->Clear();
    // A mailbox read before opens at once; otherwise its structure is read first and it
    // becomes the open one when the worker is done (OnOperationDone lists it then).
    if (box->Open()) {
        RefreshMailboxList();
        ListCurrent();
    }
    RefreshOpsView();
}

void TFmPondra::AddMailbox() {
    bool added = false;
    try {
        added = folders_->AddFolder();
    } catch (const std::exception& e) {
        Prompt().MessageBox(std::string("The mail box list could not be saved: ") + e.what(), "",
                            mb::OK | mb::IconStop);
    }
    if (added) RefreshMailboxList();
}

void TFmPondra::MailboxProperties() {
    TMailFolder* box = SelectedMailbox();
    if (!box) return;
    bool changed = false;
    try {
        changed = box->EditProperties();
    } catch (const std::exception& e) {
        Prompt().MessageBox(std::string("The mail box list could not be saved: ") + e.what(), "",
                            mb::OK | mb::IconStop);
    }
    if (!changed) return;
    RefreshMailboxList();
    if (box == folders_->CurrentFolder) ListCurrent(); // the address shows the alias
}

void TFmPondra::DeleteMailbox() {
    TMailFolder* box = SelectedMailbox();
    if (!box) return;
    if (box->Ops.Count() > 0) {
        Prompt().MessageBox("There are pending operations of the selected mail box.",
                            "Can't delete right now", mb::OK | mb::IconStop);
        return;
    }
    if (Prompt().MessageBox("Are you sure to delete this mail box: " + box->Alias +
                                ".\n\nAll file/folder structure will be kept in your mail box "
                                "if you delete.",
                            "Warning", mb::YesNo | mb::IconQuestion) != id::Yes)
        return;
    const bool wasOpen = box == folders_->CurrentFolder;
    if (mount_->Box() == box) mount_->Stop(); // nothing may reach it once it is gone
    try {
        folders_->DeleteFolder(folders_->IndexOf(box));
    } catch (const std::exception& e) {
        Prompt().MessageBox(std::string("The mail box could not be deleted: ") + e.what(), "",
                            mb::OK | mb::IconStop);
        return;
    }
    if (wasOpen) {
        // The state without an open mailbox: empty views.
        searching_ = false;
        lvSearch_->Model()->Clear();
        ListCurrent();
    }
    RefreshMailboxList();
    RefreshOpsView();
}
