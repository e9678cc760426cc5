#pragma once
#include <QIcon>
#include <QString>

#include "FolderView.h"

// Icons and type names of mailbox entries by name alone (the files need not exist): the
// MIME database's type for the name's extension, its comment as the type name ("File
// Folder" for folders) and the theme's icon for it, with generic fallbacks. Answers are
// kept per extension for the run; the folder icon is looked up once.
class TExImageList : public ITypeNames {
public:
    enum TSize { siSmall, siLarge };
    static constexpr int Pixels(TSize size) { return size == siSmall ? 16 : 32; }

    // ITypeNames: the model's listing asks for the Type column here.
    std::string TypeNameFor(const std::string& fileName) override;

    static QString FileTypeName(const QString& fileName, bool folder = false);
    // A name ending with a backslash is a folder.
    static QIcon IconOf(const QString& name, bool folder = false);
    static QPixmap PixmapOf(const QString& name, bool folder, TSize size);
    static QIcon FolderIcon();
    // How often the theme was asked for the folder icon (once per run).
    static int FolderLookups();
};
