#include "QtTypeNames.h"

#include "UiText.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QMimeDatabase>
#include <QStyle>

std::string TQtTypeNames::TypeNameFor(const std::string& fileName) {
    return S(TypeName(Q(fileName), false));
}

QString TQtTypeNames::TypeName(const QString& fileName, bool folder) {
    if (folder) return "File Folder";
    static const QMimeDatabase db;
    return db.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension).comment();
}

QIcon TQtTypeNames::IconFor(const QString& fileName, bool folder, int) {
    static const QIcon folderIcon = [] {
        QIcon i = QIcon::fromTheme("folder");
        return i.isNull() ? QApplication::style()->standardIcon(QStyle::SP_DirIcon) : i;
    }();
    if (folder) return folderIcon;
    static const QMimeDatabase db;
    const QMimeType type = db.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull()) icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    return icon;
}
