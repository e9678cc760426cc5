// The main window without a worker: command states, status panels, progress, the
// pending-operations list, the layout in Tavrel.ini, the start-up password and quitting.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QDialog>
#include <QDragEnterEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QUrl>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "BoxMount.h"
#include "ClipboardFiles.h"
#include "FileUrls.h"
#include "DetailsPane.h"
#include "ExSortProxy.h"
#include "ExListView.h"
#include "ExSysTray.h"
#include "FmNewName.h"
#include "FmPondra.h"
#include "MailFolders.h"
#include "ScriptedPrompt.h"
#include "UiFixture.h"
#include "UiText.h"
#include "Wait.h"

namespace {
// Whether the kernel's mount table lists `path` as a mount point.
bool IsMounted(const std::string& path) {
    std::ifstream mounts("/proc/self/mounts");
    std::string device, point, rest;
    while (mounts >> device >> point && std::getline(mounts, rest))
        if (point == path) return true;
    return false;
}

QStringList IniKeysInOrder(const QString& file) {
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    QStringList keys;
    for (const QByteArray& line : f.readAll().split('\n')) {
        QString l = QString::fromUtf8(line).trimmed();
        if (l.startsWith('['))
            keys << l;
        else if (l.contains('='))
            keys << l.left(l.indexOf('='));
    }
    return keys;
}


TMailFolder& AddBox(TMailFolders& folders, const std::string& alias) {
    auto box = std::make_unique<TMailFolder>(&folders);
    box->Alias = alias;
    return folders.Append(std::move(box));
}

// A mailbox whose structure was read before, holding these entries (folders end with
// "\\"), opened in the window through its command.
TMailFolder& OpenBoxWith(TFmPondra& w, std::initializer_list<const char*> paths) {
    TMailFolder& box = AddBox(w.Folders(), "Box");
    box.Opened = true;
    for (const char* path : paths) {
        TExFile f;
        f.Path = path;
        f.IsFolder = f.Path.back() == '\\';
        f.Size = f.IsFolder ? 0 : 10;
        box.Files.Add(f);
    }
    w.RefreshMailboxList();
    w.MailsView()->item(w.Folders().Count() - 1)->setSelected(true);
    w.IdleUpdate(); // commands follow the selection
    w.Action("actMailsOpen")->trigger();
    return box;
}
} // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        home = std::make_unique<TUiHome>();
        SetWaitHook([](int) {});
    }
    void cleanup() {
        SetWaitHook({});
        home.reset();
    }

    void commandStatesWithNothingOpen() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        QApplication::clipboard()->clear();
        w.IdleUpdate();
        const QStringList enabled{"actQuit", "actMailsAdd", "actSelAll", "actViewAddr",
                                  "actViewSearch", "actTiles", "actIcons", "actList",
                                  "actDetails", "actViews", "actOptions", "actManual",
                                  "actGotoWeb", "actAbout", "actShow"};
        for (QAction* a : w.findChildren<QAction*>()) {
            if (!a->objectName().startsWith("act")) continue;
            QCOMPARE(QPair(a->objectName(), a->isEnabled()),
                     QPair(a->objectName(), enabled.contains(a->objectName())));
        }
        QCOMPARE(w.PanelText(3), QString("Current Mail: Open a mail box first"));
        QCOMPARE(w.PanelText(0), QString("Welcome to Tavrel, if you need help press F1 please."));
        QCOMPARE(w.PanelText(2), QString("Pending Operations: 0"));
    }

    void selectionAndClipboardRules() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        TMailFolder& box = AddBox(w.Folders(), "Box");
        w.Folders().CurrentFolder = &box;
        TExListView* files = w.FilesView();
        TExItem file, folder;
        file.texts = QStringList{"a.txt"};
        file.path = "\\a.txt";
        folder.texts = QStringList{"docs"};
        folder.path = "\\docs\\";
        folder.folder = true;
        files->Model()->SetItems({file, folder});
        QApplication::clipboard()->setMimeData(TClipboardFiles::Make({"/tmp/x.txt"}));
        w.IdleUpdate();
        QVERIFY(w.Action("actNewFolder")->isEnabled());
        QVERIFY(w.Action("actPaste")->isEnabled());
        QVERIFY(!w.Action("actUp")->isEnabled());
        QCOMPARE(w.PanelText(3), QString("Current Mail: Box"));

        files->SetSelected(RowOf(files, "a.txt"), true); // a file only: no New Folder, no Paste
        w.IdleUpdate();
        QVERIFY(!w.Action("actNewFolder")->isEnabled());
        QVERIFY(!w.Action("actPaste")->isEnabled());
        QVERIFY(w.Action("actDelete")->isEnabled());
        files->SetSelected(RowOf(files, "docs"), true); // a folder among them is a paste target
        w.IdleUpdate();
        QVERIFY(w.Action("actPaste")->isEnabled());

        // A placeholder of a file not yet fetched keeps Paste off.
        QApplication::clipboard()->setMimeData(TClipboardFiles::Make({"/tmp/x.txt", "*\\b.txt"}));
        w.IdleUpdate();
        QVERIFY(!w.Action("actPaste")->isEnabled());
        QApplication::clipboard()->clear();
    }

    void progressBar() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        QProgressBar* bar = w.ProgressBar();
        QVERIFY(bar->isHidden());
        struct Case {
            int position, maximum;
            bool shown;
            int value, min, max;
        };
        const Case cases[] = {
            {0, 0, false, 1, 1, 1},   // nothing to do: hidden
            {3, 10, true, 3, 1, 10},  // shown at 3 of 1..10
            {7, 10, true, 7, 1, 10},  // same maximum: only the position moves
            {2, 5, true, 2, 1, 5},    // a new maximum resets the bar
            {9, 5, true, 5, 1, 5},    // beyond the end: shown full
            {0, -1, false, 1, 1, 1},  // below 0: hidden again
        };
        for (const Case& c : cases) {
            w.OnProgress(nullptr, c.position, c.maximum);
            QCOMPARE(!bar->isHidden(), c.shown);
            if (!c.shown) continue;
            QCOMPARE(bar->value(), c.value);
            QCOMPARE(bar->minimum(), c.min);
            QCOMPARE(bar->maximum(), c.max);
        }
    }

    void pendingOperationsList() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        TMailFolder& a = AddBox(w.Folders(), "First");
        TMailFolder& b = AddBox(w.Folders(), "Second");
        a.Ops.Add(opSend, "\\", -1, "/tmp/a.txt");
        a.Ops.Add(opDownload, "\\docs\\", -1, "b.txt");
        b.Ops.Add(opDelete, "\\", -1, "c.txt");
        b.Ops.Add(9, "\\", -1, "odd");
        b.Ops.Add(opRefresh, "", -1, "");
        w.RefreshOpsView();
        w.IdleUpdate();
        QCOMPARE(w.PendingCount(), 5);
        QCOMPARE(w.PanelText(2), QString("Pending Operations: 5"));
        QTreeWidget* ops = w.OpsView();
        QVERIFY(ops->isHidden());
        QCOMPARE(ops->topLevelItemCount(), 5);
        const QStringList expected[] = {
            {"1", "First", "Send", "\\", "/tmp/a.txt"},
            {"2", "First", "Download", "\\docs\\", "b.txt"},
            {"3", "Second", "Delete", "\\", "c.txt"},
            {"4", "Second", "UnKnown", "\\", "odd"},
            {"5", "Second", "Refresh", "", ""},
        };
        for (int r = 0; r < 5; ++r)
            for (int c = 0; c < 5; ++c)
                QCOMPARE(ops->topLevelItem(r)->text(c), expected[r][c]);
        a.Ops.Clear();
        b.Ops.Clear();
    }

    void layoutFirstStartDefaults() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        QCOMPARE(w.property("layoutState").toInt(), 2); // maximised
        QCOMPARE(w.geometry(), QRect(290, 34, 852, 617)); // its restored bounds
        QVERIFY(w.Action("actViewAddr")->isChecked());
        QCOMPARE(w.ViewStyle(), 0);
        QVERIFY(w.Action("actIcons")->isChecked());
        QCOMPARE(w.FilesView()->SortIndex(), 0);
        QVERIFY(w.FilesView()->SortASC());
        for (int i = 0; i < 6; ++i) QCOMPARE(w.FilesView()->Header()->sectionSize(i), 100);
    }

    void layoutValuesRead() {
        QFile f(home->Path("Tavrel.ini"));
        f.open(QIODevice::WriteOnly);
        f.write("[IMAP]\nDomain=EXAMPLE.TEST\n[General]\nState=0\nLeft=10\nTop=20\nWidth=700\n"
                "Height=500\nAddrBar=0\nLeftBar=junk\n[lvFiles]\n0=250\n1=x\nStyle=7\nSortCol=9\n"
                "SortASC=0\n[lvSearch]\nSortCol=2\n");
        f.close();
        ReopenIniFile();
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        QCOMPARE(w.property("layoutState").toInt(), 0);
        QCOMPARE(w.geometry(), QRect(10, 20, 700, 500));
        QVERIFY(!w.Action("actViewAddr")->isChecked());
        QCOMPARE(w.ViewStyle(), 3); // any other number: Details
        QCOMPARE(w.FilesView()->SortIndex(), 0); // beyond the columns: the first
        QVERIFY(!w.FilesView()->SortASC());
        QCOMPARE(w.FilesView()->Header()->sectionSize(0), 250);
        QCOMPARE(w.FilesView()->Header()->sectionSize(1), 100); // not a number: default
        QCOMPARE(w.SearchView()->SortIndex(), 2);
    }

    void layoutWrittenInOrderBesideOtherSections() {
        {
            QFile f(home->Path("Tavrel.ini"));
            f.open(QIODevice::WriteOnly);
            f.write("[IMAP]\nDomain=EXAMPLE.TEST\n[TLS]\nVerifyPeer=0\n");
        }
        ReopenIniFile();
        {
            TScriptedPrompt prompt;
            TFmPondra w({false, &prompt});
        }
        QStringList keys = IniKeysInOrder(home->Path("Tavrel.ini"));
        const QStringList expected{"[IMAP]", "Domain", "[TLS]", "VerifyPeer", "[General]",
                                   "Left", "Top", "Width", "Height", "State", "LeftBar",
                                   "AddrBar", "[lvFiles]", "0", "1", "2", "3", "4", "5",
                                   "Style", "SortASC", "SortCol", "[lvSearch]", "0", "1", "2",
                                   "3", "4", "Style", "SortASC", "SortCol"};
        QCOMPARE(keys, expected);
        // And read back: a second start sees the same values.
        ReopenIniFile();
        TScriptedPrompt prompt;
        TFmPondra again({false, &prompt});
        QCOMPARE(again.ViewStyle(), 0);
    }

    void quitAsksWithPendingOperations() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        TMailFolder& box = AddBox(w.Folders(), "Box");
        for (int i = 0; i < 3; ++i) box.Ops.Add(opSend, "\\", -1, "/tmp/f");
        prompt.answers = {id::No};
        w.Action("actQuit")->trigger();
        QCOMPARE(prompt.shown.size(), size_t(1));
        QCOMPARE(prompt.shown[0].text, std::string("There are pending operations waiting to be "
                                                   "submitted.\nAre you sure to quit right now?"));
        QCOMPARE(prompt.shown[0].caption, std::string("Warning"));
        QCOMPARE(prompt.shown[0].flags, mb::YesNo | mb::IconQuestion | mb::DefButton2);
        box.Ops.Clear();
        w.Action("actQuit")->trigger();
        QCOMPARE(prompt.shown[1].text, std::string("Are you sure to quit right now?"));
    }

    void closeHidesWithMinimizeOnClose() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        w.Folders().Options->MinimizeOnClose = true;
        w.Folders().Options->ShowTrayIcon = false;
        w.show();
        QVERIFY(!w.close()); // never closes itself
        QVERIFY(prompt.shown.empty()); // no question
        QVERIFY(w.Tray()->Active());
        w.Action("actShow")->trigger();
        QVERIFY(w.isVisible());
        QVERIFY(!w.Tray()->Active()); // Show hides the icon again
    }

    void startupPasswordLoop() {
        {
            TFmPondra setup({false, nullptr});
            setup.Folders().Options->PasswordRequired = true;
            setup.Folders().Options->Password = "secret";
            setup.Folders().Save();
        }
        QFile::remove(home->Path("Tavrel.ini"));
        ReopenIniFile();
        // A wrong entry, then the right one with blanks around it.
        TScriptedPrompt prompt;
        QStringList typed{"wrong", "  secret  "};
        std::function<void(QWidget*)> answer = [&](QWidget* d) {
            auto* dialog = qobject_cast<TFmNewName*>(d);
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QString("Tavrel"));
            QCOMPARE(dialog->Edit()->echoMode(), QLineEdit::Password);
            dialog->SetText(typed.takeFirst());
            QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
            if (!typed.isEmpty()) WhenModal(answer, 50);
        };
        WhenModal(answer);
        TFmPondra w({false, &prompt});
        QVERIFY(!w.StartupCancelled());
        QCOMPARE(prompt.shown.size(), size_t(1));
        QCOMPARE(prompt.shown[0].text, std::string("Wrong password, please retry."));
        QCOMPARE(prompt.shown[0].flags, mb::OK | mb::IconStop);
    }

    void startupPasswordCancelLeavesIniAlone() {
        {
            TFmPondra setup({false, nullptr});
            setup.Folders().Options->PasswordRequired = true;
            setup.Folders().Save();
        }
        QFile f(home->Path("Tavrel.ini"));
        f.open(QIODevice::WriteOnly);
        f.write("[General]\nState=0\n");
        f.close();
        ReopenIniFile();
        WhenModal([](QWidget* d) { static_cast<QDialog*>(d)->reject(); });
        {
            TScriptedPrompt prompt;
            TFmPondra w({false, &prompt});
            QVERIFY(w.StartupCancelled());
        }
        QFile again(home->Path("Tavrel.ini"));
        again.open(QIODevice::ReadOnly);
        QCOMPARE(again.readAll(), QByteArray("[General]\nState=0\n"));
        QVERIFY(!QFile::exists(home->Path("MailRoot")));
    }

    void emptyPasswordStartsWhenNoneIsStored() {
        {
            TFmPondra setup({false, nullptr});
            setup.Folders().Options->PasswordRequired = true;
            setup.Folders().Save();
        }
        WhenModal([](QWidget* d) {
            auto* dialog = static_cast<TFmNewName*>(d);
            QVERIFY(dialog->OkButton()->isEnabled()); // forced on for the empty entry
            QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
        });
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        QVERIFY(!w.StartupCancelled());
        QVERIFY(prompt.shown.empty());
    }

    void browseAnOpenedMailbox() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        TMailFolder& box = OpenBoxWith(w, {"\\docs\\", "\\docs\\a.txt"});
        QCOMPARE(w.Folders().CurrentFolder, &box);
        TExListView* files = w.FilesView();
        QCOMPARE(Captions(files), QStringList{"docs"});
        QCOMPARE(w.MailsView()->item(0)->data(Qt::UserRole).toInt(), 1); // the open one

        files->SetSelected(0, true);
        w.IdleUpdate();
        w.Action("actEnter")->trigger();
        QCOMPARE(box.CurrentPath, std::string("\\docs\\"));
        QCOMPARE(Captions(files), QStringList{"a.txt"});
        QCOMPARE(w.findChild<QComboBox*>("cbbAddress")->currentText(), QString("Box\\docs"));
        w.IdleUpdate();
        QVERIFY(w.Action("actUp")->isEnabled());
        QVERIFY(w.Action("actBack")->isEnabled());
        w.Action("actUp")->trigger();
        QCOMPARE(box.CurrentPath, std::string("\\"));
        // A refresh is queued for the worker (none here): it shows as pending.
        w.Action("actRefresh")->trigger();
        QCOMPARE(w.PendingCount(), 1);
        box.Ops.Clear();
    }

    void fileCommands() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        TMailFolder& box =
            OpenBoxWith(w, {"\\d1\\", "\\d2\\", "\\a.txt", "\\b.txt", "\\c.txt"});
        QCOMPARE(w.FilesView()->RowCount(), 5);

        // New Folder: an existing name, then one that cannot be stored, then a new one.
        QStringList names{"d1", "x*y", "fresh"};
        std::function<void(QWidget*)> type = [&](QWidget* d) {
            auto* dialog = qobject_cast<TFmNewName*>(d);
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QString("New Folder"));
            dialog->SetText(names.takeFirst());
            QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
            if (!names.isEmpty()) WhenModal(type, 20);
        };
        WhenModal(type);
        w.IdleUpdate();
        w.Action("actNewFolder")->trigger();
        QCOMPARE(prompt.shown.size(), size_t(2));
        QCOMPARE(prompt.shown[0].text, std::string("The folder name you specified already exists."));
        QVERIFY(box.Files.IndexOf("\\fresh\\") >= 0);
        QVERIFY(box.Files.IndexOf("\\x*y\\") < 0);
        QCOMPARE(box.Ops.Count(), 1);
        box.Ops.Clear();
        box.Files.Delete(box.Files.IndexOf("\\fresh\\"));
        w.Action("actRefresh")->trigger(); // (queues a refresh; cleared below)
        box.Ops.Clear();

        // Delete five items: one question, Yes is the default, five deletions.
        w.ListCurrent();
        w.FilesView()->SelectAll();
        w.IdleUpdate();
        prompt.shown.clear();
        prompt.answers = {id::Yes};
        w.Action("actDelete")->trigger();
        QCOMPARE(prompt.shown.size(), size_t(1));
        QCOMPARE(prompt.shown[0].text,
                 std::string("Are you sure to remove the selected items from you email?\nThe "
                             "items will not be moved to Recycle Bin and will be deleted directly."));
        QCOMPARE(prompt.shown[0].flags, mb::YesNo | mb::IconQuestion);
        QCOMPARE(box.Ops.Count(), 5);
        QCOMPARE(w.OpsView()->topLevelItemCount(), 5);
        box.Ops.Clear();
        for (int i = 0; i < box.Files.Count(); ++i) box.Files.Items(i).State = fsNone;

        // Copy of entries not in the cache: placeholders, and notice 0 (suppressed here).
        IniFile().WriteBool("MsgBox", "0", true);
        w.ListCurrent();
        w.FilesView()->ClearSelection();
        w.FilesView()->SetSelected(RowOf(w.FilesView(), "a.txt"), true);
        w.FilesView()->SetSelected(RowOf(w.FilesView(), "d2"), true);
        w.IdleUpdate();
        w.Action("actCopy")->trigger();
        const std::vector<std::string> copied =
            TClipboardFiles::Read(QApplication::clipboard()->mimeData());
        // The empty folder counts as local (nothing below it is missing): its cache path.
        QCOMPARE(copied.size(), size_t(2));
        QCOMPARE(copied[0], box.LocalDir() + "d2");
        QCOMPARE(copied[1], std::string("*\\a.txt"));
        w.IdleUpdate();
        QVERIFY(!w.Action("actPaste")->isEnabled()); // placeholders are never pasted back
        QApplication::clipboard()->clear();
    }

    void dropsOntoTheFileList() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        TMailFolder& box = OpenBoxWith(w, {"\\d1\\", "\\f.txt"});
        w.resize(900, 600);
        w.show();
        QFile local(home->Path("local.txt"));
        local.open(QIODevice::WriteOnly);
        local.write("hello");
        local.close();
        const std::vector<std::string> names{S(home->Path("local.txt"))};
        auto row = [&](const QString& caption) { return RowOf(w.FilesView(), caption); };
        QVERIFY(!w.AcceptsDrop(row("f.txt"), names)); // onto a file: refused
        w.DropFiles(row("f.txt"), names);
        QCOMPARE(box.Ops.Count(), 0);
        QVERIFY(!w.AcceptsDrop(-1, {"*\\f.txt"})); // a placeholder of ours
        QVERIFY(w.AcceptsDrop(row("d1"), names));
        w.DropFiles(row("d1"), names); // onto a folder: into it
        QCOMPARE(box.Ops.Count(), 1);
        QCOMPARE(box.Ops.Get(0).Path, std::string("\\d1\\"));
        // Empty space, through the viewport's events as a real drag delivers them: the
        // current folder.
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(home->Path("local.txt"))});
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QWidget* viewport = w.FilesView()->Current()->viewport();
        const QPoint empty(viewport->width() - 5, viewport->height() - 5);
        QCOMPARE(w.FilesView()->RowAt(empty), -1);
        QDragEnterEvent enter(empty, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(empty), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(box.Ops.Count(), 2);
        QCOMPARE(box.Ops.Get(1).Path, std::string("\\"));
        box.Ops.Clear();
    }

    void dragOverSelectsTheTargetAndRefusesWhatCannotBeTaken() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        TMailFolder& box = OpenBoxWith(w, {"\\d1\\", "\\f.txt"});
        w.resize(900, 600);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QFile local(home->Path("in ü.txt"));
        local.open(QIODevice::WriteOnly);
        local.write("hello");
        local.close();
        TExListView* files = w.FilesView();
        QWidget* viewport = files->Current()->viewport();
        auto centre = [&](const QString& caption) {
            return files->Current()->visualRect(files->Proxy()->index(RowOf(files, caption), 0)).center();
        };
        auto selected = [&] {
            QStringList names;
            for (int row : files->SelectedRows()) names << files->CaptionAt(row);
            return names;
        };
        QMimeData data;
        data.setData("text/uri-list", FileUrls::UriList({S(home->Path("in ü.txt"))}));
        // Entering over a file still takes the drag: it may go on to a folder.
        QDragEnterEvent enter(centre("f.txt"), Qt::CopyAction | Qt::MoveAction, &data,
                              Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QVERIFY(enter.isAccepted());
        QCOMPARE(enter.dropAction(), Qt::CopyAction);
        QDragMoveEvent overFile(centre("f.txt"), Qt::CopyAction | Qt::MoveAction, &data,
                                Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &overFile);
        QVERIFY(!overFile.isAccepted());
        QCOMPARE(selected(), QStringList{"f.txt"}); // the item under the cursor shows
        QDragMoveEvent overFolder(centre("d1"), Qt::CopyAction | Qt::MoveAction, &data,
                                  Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &overFolder);
        QVERIFY(overFolder.isAccepted());
        QCOMPARE(overFolder.dropAction(), Qt::CopyAction); // never a move
        QCOMPARE(selected(), QStringList{"d1"});
        QDragLeaveEvent leave;
        QApplication::sendEvent(viewport, &leave);
        QVERIFY(selected().isEmpty());
        QDragEnterEvent again(centre("d1"), Qt::CopyAction | Qt::MoveAction, &data,
                              Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &again);
        QDropEvent drop(QPointF(centre("d1")), Qt::CopyAction | Qt::MoveAction, &data,
                        Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(drop.dropAction(), Qt::CopyAction);
        QCOMPARE(box.Ops.Count(), 1);
        QCOMPARE(box.Ops.Get(0).Path, std::string("\\d1\\"));
        QCOMPARE(box.Ops.Get(0).Name, S(home->Path("in ü.txt")));
        QVERIFY(QFileInfo::exists(home->Path("in ü.txt"))); // the source stays
        box.Ops.Clear();

        // Other URLs (even beside a file), plain text, our placeholders, a move-only drag:
        // no drop cursor anywhere, nothing queued.
        struct TCase {
            const char* what;
            QByteArray format, bytes;
            Qt::DropActions actions;
        };
        const TCase refused[] = {
            {"web URL", "text/uri-list", "https://example.org/x\r\n", Qt::CopyAction},
            {"file and web URL", "text/uri-list",
             FileUrls::UriList({S(home->Path("in ü.txt"))}) + "http://x/y\r\n", Qt::CopyAction},
            {"text", "text/plain", home->Path("in ü.txt").toUtf8(), Qt::CopyAction},
            {"placeholder", TClipboardFiles::PrivateType, "*\\f.txt\n", Qt::CopyAction},
            {"move only", "text/uri-list", FileUrls::UriList({S(home->Path("in ü.txt"))}),
             Qt::MoveAction},
        };
        for (const TCase& c : refused) {
            QMimeData bad;
            bad.setData(c.format, c.bytes);
            if (c.format == TClipboardFiles::PrivateType)
                bad.setData("text/uri-list", FileUrls::UriList({S(home->Path("in ü.txt"))}));
            for (const QString& at : {QString("d1"), QString()}) {
                const QPoint p = at.isEmpty() ? QPoint(viewport->width() - 5, viewport->height() - 5) : centre(at);
                QDragEnterEvent e(p, c.actions, &bad, Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(viewport, &e);
                QVERIFY2(!e.isAccepted(), c.what);
                QDropEvent d(QPointF(p), c.actions, &bad, Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(viewport, &d);
                QVERIFY2(!d.isAccepted(), c.what);
            }
        }
        QCOMPARE(box.Ops.Count(), 0);

        // With no mailbox open the list takes nothing; the search results never do.
        w.Folders().CurrentFolder = nullptr;
        QDragMoveEvent closed(QPoint(viewport->width() - 5, viewport->height() - 5), Qt::CopyAction,
                              &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &closed);
        QVERIFY(!closed.isAccepted());
        for (int style : {TExListView::vsIcon, TExListView::vsReport}) {
            w.SearchView()->SetViewStyle(style);
            for (QWidget* v : w.SearchView()->Views()) QVERIFY(!v->acceptDrops());
        }
        w.Folders().CurrentFolder = &box;
        // In the other view of lvFiles, the drop lands through the same rules.
        w.SetViewStyle(files->ViewStyle() == TExListView::vsReport ? TExListView::vsIcon
                                                                   : TExListView::vsReport);
        QWidget* icons = files->Current()->viewport();
        QVERIFY(icons != viewport && icons->acceptDrops());
        const QPoint space(icons->width() - 5, icons->height() - 5);
        QDragEnterEvent intoIcons(space, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(icons, &intoIcons);
        QDropEvent onIcon(QPointF(space), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(icons, &onIcon);
        QVERIFY(onIcon.isAccepted());
        QCOMPARE(box.Ops.Count(), 1);
        QCOMPARE(box.Ops.Get(0).Path, std::string("\\"));
        box.Ops.Clear();
    }

    void dragOutNamesAndTheNoticeAfterADrop() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        TMailFolder& box = OpenBoxWith(w, {"\\d1\\", "\\f.txt", "\\d2\\", "\\d2\\g.txt"});
        std::vector<std::string> names{"d1", "f.txt", "d2"};
        bool cancel = false;
        w.DragFiles(names, cancel);
        QVERIFY(!cancel);
        // The empty folder is local (nothing below it is missing): its cache path, which
        // now exists for the program that takes it. The others: placeholders.
        QCOMPARE(names, (std::vector<std::string>{box.LocalDir() + "d1", "*\\f.txt", "*\\d2\\"}));
        QVERIFY(QFileInfo(Q(box.LocalDir() + "d1")).isDir());
        QVERIFY(!w.DragAllLocal());
        QVERIFY(w.PanelText(0).contains("download them first"));

        // Notice 1 after a drop elsewhere, only when an entry was not local.
        QTimer::singleShot(3000, [] { // a notice that should not be there fails the test, not hang it
            if (QWidget* m = QApplication::activeModalWidget()) m->close();
        });
        names = {"d1"};
        w.DragFiles(names, cancel);
        QVERIFY(w.DragAllLocal());
        w.DragDropped();
        QVERIFY(!IniFile().ValueExists("MsgBox", "1"));
        names = {"f.txt"};
        w.DragFiles(names, cancel);
        bool shown = false;
        WhenModal([&](QWidget* m) {
            shown = true;
            m->close();
        });
        w.DragDropped();
        QVERIFY(shown);
        QVERIFY(IniFile().ValueExists("MsgBox", "1"));

        w.Folders().CurrentFolder = nullptr;
        w.DragFiles(names, cancel);
        QVERIFY(cancel);
    }

    void dragOutThroughTheMountOfTheOpenMailbox() {
        // With a runtime folder the open mailbox is mounted there: entries that are not
        // local are dragged out as their paths in the mount, which a reader opens (the
        // open waits for the download); the window's own drops and pastes refuse them.
        QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
        if (!TBoxMount::Unavailable().empty()) QSKIP(TBoxMount::Unavailable().c_str());
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        TMailFolder& box = OpenBoxWith(w, {"\\d1\\", "\\f.txt", "\\d2\\", "\\d2\\g.txt"});
        w.SyncMount();
        const std::string mp = w.MountedAt();
        QVERIFY2(!mp.empty(), w.MountUnavailable().c_str());
        QVERIFY(QString::fromStdString(mp).startsWith(runtime.path() + "/tavrel-"));
        QVERIFY(IsMounted(mp));

        std::vector<std::string> names{"d1", "f.txt", "d2"};
        bool cancel = false;
        w.DragFiles(names, cancel);
        QCOMPARE(names, (std::vector<std::string>{box.LocalDir() + "d1", mp + "/f.txt", mp + "/d2"}));
        QVERIFY(!w.DragAllLocal()); // the notice after a drop: the copy waits for downloads
        QVERIFY(!w.PanelText(0).contains("download them first"));
        // A stat there is served from the mount's table, so the window's thread may make one.
        QCOMPARE(QFileInfo(Q(mp + "/d2/g.txt")).size(), 10);

        // Names in the mount, and a link into it, are refused before any file call.
        const QString link = home->Path("link");
        QVERIFY(QFile::link(Q(mp + "/f.txt"), link));
        for (const std::string& n : {mp + "/f.txt", mp + "/d2/../f.txt", mp, S(link)})
            QVERIFY2(!w.AcceptsDrop(-1, {n}), n.c_str());
        QVERIFY(w.AcceptsDrop(-1, {S(home->Path("out.txt"))}));
        QApplication::clipboard()->setMimeData(TClipboardFiles::Make({mp + "/d2/g.txt"}));
        w.IdleUpdate();
        QVERIFY(w.Action("actPaste")->isEnabled());
        w.Action("actPaste")->trigger();
        QCOMPARE(box.Ops.Count(), 0);
        QVERIFY(w.PanelText(0).contains("mounted mailbox folder"));

        // A reader of an entry that is not local waits for its download (queued once); when
        // the mailbox closes meanwhile it gets an error, and the mount is gone.
        std::atomic<int> result{1};
        std::thread reader([&] {
            const int fd = ::open((mp + "/f.txt").c_str(), O_RDONLY);
            result = fd >= 0 ? 0 : -errno;
            if (fd >= 0) ::close(fd);
        });
        QTRY_COMPARE_WITH_TIMEOUT(box.Ops.Count(), 1, 5000);
        QCOMPARE(box.Ops.Get(0).Kind, opDownload);
        w.Folders().CurrentFolder = nullptr;
        w.SyncMount();
        QTRY_VERIFY_WITH_TIMEOUT(result != 1, 5000);
        reader.join();
        QCOMPARE(result.load(), -EIO);
        QVERIFY(w.MountedAt().empty());
        QVERIFY(!IsMounted(mp));
        QVERIFY(!QFileInfo::exists(Q(mp)));
        box.Ops.Clear();

        // Opened again: mounted again; a window without a runtime folder drags placeholders
        // and says why once.
        w.Folders().CurrentFolder = &box;
        w.SyncMount();
        QCOMPARE(w.MountedAt(), mp);
        qunsetenv("XDG_RUNTIME_DIR");
        TFmPondra plain({false, &prompt});
        TMailFolder& other = OpenBoxWith(plain, {"\\f.txt"});
        plain.SyncMount();
        QVERIFY(plain.MountedAt().empty());
        names = {"f.txt"};
        plain.DragFiles(names, cancel);
        QCOMPARE(names, std::vector<std::string>{"*\\f.txt"});
        QVERIFY(plain.PanelText(0).contains("no mounted folder: there is no runtime folder"));
        (void)other;
    }

    void dropNoticeQueuesOneDownloadPerPair() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        TMailFolder& box = OpenBoxWith(w, {"\\d\\", "\\d\\f.txt"});
        const QByteArray dest = home->Path("out").toUtf8();
        w.DropNotice("*\\d\\f.txt", dest);
        w.DropNotice("*\\D\\F.TXT", dest); // the same pair, in other case
        QCOMPARE(box.PendingDrags->Count(), 1);
        QCOMPARE(box.Ops.Count(), 1);
        QCOMPARE(box.Ops.Get(0).Ticket, box.PendingDrags->Item(0).Ticket);
        w.DropNotice("\\d\\f.txt", dest); // no placeholder: nothing queued
        QCOMPARE(box.Ops.Count(), 1);
        w.Folders().CurrentFolder = nullptr;
        w.DropNotice("*\\d\\f.txt", home->Path("other").toUtf8()); // nowhere to go
        QCOMPARE(box.PendingDrags->Count(), 1);
        box.PendingDrags->Clear();
        box.Ops.Clear();
    }

    void quitWhileTheWorkerIsBetweenAttempts() {
        // The worker finishes its operation while the window is freeing the collection: the
        // report must not reach the half-freed window.
        TScriptedPrompt prompt;
        auto w = std::make_unique<TFmPondra>(TFmPondra::TSettings{true, &prompt});
        auto box = std::make_unique<TMailFolder>(&w->Folders());
        box->Alias = "Down";
        box->PopServer = "127.0.0.1";
        box->PopPort = 1; // refused at once: the worker then waits before the next attempt
        TMailFolder& m = w->Folders().Append(std::move(box));
        m.Ops.Add(opGetSize, "", -1, "");
        QTest::qWait(300);
        w.reset(); // must not crash
        QVERIFY(!QFile::exists(home->Path("MailRoot")));
    }

    void helpContexts() {
        TScriptedPrompt prompt;
        TFmPondra w({false, &prompt});
        QList<QUrl> opened;
        auto saved = TFmPondra::OpenManual;
        TFmPondra::OpenManual = [&](const QUrl& u) { opened << u; };
        // Without a manual beside the program nothing opens; with one, the topic of the
        // focused control's first window with a help context.
        const bool hasManual = !TFmPondra::ManualFile().isEmpty();
        w.HandleHelp(w.FilesView());
        w.HandleHelp(nullptr); // the Manual command
        QDialog other(&w); // a dialog of its own without a context: the start page
        QLineEdit field(&other);
        w.HandleHelp(&field);
        TFmPondra::OpenManual = saved;
        if (!hasManual) {
            QVERIFY(opened.isEmpty());
            QSKIP("no manual beside the test program");
        }
        QCOMPARE(opened.size(), 3);
        QCOMPARE(opened[0].fragment(), QString("topic2"));
        QCOMPARE(opened[1].fragment(), QString("topic1"));
        QCOMPARE(opened[2].fragment(), QString("topic1"));
        QVERIFY(w.PanelText(0).isEmpty()); // cleared again after the loading text
    }

private:
    std::unique_ptr<TUiHome> home;
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
