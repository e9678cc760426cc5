#include "ClipboardFiles.h"

#include "FileUrls.h"

#include <QMimeData>

namespace {
QMimeData* MakeData(const std::vector<std::string>& names) {
    auto* data = new QMimeData;
    QByteArray raw;
    for (const std::string& n : names) raw += QByteArray::fromStdString(n) + '\n';
    const std::vector<std::string> paths = TClipboardFiles::LocalNames(names);
    data->setData(TClipboardFiles::PrivateType, raw);
    data->setData(TClipboardFiles::UriListType, FileUrls::UriList(paths));
    data->setData(TClipboardFiles::GnomeType, FileUrls::GnomeCopiedFiles(paths));
    return data;
}
} // namespace

std::vector<std::string> TClipboardFiles::LocalNames(const std::vector<std::string>& names) {
    std::vector<std::string> paths;
    for (const std::string& n : names)
        if (!n.empty() && !IsPlaceholder(n)) paths.push_back(n);
    return paths;
}

std::vector<std::string> TClipboardFiles::Paths(const QMimeData* data) {
    std::vector<std::string> paths;
    if (!data) return paths;
    if (data->hasFormat(GnomeType)) {
        FileUrls::ParseGnomeCopiedFiles(data->data(GnomeType), paths);
        return paths;
    }
    if (data->hasFormat(UriListType)) FileUrls::ParseUriList(data->data(UriListType), paths);
    return paths;
}

std::vector<std::string> TClipboardFiles::Read(const QMimeData* data) {
    if (!data) return {};
    if (!data->hasFormat(PrivateType)) return Paths(data);
    std::vector<std::string> names;
    for (const QByteArray& line : data->data(PrivateType).split('\n')) {
        if (static_cast<int>(names.size()) >= FileUrls::MaxNames) return {};
        if (!line.isEmpty()) names.push_back(line.toStdString());
    }
    return names;
}

bool TClipboardFiles::HoldsPlaceholder(const QMimeData* data) {
    if (!data || !data->hasFormat(PrivateType)) return false;
    return data->data(PrivateType).contains('*');
}

bool TClipboardFiles::HoldsUsableList(const QMimeData* data) {
    if (HoldsPlaceholder(data)) return false;
    const std::vector<std::string> paths = Paths(data);
    for (const std::string& p : paths)
        if (IsPlaceholder(p)) return false;
    return !paths.empty();
}

QMimeData* TClipboardFiles::Make(const std::vector<std::string>& names) {
    std::vector<std::string> stripped = names;
    for (std::string& n : stripped)
        if (!n.empty() && n.back() == '\\') n.pop_back();
    QMimeData* data = MakeData(stripped);
    data->setData(KdeCutType, "0");
    return data;
}

QMimeData* TClipboardFiles::MakeDrag(const std::vector<std::string>& names) { return MakeData(names); }
