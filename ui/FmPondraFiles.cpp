// The main window's file commands on the open mailbox: New Folder, Delete, Download, Copy,
// Paste, Select All, Properties, and the drop notice of a placeholder dropped outside.
#include "FmPondra.h"

#include "BoxMount.h"
#include "ClipboardFiles.h"
#include "ExListView.h"
#include "FileListAdapter.h"
#include "FileProps.h"
#include "FmMsgBox.h"
#include "FmNewName.h"
#include "TextUtil.h"
#include "UiText.h"

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QTreeView>

#include <filesystem>

namespace {
struct TSelected {
    std::string caption;
    bool folder = false;
    // The name as the mailbox's operations take it: a folder's ends with a backslash.
    std::string Name() const { return folder ? caption + "\\" : caption; }
};

// The selected rows in list order (the view's order, not the order they were clicked).
std::vector<TSelected> SelectedRows(const TExListView* view) {
    std::vector<TSelected> rows;
    for (int row : view->SelectedRows()) {
        const TExItem& item = view->ItemAt(row);
        rows.push_back({S(item.texts.value(0)), item.folder});
    }
    return rows;
}
// The cache path of a local entry. A local folder may have no cache folder yet (nothing
// below it, or nothing fetched): it is made, so the program that takes the name finds one.
std::string CachePath(const TMailFolder& box, const std::string& caption, bool folder) {
    const std::string path = box.LocalDir() + caption;
    if (folder) {
        std::error_code ec;
        std::filesystem::create_directories(path, ec);
    }
    return path;
}
const char* const kFromMount =
    "Entries of the mounted mailbox folder are Tavrel's own: they cannot be added to a "
    "mailbox from there. Copy them to another folder first.";
} // namespace

bool TFmPondra::HoldsMountPath(const std::vector<std::string>& names) const {
    for (const std::string& n : names)
        if (InMount(n)) return true;
    return false;
}

void TFmPondra::NewFolderCommand() {
    TMailFolder* box = folders_->CurrentFolder;
    if (!box) return;
    TFmNewName dialog(this);
    dialog.SetMode(TFmNewName::nmName);
    dialog.setWindowTitle("New Folder");
    dialog.SetPrompt("Please enter the new name:");
    while (dialog.exec() == QDialog::Accepted) {
        const std::string name = S(dialog.Text());
        // "*" and "?" pass the dialog's filter but cannot be stored (a leading "*" marks a
        // placeholder on the clipboard): refused like an existing name.
        if (!IsStorableName(name)) {
            Prompt().MessageBox("\"" + name + "\" cannot be used as a folder name.", "",
                                mb::OK | mb::IconStop);
            continue;
        }
        if (box->NewFolder("", name)) break;
        Prompt().MessageBox("The folder name you specified already exists.", "",
                            mb::OK | mb::IconStop);
    }
    RefreshOpsView();
    ListCurrent();
}

void TFmPondra::DeleteCommand() {
    TMailFolder* box = folders_->CurrentFolder;
    const std::vector<TSelected> rows = SelectedRows(lvFiles_);
    if (!box || rows.empty()) return;
    if (Prompt().MessageBox("Are you sure to remove the selected items from you email?\n"
                            "The items will not be moved to Recycle Bin and will be deleted "
                            "directly.",
                            "Warning", mb::YesNo | mb::IconQuestion) != id::Yes)
        return;
    for (const TSelected& r : rows) box->DeleteItem("", r.Name(), true);
    RefreshOpsView();
    ListCurrent();
}

void TFmPondra::DownloadCommand() {
    TMailFolder* box = folders_->CurrentFolder;
    const std::vector<TSelected> rows = SelectedRows(lvFiles_);
    if (!box || rows.empty()) return;
    for (const TSelected& r : rows) box->DownloadItem("", r.Name(), -1);
    ListCurrent();
    RefreshOpsView();
}

void TFmPondra::CopyCommand() {
    TMailFolder* box = folders_->CurrentFolder;
    const std::vector<TSelected> rows = SelectedRows(lvFiles_);
    if (!box || rows.empty()) return;
    std::vector<std::string> names;
    bool allLocal = true;
    for (const TSelected& r : rows) {
        const std::string path = box->CurrentPath + r.Name();
        if (box->IsLocal(path)) {
            names.push_back(CachePath(*box, r.caption, r.folder));
        } else {
            names.push_back("*" + box->CurrentPath + r.caption);
            allLocal = false;
        }
    }
    QApplication::clipboard()->setMimeData(TClipboardFiles::Make(names));
    if (!allLocal) ShowNotice(this, 0, QString(), 0, "Warning");
}

void TFmPondra::PasteCommand() {
    TMailFolder* box = folders_->CurrentFolder;
    if (!box || !ClipboardUsable()) return;
    std::string target;
    for (const TSelected& r : SelectedRows(lvFiles_))
        if (r.folder) {
            target = box->CurrentPath + r.caption + "\\";
            break;
        }
    const std::vector<std::string> names =
        TClipboardFiles::Paths(QApplication::clipboard()->mimeData());
    if (HoldsMountPath(names)) {
        SetStatusText(kFromMount);
        return;
    }
    for (const std::string& name : names) box->AddLocal(target, name, true);
    RefreshOpsView();
    ListCurrent();
}

