// The mailbox properties dialog: its controls, the checks of OK, the key filters, the
// trimming of fields that are left, Use Defaults, the statistics with the pie, and the
// round trip through the model's runner.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <functional>

#include "FmMailProp.h"
#include "MailFolder.h"
#include "MailFolders.h"
#include "PieChart.h"
#include "ScriptedPrompt.h"
#include "UiFixture.h"
#include "UiText.h"

using TDataEdit = std::function<void(TMailPropDialog&)>;
using TDialogEdit = std::function<void(TFmMailProp&)>;
Q_DECLARE_METATYPE(TDataEdit)
Q_DECLARE_METATYPE(TDialogEdit)

namespace {
const QString NameError = "Please enter a valid folder name for this mail box.";
const QString AddressError = "Please enter a valid email address for this mail box.";
const QString TakenError = "A mail box with the name you specified already exists.";
const QString IntegerError = "Please enter an integer.";

// What the model fills in for an opened mailbox that passes every check.
TMailPropDialog Valid() {
    TMailPropDialog d;
    d.Caption = "Work properies";
    d.OtherAliases = {"Home", "Archive"};
    d.edtName = "Work";
    d.edtAddr = "me@example.com";
    d.edtPopServer = "pop.example.com";
    d.edtSMTPServer = "smtp.example.com";
    d.chkAuth = true;
    d.edtAccount = "me";
    d.edtPassword = "secret";
    d.edtMailBox = "1024";
    d.edtAttach = "10";
    d.edtSMTPPort = "25";
    d.edtPOPPort = "110";
    d.lblSize = "3 KB";
    d.lblSizeS = "4 KB";
    d.lblContains = "2 Files, 1 Folders";
    d.lblCreated = "Thursday,January,01,2009, 12:00:00 PM";
    d.pie = {{"Free", 75, 0x008000}, {"Occupied", 25, 0xFF0000}};
    return d;
}

// The values the dialog gives back, for comparing two of them in one go.
QStringList Edited(const TMailPropDialog& d) {
    QStringList v;
    for (const std::string* s : {&d.edtName, &d.edtAddr, &d.edtPopServer, &d.edtSMTPServer,
                                 &d.edtAccount, &d.edtPassword, &d.edtMailBox, &d.edtAttach,
                                 &d.edtSMTPPort, &d.edtPOPPort})
        v << Q(*s);
    for (bool b : {d.chkAuth, d.chkSMTPSSL, d.chkPOPSSL}) v << (b ? "checked" : "unchecked");
    return v;
}

[[nodiscard]] bool ShowActive(QWidget& w) {
    w.show();
    return QTest::qWaitForWindowActive(&w);
}

QString CurrentPage(const TFmMailProp& d) { return d.pages->tabText(d.pages->currentIndex()); }

int PageOf(const TFmMailProp& d, const QWidget* w) {
    for (int i = 0; i < d.pages->count(); ++i)
        if (d.pages->widget(i)->isAncestorOf(w)) return i;
    return -1;
}

// The caption the user reads for a control: a button's own text or its buddy label's.
QString CaptionOf(const TFmMailProp& d, QWidget* w) {
    if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
    QString caption;
    for (QLabel* label : d.findChildren<QLabel*>())
        if (label->buddy() == w) caption += label->text();
    return caption;
}

QString HeadingOf(QWidget* w) {
    for (QWidget* p = w->parentWidget(); p; p = p->parentWidget())
        if (auto* group = qobject_cast<QGroupBox*>(p)) return group->title();
    return {};
}
} // namespace

