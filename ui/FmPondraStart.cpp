// The main window's start-up password, closing and quitting, bringing it to the front,
// the manual, the about box and the options command.
#include "FmPondra.h"

#include "AppDir.h"
#include "ExSysTray.h"
#include "FmNewName.h"
#include "Prompt.h"
#include "UiText.h"
#include "Wait.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStatusBar>
#include <QMessageBox>
#include <QStatusTipEvent>
#include <QAbstractItemView>

#include "ExListView.h"
#include <QWindow>

#include <openssl/crypto.h>

std::function<void(const QUrl&)> TFmPondra::OpenManual = [](const QUrl& url) {
    QDesktopServices::openUrl(url);
};

void TFmPondra::AskStartupPassword() {
    if (!folders_->Options->PasswordRequired) return;
    TFmNewName dialog(this);
    dialog.SetMode(TFmNewName::nmPassword);
    dialog.setWindowTitle("Tavrel");
    dialog.SetPrompt("Please enter your password:");
    for (;;) {
        dialog.ForceOkEnabled();
        if (dialog.exec() != QDialog::Accepted) {
            // Ends the start: the collection goes (cache removed), no layout is written.
            startupCancelled_ = true;
            FreeCollection();
            return;
        }
        if (S(dialog.Text()) == folders_->Options->Password) return;
        WaitMs(100);
        Prompt().MessageBox("Wrong password, please retry.", "", mb::OK | mb::IconStop);
        dialog.Edit()->selectAll();
    }
}

void TFmPondra::closeEvent(QCloseEvent* e) {
    // The window never closes here: it hides (or minimises) or the program quits.
    e->ignore();
    OnCloseQuery();
}

void TFmPondra::OnCloseQuery() {
    if (folders_->Options->MinimizeOnClose) {
        tray_->SetActive(true);
        // Without a tray the hidden window could not be reached again: minimise instead.
        if (TExSysTray::Available())
            hide();
        else
            showMinimized();
        return;
    }
    Quit();
}

void TFmPondra::Quit() {
    QString question = "Are you sure to quit right now?";
    if (PendingCount() > 0)
        question = "There are pending operations waiting to be submitted.\n" + question;
    if (Prompt().MessageBox(S(question), "Warning", mb::YesNo | mb::IconQuestion | mb::DefButton2) ==
        id::Yes) {
        searching_ = false; // a running search ends before its next entry
        QCoreApplication::quit();
    }
}

void TFmPondra::Show() {
    if (!isVisible()) show();
    BringToFront();
    if (!folders_->Options->ShowTrayIcon) tray_->SetActive(false);
}

void TFmPondra::BringToFront(const QByteArray& activationToken) {
    if (!activationToken.isEmpty()) qputenv("XDG_ACTIVATION_TOKEN", activationToken);
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
    if (QWindow* w = windowHandle()) w->requestActivate();
    show();
}

int TFmPondra::HelpContextOf(QWidget* w) {
    // Up through the parents to the window that holds the control, not beyond: a dialog
    // without a context of its own has the start page, not its owner's topic.
    for (; w; w = w->parentWidget()) {
        const int context = w->property("helpContext").toInt();
        if (context != 0) return context;
        if (w->isWindow()) break;
    }
    return 1;
}

QString TFmPondra::ManualFile() {
    // Beside the program in a build, or in the shared data folder of an installation.
    const QString exe = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {exe + "/manual/index.html", exe + "/../share/tavrel/manual/index.html"}) {
        if (QFileInfo::exists(candidate)) return QFileInfo(candidate).canonicalFilePath();
    }
    return {};
}

void TFmPondra::HandleHelp(QWidget* focus) {
    SetStatusText("Manual is loading, please wait...");
    statusBar()->repaint();
    const int context = focus ? HelpContextOf(focus) : 1;
    const QString file = ManualFile();
    if (!file.isEmpty()) {
        QUrl url = QUrl::fromLocalFile(file);
        url.setFragment(QString("topic%1").arg(context));
        OpenManual(url);
    }
    SetStatusText(QString());
}

bool TFmPondra::eventFilter(QObject* watched, QEvent* e) {
    if (watched == lvFiles_->Current()->viewport() && FilesDropEvent(e)) return true;
    if (watched == pnlSearchBar_ && e->type() == QEvent::Resize) PlaceStopButton();
    if (e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_F1 &&
        watched->isWidgetType()) {
        QWidget* focus = QApplication::focusWidget();
        if (!focus) focus = static_cast<QWidget*>(watched);
        HandleHelp(focus);
        return true;
    }
    return QMainWindow::eventFilter(watched, e);
}

bool TFmPondra::event(QEvent* e) {
    // Hints go to the message panel (a hint that ends leaves it empty; the idle update
    // brings the welcome text back).
    if (e->type() == QEvent::StatusTip) {
        SetStatusText(static_cast<QStatusTipEvent*>(e)->tip());
        return true;
    }
    if (e->type() == QEvent::WindowActivate) {
        // The address bar is laid out again on every activation.
        if (QWidget* addr = findChild<QWidget*>("pnlAddr")) addr->updateGeometry();
    }
    return QMainWindow::event(e);
}

void TFmPondra::About() {
    QMessageBox box(this);
    box.setWindowTitle("About Tavrel");
    box.setIconPixmap(windowIcon().pixmap(64, 64));
    box.setText(QString("<b>Tavrel %1</b><p>Your e-mail accounts as network disks.</p>")
                    .arg(QCoreApplication::applicationVersion()));
    box.setInformativeText(QString("Built with Qt %1 (running on %2) and %3.")
                               .arg(QT_VERSION_STR, qVersion(), OpenSSL_version(OPENSSL_VERSION)));
    box.exec();
}

void TFmPondra::GotoWeb() { QDesktopServices::openUrl(QUrl("https://tavrel.example.org/")); }

void TFmPondra::Options() {
    folders_->EditOptions();
    UpdateTray(); // whatever the answer
}

void TFmPondra::UpdateTray() { tray_->SetActive(folders_->Options->ShowTrayIcon); }
