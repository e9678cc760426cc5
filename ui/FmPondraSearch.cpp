// The main window's search over the open mailbox's file table: the Search command, the
// search itself (it serves the window's events between entries), Stop Search, the results
// panel and Open Containing Folder.
#include "FmPondra.h"

#include "ExImageList.h"
#include "ExListView.h"
#include "FileListAdapter.h"
#include "FmNewName.h"
#include "IniFile.h"
#include "TextUtil.h"
#include "UiText.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QToolButton>

namespace {
// Rows found are handed to the list in batches: a sorted insertion per row would cost a
// pass over the list each.
constexpr int kFlushMs = 50;
} // namespace

void TFmPondra::SearchCommand() {
    TFmNewName dialog(this);
    dialog.SetMode(TFmNewName::nmName);
    dialog.setWindowTitle("Search");
    dialog.SetPrompt("All or part of the file name:");
    dialog.SetText(Q(IniFile().ReadString("General", "LastSearch", "")));
    if (dialog.exec() != QDialog::Accepted) return;
    const QString text = dialog.Text();
    searching_ = true;
    btnSearchToggle_->setText(QString());
    btnStop_->show();
    PlaceStopButton();
    Action("actViewSearch")->setChecked(true);
    pnlSearch_->show();
    IniFile().WriteString("General", "LastSearch", S(text));
    IniFile().UpdateFile(); // offered again after a restart, whatever ends this run
    RunSearch(text);
    btnStop_->hide();
}

void TFmPondra::PlaceStopButton() {
    btnStop_->adjustSize();
    const int h = pnlSearchBar_->height();
    btnStop_->move((pnlSearchBar_->width() - btnStop_->width()) / 2,
                   std::max(0, (h - btnStop_->height()) / 2));
    btnStop_->raise();
}

void TFmPondra::RunSearch(const QString& text) {
    TMailFolder* box = folders_ ? folders_->CurrentFolder : nullptr;
    if (!box) return;
    const int run = ++searchRun_;
    searching_ = true;
    lvSearch_->Model()->Clear();
    const QString needle = text.toUpper();
    std::vector<TExItem> found;
    QElapsedTimer sinceFlush;
    sinceFlush.start();
    auto flush = [&] {
        lvSearch_->Model()->Append(std::move(found));
        found.clear();
        sinceFlush.restart();
    };
    for (int i = 0;; ++i) {
        if (!searching_ || run != searchRun_) break;
        if (sinceFlush.elapsed() >= kFlushMs) flush();
        QCoreApplication::processEvents();
        // Meanwhile the user may have stopped, opened or deleted a mailbox, started another
        // search or quit; a structure refresh may have rebuilt the table. The entry is
        // read by its position now, never kept across the turn.
        if (!folders_ || folders_->CurrentFolder != box || !searching_ || run != searchRun_) break;
        if (i >= box->Files.Count()) break;
        const TExFile& e = box->Files.Items(i);
        std::string folder = ParentPath(e.Path); // ends with a backslash
        std::string leaf = e.Path.substr(folder.size());
        if (e.IsFolder && !leaf.empty() && leaf.back() == '\\') leaf.pop_back();
        const QString name = Q(leaf);
        if (name.isEmpty() || !name.toUpper().contains(needle)) continue;
        if (!folder.empty()) folder.pop_back(); // "In Folder": the root is the alias alone
        TExItem item;
        item.path = Q(e.Path);
        item.folder = e.IsFolder;
        item.size = e.IsFolder ? 0 : e.Size;
        item.texts = QStringList{name, Q(box->Alias + folder),
                                 e.IsFolder ? QString() : Q(SizeToText(e.Size)),
                                 TExImageList::FileTypeName(name, e.IsFolder),
                                 Q(DateTimeDisplayText(e.Modified))};
        found.push_back(std::move(item));
    }
    // Rows of a search that another one replaced, or of a mailbox no longer open, are
    // not added to the new list.
    if (run != searchRun_ || !folders_ || folders_->CurrentFolder != box) return;
    flush();
    searching_ = false;
}

void TFmPondra::OpenContainingFolder() {
    TMailFolder* box = folders_->CurrentFolder;
    const std::vector<int> rows = lvSearch_->SelectedRows();
    if (!box || rows.size() != 1) return;
    const TExItem& item = lvSearch_->ItemAt(rows.front());
    // Results name their entries by path: a folder that went with a refresh is not listed.
    const std::string target = ParentPath(S(item.path));
    box->ListFolder(files_->View(), files_->Address(), target.empty() ? std::string("\\") : target);
}
