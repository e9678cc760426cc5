// The explorer view without a worker: order and colour of the file list, the details pane,
// the address box and the history, the mailbox list's commands and the search.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "ClipboardFiles.h"
#include "DetailsPane.h"
#include "ExImageList.h"
#include "ExListView.h"
#include "FileListAdapter.h"
#include "FmNewName.h"
#include "FmPondra.h"
#include "IniFile.h"
#include "MailFolders.h"
#include "ScriptedPrompt.h"
#include "TextUtil.h"
#include "UiFixture.h"
#include "UiText.h"

namespace {

TMailFolder& AddBox(TFmPondra& w, const std::string& alias, bool opened = true) {
    auto box = std::make_unique<TMailFolder>(&w.Folders());
    box->Alias = alias;
    box->Opened = opened;
    return w.Folders().Append(std::move(box));
}

// Entries as paths (folders end with "\\"); a file's size may follow a "|".
void Fill(TMailFolder& box, std::initializer_list<const char*> entries) {
    for (const char* spec : entries) {
        std::string path = spec;
        uint32_t size = 10;
        if (const size_t bar = path.find('|'); bar != std::string::npos) {
            size = static_cast<uint32_t>(std::stoul(path.substr(bar + 1)));
            path.resize(bar);
        }
        TExFile f;
        f.Path = path;
        f.IsFolder = path.back() == '\\';
        f.Size = f.IsFolder ? 0 : size;
        f.Modified = FloatToText(46366.75); // 10 December 2026, 18:00
        box.Files.Add(f);
    }
}

void SelectMailbox(TFmPondra& w, int row) {
    w.RefreshMailboxList();
    w.MailsView()->clearSelection();
    w.MailsView()->item(row)->setSelected(true);
    w.IdleUpdate();
}

TMailFolder& OpenBoxWith(TFmPondra& w, std::initializer_list<const char*> entries) {
    TMailFolder& box = AddBox(w, "Box");
    Fill(box, entries);
    SelectMailbox(w, w.Folders().Count() - 1);
    w.OpenMailbox();
    w.IdleUpdate(); // the commands follow
    return box;
}
} // namespace

class ExplorerTest : public QObject {
    Q_OBJECT
private slots:
    void init() { home = std::make_unique<TUiHome>(); }
    void cleanup() {
        home.reset();
        QApplication::clipboard()->clear();
    }

    void orderIsByNameWhateverTheSortMark() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        OpenBoxWith(w, {"\\b\\", "\\c.txt", "\\A.txt", "\\a\\", "\\_x.txt"});
        w.Action("actDetails")->trigger();
        TExListView* files = w.FilesView();
        // Folders first; upper-cased, "_" (0x5F) sorts after the letters.
        const QStringList ascending{"a", "b", "A.txt", "c.txt", "_x.txt"};
        QCOMPARE(Captions(files), ascending);
        files->ClickColumn(1); // another column: the mark moves, the direction stays
        QCOMPARE(files->SortIndex(), 1);
        QVERIFY(files->SortASC());
        QCOMPARE(files->Header()->sortIndicatorSection(), 1);
        QCOMPARE(Captions(files), ascending);
        files->ClickColumn(1); // the same column again: reversed, files then come first
        QVERIFY(!files->SortASC());
        QCOMPARE(files->Header()->sortIndicatorOrder(), Qt::DescendingOrder);
        QStringList descending = ascending;
        std::reverse(descending.begin(), descending.end());
        QCOMPARE(Captions(files), descending);
        files->ClickColumn(0);
        QVERIFY(!files->SortASC());
        // Every view style shows the same rows, paints them and keeps the selection.
        files->SetSelected(RowOf(files, "b"), true);
        w.resize(900, 600);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (const char* style : {"actIcons", "actTiles", "actList", "actDetails"}) {
            w.Action(style)->trigger();
            QCOMPARE(Captions(files), descending);
            QCOMPARE(files->SelectedRows(), std::vector<int>{RowOf(files, "b")});
            QVERIFY(!files->Current()->viewport()->grab().isNull());
        }

