// The window against the local mail servers: a mailbox added through its properties
// dialog, opened, a local folder pasted in, downloaded, a folder made, searched, a file
// deleted, and a second start that lists the same tree from the server.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>

#include "ClipboardFiles.h"
#include "ExListView.h"
#include "FmMailProp.h"
#include "FmNewName.h"
#include "FmPondra.h"
#include "MailFolders.h"
#include "MailServers.h"
#include "MaildirWrite.h"
#include "ScriptedPrompt.h"
#include "UiFixture.h"
#include "UiText.h"

namespace {
constexpr int kWaitMs = 60000;

QStringList Sorted(QStringList names) {
    names.sort();
    return names;
}
const TExItem* Row(const TExListView* view, const QString& caption) {
    for (int r = 0; r < view->RowCount(); ++r)
        if (view->CaptionAt(r) == caption) return &view->ItemAt(r);
    return nullptr;
}
void Select(TFmPondra& w, std::initializer_list<QString> captions) {
    TExListView* files = w.FilesView();
    files->ClearSelection();
    for (int r = 0; r < files->RowCount(); ++r)
        for (const QString& c : captions)
            if (files->CaptionAt(r) == c) files->SetSelected(r, true);
    w.IdleUpdate();
}
QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
void OpenFirstMailbox(TFmPondra& w) {
    w.RefreshMailboxList();
    w.MailsView()->item(0)->setSelected(true);
    w.IdleUpdate();
    w.Action("actMailsOpen")->trigger();
}
} // namespace

