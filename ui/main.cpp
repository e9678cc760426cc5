// Tavrel, the window. One instance per user and program folder: a second start hands its
// request ("activate", or a drop notice with --drop) to the running one and ends.
#include "AppDir.h"
#include "AppStyle.h"
#include "FmPondra.h"
#include "IniFile.h"
#include "ProgramLock.h"
#include "RegisterDll.h"
#include "SingleInstance.h"
#include "UiText.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources); // the icons live in the ui library
    QApplication::setApplicationName("Tavrel");
    QApplication::setApplicationVersion(TAVREL_VERSION);
    QApplication::setOrganizationName("Tavrel");
    QGuiApplication::setDesktopFileName("org.tavrel.Tavrel");
    QApplication::setWindowIcon(QIcon(":/tavrel.svg"));
    QApplication::setQuitOnLastWindowClosed(false); // the window may live in the tray

    InitAppDir();
    ReopenIniFile();
    RegisterStartupComponents();

    TSingleInstance instance(Q(AppDir()));
    const QStringList args = QApplication::arguments();
    if (args.size() >= 2 && args[1] == "--drop") {
        if (args.size() != 4) {
            std::fprintf(stderr, "usage: Tavrel --drop SOURCE DEST\n");
            return 2;
        }
        if (!instance.Send(TSingleInstance::DropRequest(args[2].toUtf8(), args[3].toUtf8()))) {
            std::fprintf(stderr, "Tavrel: no running Tavrel window to hand the drop to\n");
            return 1;
        }
        return 0;
    }
    if (!instance.Claim()) {
        QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
        if (token.isEmpty()) token = qgetenv("DESKTOP_STARTUP_ID");
        instance.Send(TSingleInstance::ActivateRequest(token));
        return 0;
    }
    // The window and tavrel-cli never work on one program folder at once.
    TProgramLock lock;
    if (!lock.Acquire(AppDir())) {
        QMessageBox box(QMessageBox::Critical, "Tavrel",
                        Q(lock.Busy() ? lock.Error() + ".\nTavrel will start when it has finished; "
                                                       "try again then."
                                      : lock.Error() + "."));
        box.exec();
        return 1;
    }

    QApplication::setStyle(new TAppStyle); // tooltips after 200 ms
    TFmPondra window;
    if (window.StartupCancelled()) return 0;
    QObject::connect(&instance, &TSingleInstance::Activate, &window,
                     [&window](const QByteArray& token) { window.BringToFront(token); });
    QObject::connect(&instance, &TSingleInstance::Drop, &window, &TFmPondra::DropNotice);
    window.ShowWindowFromLayout();
    return app.exec();
}