class MailPropTest : public QObject {
    Q_OBJECT
private slots:
    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("heading");
        QTest::addColumn<QString>("caption");
        const QString general = "General", server = "Mail Server", advanced = "Advanced";
        const QString account = "Server and account", ports = "Server port numbers";
        const QString ssl = "This server requires a secure connection (SSL)";
        const struct {
            const char* name;
            QString page, heading, caption;
        } rows[] = {
            {"edtName", general, "", "Alias:"},
            {"edtAddr", general, "", "Mail Address:"},
            {"lblSize", general, "", "Size:"},
            {"lblSizeS", general, "", "Size on server:"},
            {"lblContains", general, "", "Contains:"},
            {"lblCreated", general, "", "Created:"},
            {"cht1", general, "", "Used space:"},
            {"edtPopServer", server, account, "Incoming mail (POP3) server:"},
            {"edtSMTPServer", server, account, "Outgoing mail (SMTP) server:"},
            {"chkAuth", server, account, "Require authentication"},
            {"edtAccount", server, account, "Account name:"},
            {"edtPassword", server, account, "Password:"},
            {"edtMailBox", server, account, "Mail box size (MBit):"},
            {"edtAttach", server, account, "Max attachment size (MBit):"},
            {"edtSMTPPort", advanced, ports, "Outgoing mail (SMTP):"},
            {"chkSMTPSSL", advanced, ports, ssl},
            {"edtPOPPort", advanced, ports, "Incoming mail (POP3):"},
            {"chkPOPSSL", advanced, ports, ssl},
            {"btnDefault", advanced, ports, "Use Defaults"},
            {"btnOk", "", "", "&OK"},
            {"btnCancel", "", "", "&Cancel"},
        };
        for (const auto& r : rows)
            QTest::newRow(r.name) << r.name << r.page << r.heading << r.caption;
    }

    void controls() {
        QFETCH(QString, name);
        QFETCH(QString, page);
        QFETCH(QString, heading);
        QFETCH(QString, caption);
        TFmMailProp d;
        const QList<QWidget*> found = d.findChildren<QWidget*>(name);
        QCOMPARE(found.size(), 1);
        QWidget* w = found.first();
        const int index = PageOf(d, w);
        QCOMPARE(index < 0 ? QString() : d.pages->tabText(index), page);
        QCOMPARE(HeadingOf(w), heading);
        QCOMPARE(CaptionOf(d, w), caption);
    }

    void frame() {
        TFmMailProp d;
        QCOMPARE(d.objectName(), QString("TFmMailProp"));
        QCOMPARE(d.property("helpContext").toInt(), 3);
        QCOMPARE(d.pages->objectName(), QString("pages"));
        QCOMPARE(d.pages->count(), 3);
        QVERIFY(qobject_cast<TPieChart*>(d.findChild<QWidget*>("cht1")));
        QCOMPARE(d.edtPassword->echoMode(), QLineEdit::Password);
        QVERIFY(d.btnOk->isDefault());
        d.pages->setCurrentIndex(2);
        d.Fill(Valid());
        QVERIFY(ShowActive(d));
        QCOMPARE(d.windowTitle(), QString("Work properies"));
        QCOMPARE(CurrentPage(d), QString("General"));
        QCOMPARE(d.focusWidget(), d.edtName);
        QCOMPARE(d.minimumSize(), d.maximumSize());
        QCOMPARE(d.size(), d.minimumSize());
    }

    // Fill and Read are each other's inverse for everything the user can edit.
    void fillAndRead() {
        TMailPropDialog in = Valid();
        in.chkAuth = false;
        in.chkSMTPSSL = true;
        in.edtName = "  padded  "; // filled as given; only leaving a field trims it
        TFmMailProp d;
        d.Fill(in);
        TMailPropDialog out;
        d.Read(out);
        QCOMPARE(Edited(out), Edited(in));
        QCOMPARE(d.lblSizeS->text(), QString("4 KB"));
        QCOMPARE(d.lblCreated->text(), Q(in.lblCreated));
    }

    void confirm_data() {
        QTest::addColumn<TDataEdit>("data");
        QTest::addColumn<TDialogEdit>("typed");
        QTest::addColumn<QString>("error"); // empty: the dialog closes with OK
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("control");
        const TDataEdit same = [](TMailPropDialog&) {};
        const TDialogEdit none = [](TFmMailProp&) {};
        // Pasting through the context menu is not filtered.
        auto paste = [](const char* text, QLineEdit* TFmMailProp::*field) {
            return TDialogEdit([text, field](TFmMailProp& d) {
                QApplication::clipboard()->setText(text);
                (d.*field)->selectAll();
                (d.*field)->paste();
            });
        };
        QTest::newRow("unchanged") << same << none << "" << "" << "";
        QTest::newRow("empty alias") << TDataEdit([](auto& d) { d.edtName = ""; }) << none
                                     << NameError << "General" << "edtName";
        QTest::newRow("blank alias") << TDataEdit([](auto& d) { d.edtName = " \t "; }) << none
                                     << NameError << "General" << "edtName";
        QTest::newRow("address without @")
            << TDataEdit([](auto& d) { d.edtAddr = "me.example.com"; }) << none << AddressError
            << "General" << "edtAddr";
        QTest::newRow("address starting with @")
            << TDataEdit([](auto& d) { d.edtAddr = "@example.com"; }) << none << AddressError
            << "General" << "edtAddr";
        QTest::newRow("address a@b") << TDataEdit([](auto& d) { d.edtAddr = "a@b"; }) << none
                                     << "" << "" << "";
        QTest::newRow("alias of another box in other case")
            << TDataEdit([](auto& d) { d.edtName = "ARCHIVE"; }) << none << TakenError
            << "General" << "edtName";
        QTest::newRow("address checked before taken alias")
            << TDataEdit([](auto& d) {
                   d.edtName = "home";
                   d.edtAddr = "";
               })
            << none << AddressError << "General" << "edtAddr";
        QTest::newRow("empty mailbox size")
            << TDataEdit([](auto& d) { d.edtMailBox = ""; }) << none << IntegerError
            << "Mail Server" << "edtMailBox";
        QTest::newRow("mailbox size checked before ports")
            << TDataEdit([](auto& d) {
                   d.edtMailBox = "1 0";
                   d.edtPOPPort = "";
               })
            << none << IntegerError << "Mail Server" << "edtMailBox";
        QTest::newRow("attachment size beyond 32 bits")
            << TDataEdit([](auto& d) { d.edtAttach = "4294967296"; }) << none << IntegerError
            << "Mail Server" << "edtAttach";
        QTest::newRow("letters pasted into SMTP port")
            << same << paste("2x5", &TFmMailProp::edtSMTPPort) << IntegerError << "Advanced"
            << "edtSMTPPort";
        QTest::newRow("letters pasted into POP3 port")
            << same << paste("pop", &TFmMailProp::edtPOPPort) << IntegerError << "Advanced"
            << "edtPOPPort";
        QTest::newRow("blanks around a size") << TDataEdit([](auto& d) { d.edtAttach = " 5 "; })
                                              << none << "" << "" << "";
    }

    void confirm() {
        QFETCH(TDataEdit, data);
        QFETCH(TDialogEdit, typed);
        QFETCH(QString, error);
        QFETCH(QString, page);
        QFETCH(QString, control);
        TScriptedPrompt prompt;
        TPromptScope scope(prompt);
        TMailPropDialog in = Valid();
        data(in);
        TFmMailProp d;
        d.Fill(in);
        QVERIFY(ShowActive(d));
        typed(d);
        // Start away from the page with the wrong input, so that OK has to switch.
        d.pages->setCurrentIndex(page == "General" ? 2 : 0);
        d.btnOk->setFocus();
        d.btnOk->click();
        if (error.isEmpty()) {
            QCOMPARE(prompt.shown.size(), size_t(0));
            QCOMPARE(d.result(), int(QDialog::Accepted));
            QVERIFY(!d.isVisible());
            return;
        }
        QCOMPARE(prompt.shown.size(), size_t(1));
        QCOMPARE(Q(prompt.shown[0].text), error);
        QCOMPARE(prompt.shown[0].caption, std::string());
        QCOMPARE(prompt.shown[0].flags, mb::OK | mb::IconStop);
        QVERIFY(d.isVisible());
        QCOMPARE(CurrentPage(d), page);
        QVERIFY(d.focusWidget());
        QCOMPARE(d.focusWidget()->objectName(), control);
    }

    void keyFilters_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("text");
        QTest::newRow("alias") << "edtName" << "a:b?c" << "abc";
        QTest::newRow("alias, every dropped character")
            << "edtName" << "1\"2*3/4:5<6>7?8\\9|0" << "1234567890";
        QTest::newRow("alias, other punctuation kept")
            << "edtName" << "My box (2), v1.0_+-" << "My box (2), v1.0_+-";
        QTest::newRow("mailbox size") << "edtMailBox" << "1a2-3" << "123";
        QTest::newRow("attachment size") << "edtAttach" << " 4.5+e" << "45";
        QTest::newRow("SMTP port") << "edtSMTPPort" << "4x6 5" << "465";
        QTest::newRow("POP3 port with Backspace") << "edtPOPPort" << "99\b5" << "95";
        QTest::newRow("account not filtered") << "edtAccount" << "a:b?c 1" << "a:b?c 1";
        QTest::newRow("address not filtered") << "edtAddr" << "a*b|c@d" << "a*b|c@d";
    }

    void keyFilters() {
        QFETCH(QString, field);
        QFETCH(QString, keys);
        QFETCH(QString, text);
        TFmMailProp d;
        auto* edit = d.findChild<QLineEdit*>(field);
        QVERIFY(edit);
        QTest::keyClicks(edit, keys);
        QCOMPARE(edit->text(), text);
    }

    // Text committed by an input method comes without key presses and is filtered alike.
    void keyFiltersComposedText() {
        TFmMailProp d;
        auto commit = [](QLineEdit* edit, const QString& text) {
            QInputMethodEvent e;
            e.setCommitString(text);
            QApplication::sendEvent(edit, &e);
        };
        commit(d.edtName, "a:b?c");
        QCOMPARE(d.edtName->text(), QString("abc"));
        commit(d.edtMailBox, "1a2-3");
        QCOMPARE(d.edtMailBox->text(), QString("123"));
        commit(d.edtAccount, "a:b");
        QCOMPARE(d.edtAccount->text(), QString("a:b"));
    }

    // Cursor keys are no text and keep working in a digits-only field.
    void keyFiltersLeaveNavigation() {
        TFmMailProp d;
        QTest::keyClicks(d.edtSMTPPort, "15");
        QTest::keyClick(d.edtSMTPPort, Qt::Key_Left);
        QTest::keyClicks(d.edtSMTPPort, "4");
        QTest::keyClick(d.edtSMTPPort, Qt::Key_Home);
        QTest::keyClick(d.edtSMTPPort, Qt::Key_Delete);
        QCOMPARE(d.edtSMTPPort->text(), QString("45"));
    }

    void trimOnLeaving_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("trimmed");
        for (const char* name : {"edtName", "edtPopServer", "edtSMTPServer", "edtAccount",
                                 "edtPassword", "edtMailBox", "edtAttach", "edtSMTPPort",
                                 "edtPOPPort"})
            QTest::newRow(name) << name << true;
        QTest::newRow("edtAddr") << "edtAddr" << false;
    }

    void trimOnLeaving() {
        QFETCH(QString, field);
        QFETCH(bool, trimmed);
        TFmMailProp d;
        d.Fill(Valid());
        QVERIFY(ShowActive(d));
        auto* edit = d.findChild<QLineEdit*>(field);
        d.pages->setCurrentIndex(PageOf(d, edit));
        edit->setFocus();
        QVERIFY(edit->hasFocus());
        edit->setText(" \t 7 7  ");
        QTest::keyClick(edit, Qt::Key_Tab);
        QVERIFY(!edit->hasFocus());
        QCOMPARE(edit->text(), trimmed ? QString("7 7") : QString(" \t 7 7  "));
    }

    // Enter confirms without leaving the field: the field in use is trimmed all the same,
    // and Enter passes the digits-only filter.
    void enterConfirms() {
        TFmMailProp d;
        d.Fill(Valid());
        QVERIFY(ShowActive(d));
        d.edtAddr->setText("  a@b ");
        d.edtName->setFocus();
        d.edtName->setText("  New  ");
        QTest::keyClick(d.edtName, Qt::Key_Return);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        TMailPropDialog out;
        d.Read(out);
        QCOMPARE(out.edtName, std::string("New"));
        QCOMPARE(out.edtAddr, std::string("  a@b "));

        TFmMailProp ports;
        ports.Fill(Valid());
        QVERIFY(ShowActive(ports));
        ports.pages->setCurrentIndex(2);
        ports.edtPOPPort->setFocus();
        QTest::keyClick(ports.edtPOPPort, Qt::Key_Enter);
        QCOMPARE(ports.result(), int(QDialog::Accepted));
    }

    void useDefaults_data() {
        QTest::addColumn<bool>("smtpSsl");
        QTest::addColumn<bool>("popSsl");
        QTest::addColumn<QString>("smtp");
        QTest::addColumn<QString>("pop");
        QTest::newRow("no SSL") << false << false << "25" << "110";
        QTest::newRow("SMTP SSL only") << true << false << "465" << "110";
        QTest::newRow("POP3 SSL only") << false << true << "25" << "995";
        QTest::newRow("both SSL") << true << true << "465" << "995";
    }

    void useDefaults() {
        QFETCH(bool, smtpSsl);
        QFETCH(bool, popSsl);
        QFETCH(QString, smtp);
        QFETCH(QString, pop);
        TMailPropDialog in = Valid();
        in.edtSMTPPort = "2525";
        in.edtPOPPort = "1110";
        TFmMailProp d;
        d.Fill(in);
        d.chkSMTPSSL->setChecked(smtpSsl);
        d.chkPOPSSL->setChecked(popSsl);
        d.btnDefault->click();
        TMailPropDialog expected = in;
        expected.chkSMTPSSL = smtpSsl;
        expected.chkPOPSSL = popSsl;
        expected.edtSMTPPort = S(smtp);
        expected.edtPOPPort = S(pop);
        TMailPropDialog out;
        d.Read(out);
        QCOMPARE(Edited(out), Edited(expected));
    }

    void statistics() {
        TMailPropDialog closed = Valid();
        closed.statsEnabled = false;
        closed.lblSize = closed.lblSizeS = closed.lblContains = "Open this mail box and try again";
        TFmMailProp d;
        d.Fill(closed);
        for (QLabel* stat : {d.lblSize, d.lblSizeS, d.lblContains}) {
            QVERIFY2(!stat->isEnabled(), qPrintable(stat->objectName()));
            QCOMPARE(stat->text(), QString("Open this mail box and try again"));
        }
        QVERIFY(d.lblCreated->isEnabled());
        d.Fill(Valid()); // opened now
        for (QLabel* stat : {d.lblSize, d.lblSizeS, d.lblContains, d.lblCreated})
            QVERIFY2(stat->isEnabled(), qPrintable(stat->objectName()));
        QCOMPARE(d.lblContains->text(), QString("2 Files, 1 Folders"));
        const auto slices = d.cht1->Slices();
        QCOMPARE(slices.size(), 2);
        QCOMPARE(slices[0].label, QString("Free"));
        QCOMPARE(slices[0].value, qint64(75));
        QCOMPARE(slices[1].color, QColor(255, 0, 0));
    }

    // The pie starts at twelve o'clock and runs clockwise; the colours are sampled in the
    // middle of each quarter.
    void pie_data() {
        QTest::addColumn<qint64>("free");
        QTest::addColumn<qint64>("occupied");
        QTest::addColumn<QString>("quarters"); // upper right, lower right, lower left, upper left
        QTest::newRow("a quarter used") << qint64(75) << qint64(25) << "GGGR";
        QTest::newRow("half used") << qint64(50) << qint64(50) << "GGRR";
        QTest::newRow("empty") << qint64(1073741824) << qint64(0) << "GGGG";
        QTest::newRow("full") << qint64(0) << qint64(3000) << "RRRR";
        QTest::newRow("more used than the capacity") << qint64(-10) << qint64(100) << "RRRR";
        QTest::newRow("no capacity") << qint64(0) << qint64(0) << "WWWW";
    }

    void pie() {
        QFETCH(qint64, free);
        QFETCH(qint64, occupied);
        QFETCH(QString, quarters);
        TMailPropDialog in = Valid();
        in.pie = {{"Free", free, 0x008000}, {"Occupied", occupied, 0xFF0000}};
        TFmMailProp d;
        d.Fill(in);
        const QImage image = d.cht1->grab().toImage();
        const QColor window = d.cht1->palette().color(QPalette::Window);
        const int cx = image.width() / 2, cy = image.height() / 2, r = image.height() / 5;
        const QPoint samples[] = {{cx + r, cy - r}, {cx + r, cy + r}, {cx - r, cy + r},
                                  {cx - r, cy - r}};
        auto letter = [&](const QColor& c) {
            if (c == QColor(0, 128, 0)) return 'G';
            if (c == QColor(255, 0, 0)) return 'R';
            return c == window ? 'W' : '?';
        };
        QString seen;
        for (const QPoint& p : samples) seen += letter(image.pixelColor(p));
        QCOMPARE(seen, quarters);
        // Clockwise slices that close the circle exactly, whatever the values.
        int sum = 0;
        for (const auto& angle : d.cht1->Angles()) {
            QVERIFY(angle.second <= 0);
            sum += angle.second;
        }
        QCOMPARE(sum, quarters == "WWWW" ? 0 : -360 * 16);
        QCOMPARE(image.pixelColor(1, 1), window); // outside the pie
    }

    // The model's runner: the dialog on the owner, filled from the mailbox, its checks
    // while open, and the edited settings back in the mailbox.
    void runnerRoundTrip() {
        TUiHome home;
        TScriptedPrompt prompt;
        TPromptScope scope(prompt);
        QWidget owner;
        InstallMailPropDialog(&owner);
        TMailFolders folders({}, {});
        folders.DataFileName = home.Path("Data.bin").toStdString();
        auto add = [&](const char* alias) -> TMailFolder& {
            auto box = std::make_unique<TMailFolder>(&folders);
            box->Alias = alias;
            return folders.Append(std::move(box));
        };
        add("Home");
        TMailFolder& work = add("Work");

        QString title;
        bool onOwner = false, stayedOnError = false, closed = false;
        WhenModal([&](QWidget* w) {
            auto* d = qobject_cast<TFmMailProp*>(w);
            if (!d) return w->close(), void();
            title = d->windowTitle();
            onOwner = d->parentWidget() == &owner;
            d->edtName->clear();
            QTest::keyClicks(d->edtName, "home");
            d->btnOk->click();
            stayedOnError = d->isVisible();
            d->edtName->setText("WORK"); // its own alias is no other box's
            d->edtSMTPServer->setText("smtp.office.example");
            d->chkSMTPSSL->setChecked(true);
            d->btnDefault->click();
            d->edtMailBox->setText("20");
            d->btnOk->click();
            closed = !d->isVisible();
            if (!closed) d->reject();
        });
        QVERIFY(work.EditProperties());
        QCOMPARE(title, QString("Work properies"));
        QVERIFY(onOwner);
        QVERIFY(stayedOnError);
        QVERIFY(closed);
        QCOMPARE(prompt.shown.size(), size_t(1));
        QCOMPARE(Q(prompt.shown[0].text), TakenError);
        QCOMPARE(work.Alias, std::string("WORK"));
        QCOMPARE(work.SmtpServer, std::string("smtp.office.example"));
        QVERIFY(work.SmtpSsl);
        QCOMPARE(work.SmtpPort, 465);
        QCOMPARE(work.PopPort, 110);
        QCOMPARE(work.Capacity, 20u << 20);
        QCOMPARE(work.MaxAttachSize, 0xA00000u); // left as shown: unchanged
        SetMailPropRunner({});
    }

    void cancelStoresNothing_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("Cancel button") << 0;
        QTest::newRow("Esc") << 1;
        QTest::newRow("closed") << 2;
    }

    void cancelStoresNothing() {
        QFETCH(int, how);
        InstallMailPropDialog(nullptr);
        TMailPropDialog d = Valid();
        bool closed = false;
        WhenModal([&](QWidget* w) {
            auto* dialog = qobject_cast<TFmMailProp*>(w);
            if (!dialog) return w->close(), void();
            dialog->edtName->setText("Changed");
            dialog->chkPOPSSL->setChecked(true);
            if (how == 0) dialog->btnCancel->click();
            if (how == 1) QTest::keyClick(dialog, Qt::Key_Escape);
            if (how == 2) dialog->close();
            closed = !dialog->isVisible();
            if (!closed) dialog->reject();
        });
        QVERIFY(!RunMailPropDialog(d));
        QVERIFY(closed);
        QCOMPARE(Edited(d), Edited(Valid()));
        SetMailPropRunner({});
    }
};

QTEST_MAIN(MailPropTest)
#include "MailPropTest.moc"
