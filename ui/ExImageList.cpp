#include "ExImageList.h"

#include "UiText.h"

#include <QApplication>
#include <QHash>
#include <QMimeDatabase>
#include <QStyle>

namespace {
int folderLookups = 0;

// Everything after the name's first full stop, folded: the answer depends on nothing else.
// A name without one is its own key (the database knows some names, "Makefile").
QString ExtensionKey(const QString& name) {
    const int dot = name.indexOf('.');
    return dot < 0 ? "/" + name.toLower() : name.mid(dot + 1).toLower();
}

QMimeType TypeOf(const QString& name) {
    static const QMimeDatabase db;
    return db.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
}
} // namespace

std::string TExImageList::TypeNameFor(const std::string& fileName) {
    return S(FileTypeName(Q(fileName), false));
}

QString TExImageList::FileTypeName(const QString& fileName, bool folder) {
    if (folder || fileName.endsWith('\\')) return "File Folder";
    static QHash<QString, QString> names;
    const QString key = ExtensionKey(fileName);
    auto it = names.find(key);
    if (it == names.end()) it = names.insert(key, TypeOf(fileName).comment().left(80));
    return *it;
}

QIcon TExImageList::FolderIcon() {
    static const QIcon icon = [] {
        ++folderLookups;
        QIcon i = QIcon::fromTheme("folder");
        return i.isNull() ? QApplication::style()->standardIcon(QStyle::SP_DirIcon) : i;
    }();
    return icon;
}

int TExImageList::FolderLookups() { return folderLookups; }

QIcon TExImageList::IconOf(const QString& name, bool folder) {
    if (folder || name.endsWith('\\')) return FolderIcon();
    static QHash<QString, QIcon> icons;
    const QString key = ExtensionKey(name);
    auto it = icons.find(key);
    if (it == icons.end()) {
        const QMimeType type = TypeOf(name);
        QIcon icon = QIcon::fromTheme(type.iconName());
        if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
        if (icon.isNull()) icon = QIcon::fromTheme("text-x-generic");
        if (icon.isNull()) icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
        it = icons.insert(key, icon);
    }
    return *it;
}

QPixmap TExImageList::PixmapOf(const QString& name, bool folder, TSize size) {
    return IconOf(name, folder).pixmap(Pixels(size));
}
