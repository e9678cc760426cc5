#pragma once
#include <QIcon>
#include <QString>

#include "FolderView.h"

// Type names and icons by file name, without the file existing: the MIME database's
// comment for the type ("File Folder" for folders) and the theme's icons for it.
class TQtTypeNames : public ITypeNames {
public:
    std::string TypeNameFor(const std::string& fileName) override;
    static QString TypeName(const QString& fileName, bool folder);
    static QIcon IconFor(const QString& fileName, bool folder, int size);
};
