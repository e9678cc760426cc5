// File lists between programs: file URLs and the two list formats of the desktop's file
// managers, the clipboard and drag data built from names, and the drag start distance.
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QTest>

#include "ClipboardFiles.h"
#include "ExListView.h"
#include "FileUrls.h"

using Names = std::vector<std::string>;
Q_DECLARE_METATYPE(Names)

class FileListTest : public QObject {
    Q_OBJECT
private slots:
    void pathsAsUrlsAndBack_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("url");
        QTest::newRow("plain") << QByteArray("/tmp/a.txt") << QByteArray("file:///tmp/a.txt");
        QTest::newRow("blank and percent") << QByteArray("/tmp/a b%c.txt")
                                           << QByteArray("file:///tmp/a%20b%25c.txt");
        QTest::newRow("URL characters") << QByteArray("/t/#1?x=&;+,'\"")
                                        << QByteArray("file:///t/%231%3Fx%3D%26%3B%2B%2C%27%22");
        QTest::newRow("UTF-8") << QByteArray("/home/ü/Straße €.txt")
                               << QByteArray("file:///home/%C3%BC/Stra%C3%9Fe%20%E2%82%AC.txt");
        QTest::newRow("not UTF-8") << QByteArray("/tmp/\xe9t\xe9") << QByteArray("file:///tmp/%E9t%E9");
        QTest::newRow("folder") << QByteArray("/tmp/d/") << QByteArray("file:///tmp/d/");
    }
    void pathsAsUrlsAndBack() {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, url);
        QCOMPARE(FileUrls::FromPath(path.toStdString()), url);
        QCOMPARE(QByteArray::fromStdString(FileUrls::ToPath(url)), path);
    }

    void urlsOfOtherFormsAndRefusals_data() {
        QTest::addColumn<QByteArray>("url");
        QTest::addColumn<QByteArray>("path"); // empty: refused
        QTest::newRow("localhost") << QByteArray("file://localhost/tmp/a") << QByteArray("/tmp/a");
        QTest::newRow("one slash") << QByteArray("file:/tmp/a") << QByteArray("/tmp/a");
        QTest::newRow("scheme case") << QByteArray("FILE:///tmp/a") << QByteArray("/tmp/a");
        QTest::newRow("lower-case escape") << QByteArray("file:///tmp/%c3%bc") << QByteArray("/tmp/ü");
        QTest::newRow("raw UTF-8") << QByteArray("file:///tmp/ü") << QByteArray("/tmp/ü");
        QTest::newRow("web") << QByteArray("https://example.org/a.txt") << QByteArray();
        QTest::newRow("sftp") << QByteArray("sftp://host/tmp/a") << QByteArray();
        QTest::newRow("trash") << QByteArray("trash:///a.txt") << QByteArray();
        QTest::newRow("other host") << QByteArray("file://server/tmp/a") << QByteArray();
        QTest::newRow("no path") << QByteArray("file://") << QByteArray();
        QTest::newRow("relative") << QByteArray("file:tmp/a") << QByteArray();
        QTest::newRow("query") << QByteArray("file:///tmp/a?x") << QByteArray();
        QTest::newRow("fragment") << QByteArray("file:///tmp/a#x") << QByteArray();
        QTest::newRow("short escape") << QByteArray("file:///tmp/a%4") << QByteArray();
        QTest::newRow("bad escape") << QByteArray("file:///tmp/%zz") << QByteArray();
        QTest::newRow("NUL") << QByteArray("file:///tmp/a%00b") << QByteArray();
        QTest::newRow("line break") << QByteArray("file:///tmp/a%0Ab") << QByteArray();
        QTest::newRow("plain path") << QByteArray("/tmp/a") << QByteArray();
    }
    void urlsOfOtherFormsAndRefusals() {
        QFETCH(QByteArray, url);
        QFETCH(QByteArray, path);
        QCOMPARE(QByteArray::fromStdString(FileUrls::ToPath(url)), path);
    }

    void uriLists_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<Names>("paths");
        QTest::newRow("CRLF") << QByteArray("file:///a\r\nfile:///b%20c\r\n") << true
                              << Names{"/a", "/b c"};
        QTest::newRow("LF, no final break") << QByteArray("file:///a\nfile:///b") << true
                                            << Names{"/a", "/b"};
        QTest::newRow("comments, blanks") << QByteArray("# from x\r\n\r\nfile:///a\r\n") << true
                                          << Names{"/a"};
        QTest::newRow("one web URL refuses all")
            << QByteArray("file:///a\r\nhttp://x/b\r\n") << false << Names{};
        QTest::newRow("plain text") << QByteArray("hello world") << false << Names{};
        QTest::newRow("empty") << QByteArray() << false << Names{};
    }
    void uriLists() {
        QFETCH(QByteArray, text);
        QFETCH(bool, ok);
        QFETCH(Names, paths);
        Names got{"left over"};
        QCOMPARE(FileUrls::ParseUriList(text, got), ok);
        QCOMPARE(got, paths);
    }

    void gnomeLists() {
        const Names paths{"/tmp/a b.txt", "/tmp/ü"};
        const QByteArray text = FileUrls::GnomeCopiedFiles(paths);
        QCOMPARE(text, QByteArray("copy\nfile:///tmp/a%20b.txt\nfile:///tmp/%C3%BC"));
        Names got;
        QVERIFY(FileUrls::ParseGnomeCopiedFiles(text, got));
        QCOMPARE(got, paths);
        // A cut reads as a copy; a final newline or CRLF as another program may write.
        QVERIFY(FileUrls::ParseGnomeCopiedFiles("cut\r\nfile:///x\r\n", got));
        QCOMPARE(got, Names{"/x"});
        for (const QByteArray& bad : {QByteArray("move\nfile:///x"), QByteArray("file:///x"),
                                      QByteArray("copy"), QByteArray("copy\nhttp://x/y")}) {
            QVERIFY2(!FileUrls::ParseGnomeCopiedFiles(bad, got), bad.constData());
            QVERIFY(got.empty());
        }
        QCOMPARE(FileUrls::UriList(paths), QByteArray("file:///tmp/a%20b.txt\r\nfile:///tmp/%C3%BC\r\n"));
    }

    void overlongListIsRefusedNotCut() {
        QByteArray text;
        for (int i = 0; i <= FileUrls::MaxNames; ++i) text += "file:///f\n";
        Names got;
        QVERIFY(!FileUrls::ParseUriList(text, got));
        QVERIFY(got.empty());
    }

    void clipboardDataOfNames() {
        // Two local names (a folder with a final backslash) and a placeholder.
        std::unique_ptr<QMimeData> data(TClipboardFiles::Make({"/c/a\\", "/c/b ü.txt", "*\\d\\e\\"}));
        QCOMPARE(data->data(TClipboardFiles::GnomeType),
                 QByteArray("copy\nfile:///c/a\nfile:///c/b%20%C3%BC.txt"));
        QCOMPARE(data->data(TClipboardFiles::UriListType),
                 QByteArray("file:///c/a\r\nfile:///c/b%20%C3%BC.txt\r\n"));
        QCOMPARE(data->data(TClipboardFiles::KdeCutType), QByteArray("0"));
        QCOMPARE(TClipboardFiles::Read(data.get()), (Names{"/c/a", "/c/b ü.txt", "*\\d\\e"}));
        QCOMPARE(TClipboardFiles::Paths(data.get()), (Names{"/c/a", "/c/b ü.txt"}));
        QVERIFY(TClipboardFiles::HoldsPlaceholder(data.get()));
        QVERIFY(!TClipboardFiles::HoldsUsableList(data.get()));
        // Qt's own reader sees the same files.
        QCOMPARE(data->urls().size(), 2);
        QCOMPARE(data->urls()[1].toLocalFile(), QString("/c/b ü.txt"));

        // A drag keeps the names as given and offers no cut marker.
        std::unique_ptr<QMimeData> drag(TClipboardFiles::MakeDrag({"/c/a", "*\\d\\"}));
        QCOMPARE(TClipboardFiles::Read(drag.get()), (Names{"/c/a", "*\\d\\"}));
        QVERIFY(!drag->hasFormat(TClipboardFiles::KdeCutType));
        // Only placeholders: the file managers' formats name nothing.
        std::unique_ptr<QMimeData> none(TClipboardFiles::Make({"*\\x"}));
        QCOMPARE(none->data(TClipboardFiles::GnomeType), QByteArray("copy"));
        QVERIFY(TClipboardFiles::Paths(none.get()).empty());
    }

    void readingPrefersTheGnomeList() {
        QMimeData data;
        data.setData(TClipboardFiles::GnomeType, "copy\nfile:///g");
        data.setData(TClipboardFiles::UriListType, "file:///u\r\n");
        QCOMPARE(TClipboardFiles::Paths(&data), Names{"/g"});
        QVERIFY(TClipboardFiles::HoldsUsableList(&data));
        // A gnome list that is not one is not replaced by the other list: refused.
        data.setData(TClipboardFiles::GnomeType, "copy\nsmb://host/g");
        QVERIFY(TClipboardFiles::Paths(&data).empty());
        QVERIFY(!TClipboardFiles::HoldsUsableList(&data));
        QMimeData uris;
        uris.setData(TClipboardFiles::UriListType, "file:///u\r\nfile:///v%2A\r\n");
        QCOMPARE(TClipboardFiles::Paths(&uris), (Names{"/u", "/v*"}));
        QVERIFY(!TClipboardFiles::HoldsUsableList(&uris)); // a "*" name is never taken
        QMimeData text;
        text.setText("/tmp/a.txt");
        QVERIFY(TClipboardFiles::Read(&text).empty());
        QVERIFY(!TClipboardFiles::HoldsUsableList(&text));
        QVERIFY(!TClipboardFiles::HoldsUsableList(nullptr)); // no clipboard at all
        QVERIFY(TClipboardFiles::Read(nullptr).empty());
    }

    void clipboardRoundTrip() {
        QClipboard* clip = QApplication::clipboard();
        clip->setMimeData(TClipboardFiles::Make({"/tmp/x y.txt"}));
        QCOMPARE(TClipboardFiles::Paths(clip->mimeData()), Names{"/tmp/x y.txt"});
        QVERIFY(TClipboardFiles::HoldsUsableList(clip->mimeData()));
        clip->clear();
        QVERIFY(!TClipboardFiles::HoldsUsableList(clip->mimeData()));
    }

    void dragStartDistance_data() {
        QTest::addColumn<QPoint>("move");
        QTest::addColumn<bool>("starts");
        QTest::newRow("none") << QPoint(0, 0) << false;
        QTest::newRow("2,2 is 8") << QPoint(2, 2) << false;
        QTest::newRow("-2,-2 is 8") << QPoint(-2, -2) << false;
        QTest::newRow("3,0 is 9") << QPoint(3, 0) << true;
        QTest::newRow("0,-3 is 9") << QPoint(0, -3) << true;
        QTest::newRow("2,3 is 13") << QPoint(2, 3) << true;
    }
    void dragStartDistance() {
        QFETCH(QPoint, move);
        QFETCH(bool, starts);
        const QPoint from(40, 17);
        QCOMPARE(TExListView::StartsDrag(from, from + move), starts);
    }
};

QTEST_MAIN(FileListTest)
#include "FileListTest.moc"
