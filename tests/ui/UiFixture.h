#pragma once
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <QStringList>

#include "AppDir.h"
#include "ExListView.h"
#include "IniFile.h"

// A fresh program folder and registry file for one test: AppDir, Tavrel.ini and the
// registry all point into a temporary folder.
class TUiHome {
public:
    TUiHome() {
        qputenv("TAVREL_REGISTRY", QDir(dir.path()).filePath("registry.ini").toUtf8());
        // The virtual folder's launcher goes here, not into the real data folder.
        qputenv("XDG_DATA_HOME", QDir(dir.path()).filePath("data").toUtf8());
        // No mount of the open mailbox unless a test asks for one (it sets a runtime folder).
        qunsetenv("XDG_RUNTIME_DIR");
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

// The captions of a file list in view order, and the row of one caption (-1: none).
inline QStringList Captions(const TExListView* view) {
    QStringList names;
    for (int r = 0; r < view->RowCount(); ++r) names << view->CaptionAt(r);
    return names;
}
inline int RowOf(const TExListView* view, const QString& caption) {
    return static_cast<int>(Captions(view).indexOf(caption));
}