void TFmPondra::PropertiesCommand() {
    TMailFolder* box = folders_->CurrentFolder;
    if (!box) return;
    std::string path;
    if (lvFiles_->HasFocusInside() && lvFiles_->SelectedCount() == 1)
        path = box->CurrentPath + SelectedRows(lvFiles_).front().Name();
    else if (lvSearch_->HasFocusInside() && lvSearch_->SelectedCount() == 1)
        path = S(lvSearch_->ItemAt(lvSearch_->SelectedRows().front()).path);
    // By path: a result of an earlier listing finds its entry only if it still exists.
    const int i = path.empty() ? -1 : box->Files.IndexOf(path);
    if (i >= 0) ShowFileProperties(box->Files, box->Alias, box->Files.Items(i));
}

void TFmPondra::DropNotice(const QByteArray& source, const QByteArray& dest) {
    // A notice that arrives while a question is open waits for its answer: the code that
    // asked must find the queue and the table as it left them.
    if (OpenQuestions() > 0) {
        QTimer::singleShot(50, this, [this, source, dest] { DropNotice(source, dest); });
        return;
    }
    TMailFolder* box = folders_->CurrentFolder;
    if (!box) return; // nowhere to go
    if (InMount(dest.toStdString()) || InMount(source.toStdString())) {
        SetStatusText(kFromMount);
        return;
    }
    if (source.startsWith('*')) box->PendingDrags->AddDrag(source.mid(1).toStdString(), dest.toStdString());
    ListCurrent();
    RefreshOpsView();
}

bool TFmPondra::AcceptsDrop(int row, const std::vector<std::string>& names) const {
    if (!folders_->CurrentFolder || names.empty()) return false;
    if (row >= lvFiles_->RowCount()) return false;
    if (row >= 0 && !lvFiles_->ItemAt(row).folder) return false; // onto a file
    for (const std::string& n : names)
        if (n.find('*') != std::string::npos || InMount(n)) return false; // our own names
    return true;
}

void TFmPondra::DropFiles(int row, const std::vector<std::string>& names) {
    if (!AcceptsDrop(row, names)) return;
    TMailFolder* box = folders_->CurrentFolder;
    const std::string target =
        row >= 0 ? box->CurrentPath + S(lvFiles_->CaptionAt(row)) + "\\" : std::string();
    for (const std::string& name : names) box->AddLocal(target, name, true);
    RefreshOpsView();
    ListCurrent();
}

bool TFmPondra::FilesDropEvent(QEvent* e) {
    const QEvent::Type type = e->type();
    if (type == QEvent::DragLeave) {
        lvFiles_->ClearSelection();
        return true;
    }
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
    auto* drop = static_cast<QDropEvent*>(e);
    // Local files only, taken as a copy: other URLs, other data and our own placeholders
    // get no drop cursor anywhere on the list.
    if (!(drop->possibleActions() & Qt::CopyAction) || !TClipboardFiles::HoldsUsableList(drop->mimeData())) {
        drop->ignore();
        return true;
    }
    const int row = lvFiles_->RowAt(drop->position().toPoint()); // viewport coordinates
    if (type == QEvent::DragEnter) {
        lvFiles_->ClearSelection();
        lvFiles_->Current()->setFocus();
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        return true;
    }
    if (type == QEvent::DragMove) { // the item under the cursor shows where the drop goes
        lvFiles_->ClearSelection();
        lvFiles_->SetSelected(row, true);
    }
    const std::vector<std::string> names = TClipboardFiles::Paths(drop->mimeData());
    if (!AcceptsDrop(row, names)) {
        if (type == QEvent::Drop && HoldsMountPath(names)) SetStatusText(kFromMount);
        drop->ignore();
        return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (type == QEvent::Drop) DropFiles(row, names);
    return true;
}

void TFmPondra::DragFiles(std::vector<std::string>& files, bool& cancel) {
    TMailFolder* box = folders_->CurrentFolder;
    if (!box) {
        cancel = true;
        return;
    }
    dragAllLocal_ = true;
    bool placeholders = false;
    const bool mounted = mount_->Box() == box;
    if (mounted) mount_->Publish(); // the mount shows what the list shows
    for (std::string& name : files) {
        bool folder = false;
        for (int row = 0; row < lvFiles_->RowCount(); ++row)
            if (SameTextAscii(S(lvFiles_->CaptionAt(row)), name)) {
                folder = lvFiles_->ItemAt(row).folder;
                break;
            }
        const std::string path = box->CurrentPath + name + (folder ? "\\" : "");
        if (box->IsLocal(path)) {
            name = CachePath(*box, name, folder);
            continue;
        }
        // Reading it in the mount downloads it first; a name the mount cannot show, or no
        // mount, leaves the placeholder that only a drop notice can fulfil.
        dragAllLocal_ = false;
        const std::string inMount = mounted ? TBoxMount::PathIn(mount_->MountPoint(), path) : "";
        if (!inMount.empty()) {
            name = inMount;
        } else {
            name = "*" + path;
            placeholders = true;
        }
    }
    if (placeholders && !toldPlaceholderDrag_) {
        toldPlaceholderDrag_ = true;
        const std::string why = mountUnavailable_.empty()
                                    ? std::string()
                                    : " (no mounted folder: " + mountUnavailable_ + ")";
        SetStatusText(Q("Files not yet downloaded reach other programs only after a download" +
                        why + "; download them first to drag them out."));
    }
}

void TFmPondra::DragDropped() {
    if (!dragAllLocal_) ShowNotice(this, 1, QString(), 0, "Warning");
}
