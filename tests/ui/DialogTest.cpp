// The small dialogs, the options dialog and the tray icon.
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "ExSysTray.h"
#include "FmMsgBox.h"
#include "FmNewName.h"
#include "FmOptions.h"
#include "Registry.h"
#include "ScriptedPrompt.h"
#include "UiFixture.h"

class DialogTest : public QObject {
    Q_OBJECT
private slots:
    void init() { home = std::make_unique<TUiHome>(); }
    void cleanup() { home.reset(); }

    void newNameFiltersAndTrims() {
        TFmNewName d;
        d.SetMode(TFmNewName::nmName);
        d.show();
        QVERIFY(!d.OkButton()->isEnabled());
        QTest::keyClicks(d.Edit(), "  a:b|c*d?<e>\"f/g\\h  ");
        QCOMPARE(d.Text(), QString("  abc*d?efgh  "));
        QVERIFY(d.OkButton()->isEnabled());
        QTest::mouseClick(d.OkButton(), Qt::LeftButton);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(d.Text(), QString("abc*d?efgh"));
    }

    void newNameBlankEntryAndPasswordMode() {
        TFmNewName d;
        d.SetMode(TFmNewName::nmPassword);
        QCOMPARE(d.Edit()->echoMode(), QLineEdit::Password);
        d.show();
        QTest::keyClicks(d.Edit(), "   ");
        QVERIFY(!d.OkButton()->isEnabled()); // blanks only
        QTest::keyClicks(d.Edit(), ":|");
        QCOMPARE(d.Text(), QString("   :|")); // no filter for passwords
        QVERIFY(d.OkButton()->isEnabled());
        d.Edit()->clear();
        d.ForceOkEnabled();
        QVERIFY(d.OkButton()->isEnabled());
    }

    void noticeSuppressionPerNumber() {
        int shown = 0;
        auto tickAndClose = [&](bool dontShow) {
            WhenModal([&, dontShow](QWidget* w) {
                auto* box = qobject_cast<TFmMsgBox*>(w);
                QVERIFY(box);
                ++shown;
                QCOMPARE(box->windowTitle(), QString("Error")); // blank caption
                QVERIFY(box->TextLabel()->text().startsWith("At least one selected file"));
                box->DontShowBox()->setChecked(dontShow);
                box->OkButton()->click();
            });
        };
        tickAndClose(true);
        ShowNotice(nullptr, 0, "", 0, " ");
        QCOMPARE(shown, 1);
        ShowNotice(nullptr, 0, "", 0, "");  // suppressed now
        QCOMPARE(shown, 1);
        tickAndClose(false);
        ShowNotice(nullptr, 1, "", 0, ""); // another number is not
        QCOMPARE(shown, 2);
        ReopenIniFile();
        QVERIFY(IniFile().ReadBool("MsgBox", "0", false));
        QVERIFY(IniFile().ValueExists("MsgBox", "1"));
        QVERIFY(!IniFile().ReadBool("MsgBox", "1", true));
    }

    void noticeCountdown() {
        TFmMsgBox box;
        box.StartCountdown(3);
        QCOMPARE(box.OkButton()->text(), QString("&Ok (3)"));
        QVERIFY(!box.OkButton()->isEnabled());
        box.show();
        QTest::keyClick(&box, Qt::Key_Escape);
        QVERIFY(box.isVisible()); // cannot be closed during the countdown
        box.close();
        QVERIFY(box.isVisible());
        box.Tick();
        QCOMPARE(box.OkButton()->text(), QString("&Ok (2)"));
        box.Tick();
        QCOMPARE(box.OkButton()->text(), QString("&Ok (1)"));
        box.Tick();
        QCOMPARE(box.OkButton()->text(), QString("&OK"));
        QVERIFY(box.OkButton()->isEnabled());
        box.OkButton()->click();
        QVERIFY(!box.isVisible());
    }

