#include "ClipboardFiles.h"

#include "UiText.h"

#include <QMimeData>
#include <QUrl>

namespace {
constexpr int kMaxNames = 100000;

std::vector<std::string> LocalPaths(const QList<QUrl>& urls) {
    std::vector<std::string> names;
    for (const QUrl& u : urls) {
        if (static_cast<int>(names.size()) >= kMaxNames) break;
        if (u.isLocalFile() && !u.toLocalFile().isEmpty()) names.push_back(S(u.toLocalFile()));
    }
    return names;
}
} // namespace

bool TClipboardFiles::HoldsUsableList(const QMimeData* data) {
    const std::vector<std::string> names = Read(data);
    for (const std::string& n : names)
        if (n.find('*') != std::string::npos) return false;
    return !names.empty();
}

std::vector<std::string> TClipboardFiles::Read(const QMimeData* data) {
    if (!data) return {};
    if (data->hasFormat(PrivateType)) {
        std::vector<std::string> names;
        for (const QByteArray& line : data->data(PrivateType).split('\n')) {
            if (static_cast<int>(names.size()) >= kMaxNames) break;
            if (!line.isEmpty()) names.push_back(line.toStdString());
        }
        return names;
    }
    if (data->hasFormat("x-special/gnome-copied-files")) {
        QList<QByteArray> lines = data->data("x-special/gnome-copied-files").split('\n');
        QList<QUrl> urls;
        for (int i = 1; i < lines.size(); ++i)
            if (!lines[i].trimmed().isEmpty()) urls << QUrl::fromEncoded(lines[i].trimmed());
        return LocalPaths(urls);
    }
    if (data->hasUrls()) return LocalPaths(data->urls());
    return {};
}

QMimeData* TClipboardFiles::Make(const std::vector<std::string>& names) {
    auto* data = new QMimeData;
    QByteArray raw, gnome = "copy";
    QList<QUrl> urls;
    for (const std::string& n : names) {
        raw += QByteArray::fromStdString(n) + '\n';
        if (n.find('*') != std::string::npos) continue;
        const QUrl url = QUrl::fromLocalFile(Q(n));
        urls << url;
        gnome += '\n' + url.toEncoded();
    }
    data->setData(PrivateType, raw);
    data->setUrls(urls);
    data->setData("x-special/gnome-copied-files", gnome);
    data->setData("application/x-kde-cutselection", "0");
    return data;
}
