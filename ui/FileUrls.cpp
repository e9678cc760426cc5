#include "FileUrls.h"

#include <QList>

namespace {
bool Unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '-' || c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseLines(const QList<QByteArray>& lines, qsizetype first, std::vector<std::string>& paths) {
    paths.clear();
    for (qsizetype i = first; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r')) line.chop(1);
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        std::string path = FileUrls::ToPath(line);
        if (path.empty() || static_cast<int>(paths.size()) >= FileUrls::MaxNames) {
            paths.clear();
            return false;
        }
        paths.push_back(std::move(path));
    }
    return !paths.empty();
}
} // namespace

QByteArray FileUrls::FromPath(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    QByteArray url = "file://";
    url.reserve(static_cast<qsizetype>(7 + path.size() * 3));
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (Unreserved(c) || c == '/') {
            url += ch;
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

std::string FileUrls::ToPath(const QByteArray& url) {
    if (url.size() < 6 || url.left(5).toLower() != "file:") return {};
    QByteArray rest = url.mid(5);
    if (rest.startsWith("//")) {
        const qsizetype slash = rest.indexOf('/', 2);
        if (slash < 0) return {};
        const QByteArray host = rest.mid(2, slash - 2).toLower();
        if (!host.isEmpty() && host != "localhost") return {}; // another machine's file
        rest = rest.mid(slash);
    }
    if (!rest.startsWith('/') || rest.contains('?') || rest.contains('#')) return {};
    std::string path;
    path.reserve(static_cast<size_t>(rest.size()));
    for (qsizetype i = 0; i < rest.size(); ++i) {
        char c = rest[i];
        if (c == '%') {
            const int hi = i + 2 < rest.size() ? HexValue(rest[i + 1]) : -1;
            const int lo = hi >= 0 ? HexValue(rest[i + 2]) : -1;
            if (lo < 0) return {};
            c = static_cast<char>(hi * 16 + lo);
            i += 2;
        }
        if (c == '\0' || c == '\n' || c == '\r') return {};
        path += c;
    }
    return path;
}

QByteArray FileUrls::UriList(const std::vector<std::string>& paths) {
    QByteArray text;
    for (const std::string& p : paths) text += FromPath(p) + "\r\n";
    return text;
}

bool FileUrls::ParseUriList(const QByteArray& text, std::vector<std::string>& paths) {
    return ParseLines(text.split('\n'), 0, paths);
}

QByteArray FileUrls::GnomeCopiedFiles(const std::vector<std::string>& paths) {
    QByteArray text = "copy";
    for (const std::string& p : paths) text += '\n' + FromPath(p);
    return text;
}

bool FileUrls::ParseGnomeCopiedFiles(const QByteArray& text, std::vector<std::string>& paths) {
    paths.clear();
    const QList<QByteArray> lines = text.split('\n');
    QByteArray verb = lines.value(0);
    if (verb.endsWith('\r')) verb.chop(1);
    verb = verb.trimmed();
    if (verb != "copy" && verb != "cut") return false;
    return ParseLines(lines, 1, paths);
}