        // Ctrl+click in the Icons style takes a row out of a whole-row selection.
        w.Action("actIcons")->trigger();
        files->SelectAll();
        QListView* icons = files->List();
        const QModelIndex b = icons->model()->index(RowOf(files, "b"), 0);
        QTest::mouseClick(icons->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          icons->visualRect(b).center());
        QCOMPARE(files->SelectedCount(), files->RowCount() - 1);
        QVERIFY(!Captions(files).isEmpty());
        for (int row : files->SelectedRows()) QVERIFY(files->CaptionAt(row) != "b");
    }

    void redUnlessLocalAndIdle() {
        TExFile e;
        e.Path = "\\f.txt";
        struct Case {
            const char* location;
            uint8_t state;
            bool red;
        } cases[] = {{"Local", fsNone, false},
                     {"Mail", fsNone, true},
                     {"Local", fsDownloading, true}, // in the cache and being downloaded
                     {"Local", fsSending, true},
                     {"Mail", fsDeleting, true}};
        for (const Case& c : cases) {
            e.State = c.state;
            TFileRow row;
            row.Caption = "f.txt";
            row.Location = c.location;
            row.Data = &e;
            const TExItem item = TFileListAdapter::MakeItem(row);
            QCOMPARE(item.red, c.red);
            TExItemModel model({"Name"}, {});
            model.SetItems({item});
            const QVariant colour = model.data(model.index(0, 0), Qt::ForegroundRole);
            QCOMPARE(colour.isValid() && colour.value<QColor>() == QColor(255, 77, 77), c.red);
        }
    }

    void detailsPaneFollowsTheSelection() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        OpenBoxWith(w, {"\\docs\\", "\\a.bin|2048", "\\b.bin|1024"});
        TExListView* files = w.FilesView();
        TDetailsPane* pane = w.DetailsPane();
        files->ClearSelection();
        QCOMPARE(pane->Lines(), (QStringList{"Details", "0 items selected"}));
        files->SetSelected(RowOf(files, "a.bin"), true);
        files->SetSelected(RowOf(files, "b.bin"), true);
        QCOMPARE(pane->Lines(), (QStringList{"Details", "2 items selected",
                                             "Total File Size: " + Q(SizeToText(3072))}));
        files->ClearSelection();
        files->SetSelected(RowOf(files, "docs"), true);
        const QStringList folder = pane->Lines();
        QCOMPARE(folder.size(), 5); // no size line for a folder
        QCOMPARE(folder.mid(0, 3), (QStringList{"Details", "docs", "File Folder"}));
        QVERIFY(folder[3].startsWith("Date Modified: "));
        QCOMPARE(folder[4], TDetailsPane::DateText(46366.75));
        files->ClearSelection();
        files->SetSelected(RowOf(files, "a.bin"), true);
        QCOMPARE(pane->Lines().last(), "Size: " + Q(SizeToText(2048)));
        pane->resize(200, 200);
        pane->grab(); // paints without a fault
    }

    void addressBoxAndHistory() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        TMailFolder& box = OpenBoxWith(w, {"\\2008\\", "\\2008\\June\\", "\\other\\"});
        QComboBox* address = w.AddressBox();
        QCOMPARE(address->count(), 3); // the current folder, then one per subfolder
        QCOMPARE(address->itemText(0), QString("Box"));
        QCOMPARE(address->itemText(1), QString("Box\\2008"));
        auto go = [&](const QString& text) {
            address->setEditText(text);
            QTest::keyClick(address->lineEdit(), Qt::Key_Return);
            QCoreApplication::processEvents();
        };
        go("Photos\\2008\\"); // the alias is whatever stands before the first backslash
        QCOMPARE(box.CurrentPath, std::string("\\2008\\"));
        QCOMPARE(address->currentText(), QString("Box\\2008"));
        QCOMPARE(Captions(w.FilesView()), QStringList{"June"});
        go("Box\\nowhere"); // unknown: nothing changes, the typed text stays
        QCOMPARE(box.CurrentPath, std::string("\\2008\\"));
        QCOMPARE(address->currentText(), QString("Box\\nowhere"));
        go("anything"); // no backslash: the root
        QCOMPARE(box.CurrentPath, std::string("\\"));
        QVERIFY(box.BackHistory.empty()); // the address box does not touch the history

        // Enter a folder, Back enables Forward, entering another disables it again.
        w.FilesView()->SetSelected(RowOf(w.FilesView(), "2008"), true);
        QTest::keyClick(w.FilesView()->Current(), Qt::Key_Return);
        QCOMPARE(box.CurrentPath, std::string("\\2008\\"));
        w.IdleUpdate();
        w.Action("actBack")->trigger();
        QCOMPARE(box.CurrentPath, std::string("\\"));
        w.IdleUpdate();
        QVERIFY(w.Action("actFoward")->isEnabled());
        w.FilesView()->ClearSelection();
        w.FilesView()->SetSelected(RowOf(w.FilesView(), "other"), true);
        w.IdleUpdate();
        w.Action("actEnter")->trigger();
        w.IdleUpdate();
        QVERIFY(!w.Action("actFoward")->isEnabled());
        w.show(); // shortcuts act in an active window
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.FilesView()->Current()->setFocus();
        w.IdleUpdate();
        QTest::keyClick(w.FilesView()->Current(), Qt::Key_Backspace); // up
        QCOMPARE(box.CurrentPath, std::string("\\"));
    }

    void openRules() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        TMailFolder& first = OpenBoxWith(w, {"\\a.txt"});
        TMailFolder& second = AddBox(w, "Second");
        Fill(second, {"\\b.txt"});
        QClipboard* clip = QApplication::clipboard();

        // The open mailbox again: nothing happens, but text on the clipboard goes.
        clip->setText("hello");
        SelectMailbox(w, 0);
        w.OpenMailbox();
        QVERIFY(!clip->mimeData() || !clip->mimeData()->hasText());
        QCOMPARE(w.Folders().CurrentFolder, &first);

        // Busy: the error, nothing changes; an ordinary file list stays on the clipboard.
        clip->setMimeData(TClipboardFiles::Make({"/tmp/x.txt"}));
        first.Ops.Add(opRefresh, "", -1, "");
        SelectMailbox(w, 1);
        w.OpenMailbox();
        QCOMPARE(prompt.shown.size(), size_t(1));
        QCOMPARE(prompt.shown[0].text,
                 std::string("The current mail box is busy now, try opening this mail box later.\n\n"
                             "You need wait until it submits all the pending operations."));
        QCOMPARE(prompt.shown[0].flags, mb::OK | mb::IconStop);
        QCOMPARE(w.Folders().CurrentFolder, &first);
        QCOMPARE(TClipboardFiles::Read(clip->mimeData()), std::vector<std::string>{"/tmp/x.txt"});
        first.Ops.Clear();

        // Placeholders are cleared; the other mailbox opens at once (read before).
        clip->setMimeData(TClipboardFiles::Make({"*\\a.txt"}));
        w.SearchView()->Model()->SetItems({TExItem{}});
        w.OpenMailbox();
        QVERIFY(TClipboardFiles::Read(clip->mimeData()).empty());
        QCOMPARE(w.Folders().CurrentFolder, &second);
        QCOMPARE(w.SearchView()->RowCount(), 0); // the results went
        QCOMPARE(Captions(w.FilesView()), QStringList{"b.txt"});
        QCOMPARE(w.MailsView()->item(1)->data(Qt::UserRole).toInt(), 1);
        QCOMPARE(w.MailsView()->item(0)->data(Qt::UserRole).toInt(), 0);

        // Not read yet: a refresh is queued, the open mailbox stays until it is done.
        TMailFolder& third = AddBox(w, "Third", false);
        SelectMailbox(w, 2);
        w.OpenMailbox();
        QCOMPARE(w.Folders().CurrentFolder, &second);
        QCOMPARE(third.Ops.Count(), 1);
        QCOMPARE(third.Ops.Get(0).Kind, opRefresh);
        third.Ops.Clear();
    }

    void deleteMailbox() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        TMailFolder& box = OpenBoxWith(w, {"\\a.txt"});
        box.Ops.Add(opRefresh, "", -1, "");
        SelectMailbox(w, 0);
        w.Action("actMailsDel")->trigger();
        QCOMPARE(prompt.shown.size(), size_t(1));
        QCOMPARE(prompt.shown[0].text, std::string("There are pending operations of the selected mail box."));
        QCOMPARE(prompt.shown[0].caption, std::string("Can't delete right now"));
        QCOMPARE(w.Folders().Count(), 1);
        box.Ops.Clear();

        prompt.answers = {id::No, id::Yes};
        w.Action("actMailsDel")->trigger();
        QCOMPARE(prompt.shown[1].text,
                 std::string("Are you sure to delete this mail box: Box.\n\nAll file/folder "
                             "structure will be kept in your mail box if you delete."));
        QCOMPARE(prompt.shown[1].caption, std::string("Warning"));
        QCOMPARE(w.Folders().Count(), 1); // No keeps it
        w.Action("actMailsDel")->trigger();
        QCOMPARE(w.Folders().Count(), 0);
        // It was the open one: the window has no open mailbox now.
        QVERIFY(!w.Folders().CurrentFolder);
        QCOMPARE(w.FilesView()->RowCount(), 0);
        QCOMPARE(w.MailsView()->count(), 0);
        w.IdleUpdate();
        QCOMPARE(w.PanelText(3), QString("Current Mail: Open a mail box first"));
    }

    void searchFindsByPartOfTheName() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        TMailFolder& box = OpenBoxWith(w, {"\\Reports\\", "\\Reports\\Q3 Report.doc|3000",
                                           "\\x*.doc", "\\a.doc", "\\deep\\in\\report"});
        IniFile().WriteString("General", "LastSearch", "earlier");
        WhenModal([](QWidget* d) {
            auto* dialog = qobject_cast<TFmNewName*>(d);
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QString("Search"));
            QCOMPARE(dialog->Text(), QString("earlier")); // the last search is offered
            dialog->SetText("report");
            QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
        });
        w.Action("actSearch")->trigger();
        QVERIFY(w.SearchPanel()->isVisible() || !w.isVisible());
        QVERIFY(w.Action("actViewSearch")->isChecked());
        QVERIFY(w.StopButton()->isHidden());
        QVERIFY(!w.Searching());
        QCOMPARE(IniFile().ReadString("General", "LastSearch", ""), std::string("report"));
        TExListView* results = w.SearchView();
        QCOMPARE(Captions(results), (QStringList{"Reports", "Q3 Report.doc", "report"}));
        const TExItem& folder = results->ItemAt(0);
        QCOMPARE(folder.texts, (QStringList{"Reports", "Box", "", "File Folder",
                                            Q(DateTimeDisplayText(FloatToText(46366.75)))}));
        QCOMPARE(results->ItemAt(1).texts.mid(1, 2), (QStringList{"Box\\Reports", Q(SizeToText(3000))}));
        QCOMPARE(results->ItemAt(2).texts[1], QString("Box\\deep\\in"));

        // A search started while one runs: the first ends, its rows do not join the second's.
        QTimer::singleShot(0, [&] { w.RunSearch("x*"); });
        w.RunSearch("o");
        QCOMPARE(Captions(results), QStringList{"x*.doc"});

        w.RunSearch("*.doc"); // no wildcards: exactly those characters
        QCOMPARE(Captions(results), QStringList{"x*.doc"});

        // Open Containing Folder: a folder result lists its parent, a file its folder.
        w.RunSearch("report");
        results->SetSelected(RowOf(results, "Reports"), true);
        w.IdleUpdate();
        w.Action("actOpenFolder")->trigger();
        QCOMPARE(box.CurrentPath, std::string("\\"));
        results->ClearSelection();
        results->SetSelected(RowOf(results, "Q3 Report.doc"), true);
        w.IdleUpdate();
        w.Action("actOpenFolder")->trigger();
        QCOMPARE(box.CurrentPath, std::string("\\Reports\\"));
        QVERIFY(box.BackHistory.empty());

        // A refresh rebuilt the table: a stale result finds nothing and changes nothing.
        box.Files.Clear();
        Fill(box, {"\\other\\"});
        results->ClearSelection();
        results->SetSelected(RowOf(results, "report"), true);
        w.IdleUpdate();
        w.Action("actOpenFolder")->trigger();
        QCOMPARE(box.CurrentPath, std::string("\\Reports\\"));
        results->setFocus();
        w.Action("actProperties")->trigger(); // nothing to show, no fault
    }

    void stopSearchKeepsWhatWasFound() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        TMailFolder& box = AddBox(w, "Big");
        for (int i = 0; i < 3000; ++i) {
            TExFile f;
            f.Path = "\\file" + std::to_string(i) + ".txt";
            f.Size = 1;
            box.Files.Add(f);
        }
        SelectMailbox(w, 0);
        w.OpenMailbox();
        w.IdleUpdate();
        int turns = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] {
            if (++turns == 3) QTest::mouseClick(w.StopButton(), Qt::LeftButton);
        });
        ticker.start(1);
        WhenModal([](QWidget* d) {
            auto* dialog = qobject_cast<TFmNewName*>(d);
            dialog->SetText("file");
            QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
        });
        w.show();
        w.Action("actSearch")->trigger();
        ticker.stop();
        QVERIFY(!w.Searching());
        QVERIFY(w.StopButton()->isHidden());
        const int found = w.SearchView()->RowCount();
        QVERIFY2(found > 0 && found < 3000, qPrintable(QString::number(found)));
    }

    void pasteSkipsWhatCannotBeStored() {
        // A name a stored entry cannot hold and a file that is gone: each gets an error
        // naming it, the rest of the list is stored.
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        TMailFolder& box = OpenBoxWith(w, {"\\docs\\"});
        for (const char* name : {"good.txt", "bad?.txt"}) {
            QFile f(home->Path(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("x");
        }
        const std::string gone = S(home->Path("gone.txt"));
        QApplication::clipboard()->setMimeData(TClipboardFiles::Make(
            {S(home->Path("bad?.txt")), gone, S(home->Path("good.txt"))}));
        w.IdleUpdate();
        w.Action("actPaste")->trigger();
        QCOMPARE(prompt.shown.size(), size_t(2));
        QVERIFY(prompt.shown[0].text.find("bad?.txt") != std::string::npos);
        QVERIFY(prompt.shown[1].text.find(gone) != std::string::npos);
        QCOMPARE(box.Ops.Count(), 1);
        QVERIFY(box.Files.IndexOf("\\good.txt") >= 0);
        QCOMPARE(Captions(w.FilesView()), (QStringList{"docs", "good.txt"}));
        box.Ops.Clear();
    }

    void iconsAndTypeNamesByName() {
        QCOMPARE(TExImageList::FileTypeName("Folder\\"), QString("File Folder"));
        QCOMPARE(TExImageList::FileTypeName("x", true), QString("File Folder"));
        QVERIFY(!TExImageList::FileTypeName("report.txt").isEmpty()); // the file need not exist
        QVERIFY(!TExImageList::IconOf("report.doc").isNull());
        QVERIFY(!TExImageList::IconOf("noextension").isNull());
        TExImageList::FolderIcon();
        const int lookups = TExImageList::FolderLookups();
        TExImageList::IconOf("a\\");
        TExImageList::IconOf("b", true);
        QCOMPARE(TExImageList::FolderLookups(), lookups); // looked up once per run
        QCOMPARE(lookups, 1);
    }

private:
    std::unique_ptr<TUiHome> home;
};

QTEST_MAIN(ExplorerTest)
#include "ExplorerTest.moc"