    void optionsPasswordStaging() {
        TScriptedPrompt prompt;
        TPromptScope scope(prompt);
        TFmOptions d;
        d.Fill({false, true, false, true, "old"});
        QVERIFY(d.btnPass->isEnabled());
        // Mismatch, then a match.
        prompt.entries = {{true, "one"}, {true, "two"}, {true, "new"}, {true, "new"}};
        d.btnPass->click();
        QCOMPARE(d.StagedPassword(), std::string("new"));
        QCOMPARE(prompt.shown.size(), size_t(5));
        QCOMPARE(prompt.shown[0].caption, std::string("Set Password"));
        QCOMPARE(prompt.shown[0].text, std::string("Please enter your password: "));
        QCOMPARE(prompt.shown[1].caption, std::string("Confirm Password"));
        QCOMPARE(prompt.shown[2].text,
                 std::string("The passwords you typed do not match, please retype."));
        QVERIFY(prompt.shown[0].password);
        // Cancel in the second entry keeps what was staged.
        prompt.entries = {{true, "other"}, {false, ""}};
        d.btnPass->click();
        QCOMPARE(d.StagedPassword(), std::string("new"));
        d.chkPass->setChecked(false);
        QVERIFY(!d.btnPass->isEnabled());
        TOptionsDialogData out;
        d.Read(out);
        QCOMPARE(out.StagedPassword, std::string("new"));
        QVERIFY(!out.PasswordRequired);
        QVERIFY(d.chkLogin->isHidden());
    }

    void optionsShellRegistration() {
        // The library beside the program registers the virtual folder on OK.
        const QString lib = QString(TAVREL_BUILD_DIR) + "/libPondra.so";
        if (!QFile::exists(lib)) QSKIP("libPondra.so not built");
        QVERIFY(QFile::copy(lib, home->Path("libPondra.so")));
        {
            TFmOptions d;
            QVERIFY(!d.chkShell->isChecked());
            d.chkShell->setChecked(true);
            d.btnOk->click();
        }
        QVERIFY(TFmOptions::ShellRegistered());
        {
            TFmOptions d;
            QVERIFY(d.chkShell->isChecked()); // read from the registry
            d.chkShell->setChecked(false);
            d.btnOk->click();
        }
        QVERIFY(!TFmOptions::ShellRegistered());
    }

    void trayIcon() {
        TExSysTray tray;
        tray.SetHint(QString(70, 'h'));
        QCOMPARE(tray.Hint().size(), 63);
        tray.SetActive(true); // nothing to show yet
        QVERIFY(!tray.Shown());
        QPixmap pm(16, 16);
        pm.fill(Qt::red);
        if (TExSysTray::Available()) {
            tray.SetIcon(QIcon(pm));
            QVERIFY(tray.Shown());
            tray.SetIcon(QIcon());
            QVERIFY(!tray.Shown());
        }

        QMenu menu;
        tray.SetPopupMenu(&menu);
        QSignalSpy down(&tray, &TExSysTray::IconMouseDown), up(&tray, &TExSysTray::IconMouseUp),
            click(&tray, &TExSysTray::IconClick), dbl(&tray, &TExSysTray::IconDblClick),
            popup(&tray, &TExSysTray::PopupRequested);
        tray.MouseDown(Qt::LeftButton); // PopupMode is the right button only
        tray.MouseUp(Qt::LeftButton);
        QCOMPARE(down.count(), 1);
        QCOMPARE(click.count(), 1);
        QCOMPARE(up.count(), 1);
        QCOMPARE(popup.count(), 0);
        tray.DoubleClick(Qt::LeftButton);
        QCOMPARE(dbl.count(), 1);
        QCOMPARE(down.count(), 2);
        QCOMPARE(down.last().at(1).toBool(), true); // the double mark
        tray.MouseDown(Qt::RightButton);
        QCOMPARE(popup.count(), 1);
        menu.close();

        QVector<QIcon> frames;
        for (Qt::GlobalColor c : {Qt::red, Qt::green, Qt::blue}) {
            pm.fill(c);
            frames << QIcon(pm);
        }
        tray.SetImages(frames);
        tray.SetAnimated(true);
        QList<int> seen{tray.FrameIndex()};
        for (int i = 0; i < 4; ++i) {
            tray.Step();
            seen << tray.FrameIndex();
        }
        QCOMPARE(seen, (QList<int>{0, 1, 2, 0, 1}));
        tray.SetAnimated(false);
        QVERIFY(tray.ShownIcon().isNull()); // the still icon again (none)
    }

private:
    std::unique_ptr<TUiHome> home;
};

QTEST_MAIN(DialogTest)
#include "DialogTest.moc"