class WindowMailTest : public QObject {
    Q_OBJECT
private slots:
    void wholeJobInTheWindow() {
        const TestServers* s = LoadTestServers();
        if (!s) QSKIP(TestServersProblem().c_str());
        ClearMailbox(s->maildir1);
        // Someone else's mail in the inbox is no stored file: it lists as nothing.
        QVERIFY(DeliverToMaildir(s->maildir1, "1700000000.M1P1.tavrel-test",
                                 "From: someone@example.org\r\nTo: " + s->acc1.address +
                                     "\r\nSubject: Lunch on Friday?\r\n\r\nHello\r\n"));
        TUiHome home;
        TScriptedPrompt prompt;
        prompt.answers = {id::Yes};
        const QString source = home.Path("album");
        QDir().mkpath(source);
        QByteArray big(2600 * 1024, '\0'); // three parts of at most 1 MiB
        for (char& c : big) c = static_cast<char>(QRandomGenerator::global()->generate());
        const QByteArray small("a few words\n");
        for (auto [name, bytes] : {std::pair{"a.bin", big}, std::pair{"b.txt", small}}) {
            QFile f(source + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }
        {
            TFmPondra w({true, &prompt});
            w.show();
            // Add, through the properties dialog.
            WhenModal([s](QWidget* d) {
                auto* dialog = qobject_cast<TFmMailProp*>(d);
                QVERIFY(dialog);
                dialog->edtName->setText("Mail");
                dialog->edtAddr->setText(Q(s->acc1.address));
                dialog->edtPopServer->setText(Q(s->host));
                dialog->edtSMTPServer->setText(Q(s->host));
                dialog->edtAccount->setText(Q(s->acc1.user));
                dialog->edtPassword->setText(Q(s->acc1.pass));
                dialog->edtMailBox->setText("100");
                dialog->edtAttach->setText("1");
                dialog->edtSMTPPort->setText(QString::number(s->smtpPort));
                dialog->edtPOPPort->setText(QString::number(s->pop3Port));
                QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
            });
            w.Action("actMailsAdd")->trigger();
            QCOMPARE(w.Folders().Count(), 1);
            TMailFolder& box = w.Folders().Items(0);

            // Open: the structure is read first.
            OpenFirstMailbox(w);
            QTRY_COMPARE_WITH_TIMEOUT(w.Folders().CurrentFolder, &box, kWaitMs);
            QCOMPARE(w.MailsView()->item(0)->data(Qt::UserRole).toInt(), 1);
            QCOMPARE(w.FilesView()->RowCount(), 0);
            QCOMPARE(box.Files.Count(), 0);

            // Paste the local folder: stored, red until it is in the cache.
            QApplication::clipboard()->setMimeData(TClipboardFiles::Make({S(source)}));
            w.IdleUpdate();
            QVERIFY(w.Action("actPaste")->isEnabled());
            w.Action("actPaste")->trigger();
            QVERIFY(w.PendingCount() > 0);
            QTRY_COMPARE_WITH_TIMEOUT(w.PendingCount(), 0, kWaitMs);
            QVERIFY(prompt.shown.empty());
            w.ListCurrent();
            QCOMPARE(Sorted(Captions(w.FilesView())), QStringList{"album"});
            Select(w, {"album"});
            w.Action("actEnter")->trigger();
            QCOMPARE(Sorted(Captions(w.FilesView())), (QStringList{"a.bin", "b.txt"}));
            QVERIFY(Row(w.FilesView(), "a.bin")->red);
            QCOMPARE(Row(w.FilesView(), "a.bin")->texts[4], QString("Mail"));

            // Download: black and "Local", the cache holds the source's bytes.
            Select(w, {"a.bin", "b.txt"});
            w.Action("actDownload")->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(w.PendingCount(), 0, kWaitMs);
            w.ListCurrent();
            for (const char* name : {"a.bin", "b.txt"}) {
                const TExItem* item = Row(w.FilesView(), name);
                QVERIFY(item);
                QVERIFY(!item->red);
                QCOMPARE(item->texts[4], QString("Local"));
            }
            QCOMPARE(ReadAll(Q(box.LocalDir()) + "a.bin"), big);
            QCOMPARE(ReadAll(Q(box.LocalDir()) + "b.txt"), small);

            // New Folder at the root, then search.
            w.Action("actUp")->trigger();
            w.FilesView()->ClearSelection();
            w.IdleUpdate();
            WhenModal([](QWidget* d) {
                auto* dialog = qobject_cast<TFmNewName*>(d);
                QVERIFY(dialog);
                dialog->SetText("fresh");
                QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
            });
            w.Action("actNewFolder")->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(w.PendingCount(), 0, kWaitMs);
            w.ListCurrent();
            QCOMPARE(Sorted(Captions(w.FilesView())), (QStringList{"album", "fresh"}));
            w.RunSearch(".BIN");
            QCOMPARE(w.SearchView()->RowCount(), 1);
            QCOMPARE(w.SearchView()->ItemAt(0).texts[1], QString("Mail\\album"));

            // Delete b.txt (the question is answered Yes).
            w.ListCurrent("\\album\\");
            Select(w, {"b.txt"});
            w.Action("actDelete")->trigger();
            QCOMPARE(prompt.shown.size(), size_t(1));
            QTRY_COMPARE_WITH_TIMEOUT(w.PendingCount(), 0, kWaitMs);
            w.ListCurrent();
            QCOMPARE(Sorted(Captions(w.FilesView())), QStringList{"a.bin"});
        }
        // A second start reads the same tree from the server.
        TFmPondra again({true, &prompt});
        QCOMPARE(again.Folders().Count(), 1);
        OpenFirstMailbox(again);
        QTRY_VERIFY_WITH_TIMEOUT(again.Folders().CurrentFolder != nullptr, kWaitMs);
        QCOMPARE(Sorted(Captions(again.FilesView())), (QStringList{"album", "fresh"}));
        again.ListCurrent("\\album\\");
        QCOMPARE(Sorted(Captions(again.FilesView())), QStringList{"a.bin"});
        QCOMPARE(again.Folders().Items(0).Files.Items(again.Folders().Items(0).Files.IndexOf("\\album\\a.bin")).Size,
                 uint32_t(big.size()));
    }

    void wrongPasswordIsAskedForAgain() {
        // The stored password is wrong: the worker's login error asks whether to enter it
        // again, the password entry is the window's own name dialog in password mode, and
        // with the right password the work goes on.
        const TestServers* s = LoadTestServers();
        if (!s) QSKIP(TestServersProblem().c_str());
        ClearMailbox(s->maildir1);
        TUiHome home;
        TFmPondra w({true, nullptr}); // the real message boxes and entries
        auto owned = std::make_unique<TMailFolder>(&w.Folders());
        owned->Alias = "Mail";
        owned->Address = s->acc1.address;
        owned->SmtpServer = owned->PopServer = s->host;
        owned->SmtpPort = s->smtpPort;
        owned->PopPort = s->pop3Port;
        owned->Account = s->acc1.user;
        owned->Password = "wrong";
        TMailFolder& box = w.Folders().Append(std::move(owned));
        QString question, entryTitle;
        bool passwordMode = false;
        WhenModal([&](QWidget* d) {
            auto* box = qobject_cast<QMessageBox*>(d);
            QVERIFY(box);
            question = box->windowTitle() + ": " + box->text();
            WhenModal([&](QWidget* e) {
                auto* entry = qobject_cast<TFmNewName*>(e);
                QVERIFY(entry);
                entryTitle = entry->windowTitle();
                passwordMode = entry->Edit()->echoMode() == QLineEdit::Password;
                entry->SetText(Q(s->acc1.pass));
                QTest::mouseClick(entry->OkButton(), Qt::LeftButton);
            });
            QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
        });
        OpenFirstMailbox(w);
        QTRY_COMPARE_WITH_TIMEOUT(w.Folders().CurrentFolder, &box, kWaitMs);
        QVERIFY2(question.startsWith("Login Error: ERR: "), qPrintable(question));
        QCOMPARE(entryTitle, QString("Enter Password"));
        QVERIFY(passwordMode);
        QCOMPARE(box.Password, s->acc1.pass); // kept for the rest of the run
    }

    void refreshThatFailsLeavesTheMailboxClosed() {
        // Nobody listens on the mailbox's port: every attempt of the structure refresh
        // fails, the error is shown, the mailbox stays closed (image 0) with an empty queue.
        TUiHome home;
        TScriptedPrompt prompt;
        TFmPondra w({true, &prompt, [](TEngineConfig& c) {
                         c.RetryDelayUnitMs = 1;
                         c.ConnectTimeoutMs = 2000;
                     }});
        auto owned = std::make_unique<TMailFolder>(&w.Folders());
        owned->Alias = "Down";
        owned->SmtpServer = owned->PopServer = "127.0.0.1";
        owned->SmtpPort = owned->PopPort = 1;
        TMailFolder& box = w.Folders().Append(std::move(owned));
        OpenFirstMailbox(w);
        QTRY_COMPARE_WITH_TIMEOUT(box.Ops.Count(), 0, kWaitMs);
        QTest::qWait(50);
        QVERIFY(!w.Folders().CurrentFolder);
        QVERIFY(!box.Opened);
        QCOMPARE(w.MailsView()->item(0)->data(Qt::UserRole).toInt(), 0);
        QCOMPARE(w.FilesView()->RowCount(), 0);
        QVERIFY(!prompt.shown.empty()); // the failure was told: the login questions, then
        // one error box, not modal, with the operation and its reason
        auto* failures = w.findChild<QMessageBox*>("msgFailures");
        QVERIFY(failures);
        QTRY_VERIFY_WITH_TIMEOUT(failures->isVisible(), kWaitMs);
        QVERIFY(!failures->isModal());
        QVERIFY(failures->text().startsWith("This did not succeed:"));
        QVERIFY(failures->text().contains("Read the folder structure of Down: Socket Error # 10061"));
        QCOMPARE(failures->icon(), QMessageBox::Critical);
        failures->close();
        w.IdleUpdate();
        QCOMPARE(w.PanelText(3), QString("Current Mail: Open a mail box first"));
    }
};

QTEST_MAIN(WindowMailTest)
#include "WindowMailTest.moc"
