// The main window's explorer view over the open mailbox: listing the current folder,
// opening folders, moving back, forward and up, the address box, and the details pane.
#include "FmPondra.h"

#include "DetailsPane.h"
#include "ExListView.h"
#include "FileListAdapter.h"
#include "UiText.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

void TFmPondra::ListCurrent(const std::string& path) {
    if (TMailFolder* box = folders_->CurrentFolder) {
        box->ListFolder(files_->View(), files_->Address(), path);
        return;
    }
    // No open mailbox: empty views.
    lvFiles_->Model()->Clear();
    files_->Address()->Clear();
    cbbAddress_->setEditText("Please open a mail box first");
}

void TFmPondra::EnterSelected() {
    TMailFolder* box = folders_->CurrentFolder;
    if (!box) return;
    for (int row : lvFiles_->SelectedRows()) {
        const TExItem& item = lvFiles_->ItemAt(row);
        if (!item.folder) continue;
        box->EnterFolder(S(item.texts.value(0)) + "\\");
        ListCurrent();
        return;
    }
}

void TFmPondra::RefreshMailbox() {
    TMailFolder* box = folders_->CurrentFolder;
    if (!box) {
        OpenMailbox(); // nothing open yet: Refresh opens the selected mailbox
        return;
    }
    box->QueueRefresh();
    RefreshOpsView();
}

void TFmPondra::GoUp() {
    if (TMailFolder* box = folders_->CurrentFolder) {
        box->GoUp();
        ListCurrent();
    }
}

void TFmPondra::GoBack() {
    if (TMailFolder* box = folders_->CurrentFolder) box->GoBack(files_->View(), files_->Address());
}

void TFmPondra::GoForward() {
    if (TMailFolder* box = folders_->CurrentFolder) box->GoForward(files_->View(), files_->Address());
}

void TFmPondra::GoToAddress() {
    TMailFolder* box = folders_->CurrentFolder;
    QString text = cbbAddress_->currentText();
    if (!box || text.isEmpty()) return;
    if (text.endsWith('\\')) {
        text.chop(1);
        cbbAddress_->setEditText(text);
    }
    // What stands before the first backslash is the alias, whatever it reads.
    const int slash = text.indexOf('\\');
    const std::string path = slash < 0 ? std::string("\\") : S(text.mid(slash));
    // An unknown folder changes nothing: the box keeps the typed text.
    box->ListFolder(files_->View(), files_->Address(), path);
}

void TFmPondra::UpdateDetails() {
    const std::vector<int> rows = lvFiles_->SelectedRows();
    if (rows.size() == 1) {
        const TExItem& item = lvFiles_->ItemAt(rows.front());
        pbDetails_->SetSelection(item.texts.value(0), item.texts.value(2), item.modified,
                                 item.folder ? 0 : item.size);
        return;
    }
    qint64 total = 0;
    for (int row : rows) {
        const TExItem& item = lvFiles_->ItemAt(row);
        if (!item.folder) total += item.size;
    }
    pbDetails_->SetSelection(QString(), QString("%1 items selected").arg(rows.size()), -1, total);
}
