// Another program on the same X display for the window's process tests: it reads or owns
// the clipboard, starts a file drag or takes a drop, and reports what it saw on standard
// output, one "key<TAB>hex bytes" line per item, then "end".
//
//   dnd_peer clip-read TYPE...          the clipboard's data of each type
//   dnd_peer clip-write TYPE BYTES SECS owns the clipboard with these bytes for SECS seconds
//   dnd_peer drag-source PATH X Y       a window at X,Y; a press in it drags PATH (copy)
//   dnd_peer drop-target X Y [read]     a window at X,Y that takes one drop (copy); with
//                                       "read", the dropped files' bytes as well ("read"
//                                       per file, "read-error" with its path when it fails)
#include <QApplication>
#include <QClipboard>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFile>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {
void Report(const QByteArray& key, const QByteArray& value) {
    std::printf("%s\t%s\n", key.constData(), value.toHex().constData());
    std::fflush(stdout);
}

void End(int code) {
    std::printf("end\n");
    std::fflush(stdout);
    QCoreApplication::exit(code);
}

class TPeerWindow : public QWidget {
public:
    TPeerWindow(const QString& title, const QString& dragPath, bool read = false)
        : dragPath_(dragPath), read_(read) {
        setWindowTitle(title);
        setAcceptDrops(dragPath.isEmpty());
    }

protected:
    void mousePressEvent(QMouseEvent*) override {
        if (dragPath_.isEmpty()) return;
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(dragPath_)});
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        const Qt::DropAction done = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
        Report("action", QByteArray::number(int(done)));
        // The target reads the data after the drop, as a file manager's source stays to
        // serve it: the program keeps running a while.
        QTimer::singleShot(3000, [] { End(0); });
    }
    void dragEnterEvent(QDragEnterEvent* e) override {
        if (e->mimeData()->hasFormat("text/uri-list")) {
            e->setDropAction(Qt::CopyAction);
            e->accept();
        }
    }
    void dragMoveEvent(QDragMoveEvent* e) override {
        e->setDropAction(Qt::CopyAction);
        e->accept();
    }
    void dropEvent(QDropEvent* e) override {
        for (const QString& f : e->mimeData()->formats()) Report(f.toUtf8(), e->mimeData()->data(f));
        e->setDropAction(Qt::CopyAction);
        e->accept();
        if (!read_) {
            QTimer::singleShot(200, [] { End(0); });
            return;
        }
        // As a file manager copies: after the drop, from the paths the URLs name.
        const QList<QUrl> urls = e->mimeData()->urls();
        QTimer::singleShot(0, [urls] {
            for (const QUrl& url : urls) {
                QFile f(url.toLocalFile());
                if (f.open(QIODevice::ReadOnly))
                    Report("read", f.readAll());
                else
                    Report("read-error", url.toLocalFile().toUtf8());
            }
            End(0);
        });
    }

private:
    QString dragPath_;
    bool read_ = false;
};
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    QTimer::singleShot(60000, [] { End(2); }); // never outlives its test
    if (mode == "clip-read") {
        // The owner may answer slowly; the types it offers are read once they are there.
        QTimer::singleShot(0, [args] {
            const QMimeData* data = QApplication::clipboard()->mimeData();
            if (!data) {
                End(1);
                return;
            }
            Report("formats", data->formats().join('\n').toUtf8());
            for (int i = 2; i < args.size(); ++i) Report(args[i].toUtf8(), data->data(args[i]));
            End(0);
        });
        return app.exec();
    }
    if (mode == "clip-write" && args.size() == 5) {
        auto* data = new QMimeData;
        data->setData(args[2], args[3].toUtf8());
        QApplication::clipboard()->setMimeData(data);
        Report("ready", "1");
        QTimer::singleShot(args[4].toInt() * 1000, [] { End(0); });
        return app.exec();
    }
    std::unique_ptr<TPeerWindow> window;
    if (mode == "drag-source" && args.size() == 5)
        window = std::make_unique<TPeerWindow>("dndsource", args[2]);
    else if (mode == "drop-target" && (args.size() == 4 || (args.size() == 5 && args[4] == "read")))
        window = std::make_unique<TPeerWindow>("dndtarget", QString(), args.size() == 5);
    else
        return 2;
    const int at = mode == "drag-source" ? 3 : 2;
    window->setGeometry(args[at].toInt(), args[at + 1].toInt(), 200, 200);
    window->show();
    return app.exec();
}
