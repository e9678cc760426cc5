#pragma once
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include "AppDir.h"
#include "IniFile.h"

// A fresh program folder and registry file for one test: AppDir, Tavrel.ini and the
// registry all point into a temporary folder.
class TUiHome {
public:
    TUiHome() {
        qputenv("TAVREL_REGISTRY", QDir(dir.path()).filePath("registry.ini").toUtf8());
        // The virtual folder's launcher goes here, not into the real data folder.
        qputenv("XDG_DATA_HOME", QDir(dir.path()).filePath("data").toUtf8());
        SetAppDir(dir.path().toStdString());
        ReopenIniFile();
    }
    QString Path(const QString& name) const { return QDir(dir.path()).filePath(name); }
    QTemporaryDir dir;
};

// Runs `fn` on the modal dialog that the code under test is about to show.
template <class F> void WhenModal(F fn, int delayMs = 0) {
    QTimer::singleShot(delayMs, [fn] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w) {
            WhenModal(fn, 20);
            return;
        }
        fn(w);
    });
}
