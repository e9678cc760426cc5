#pragma once
#include <QByteArray>

#include <string>
#include <vector>

// Local paths as the file URLs that carry them between programs, and the two list formats
// of the desktop's file managers built from them. Paths are byte strings: every byte but
// the unreserved characters and "/" is percent-encoded, so names that are not ASCII (or
// not even UTF-8) travel unchanged. Readers refuse a whole list that names anything but
// local files: a drop or paste never acts on part of what the other program offered.
namespace FileUrls {
constexpr int MaxNames = 100000; // a longer list is refused, not cut short

// "file://" followed by the encoded path.
QByteArray FromPath(const std::string& path);
// The local path of a file URL ("file:///p", "file://localhost/p" or "file:/p"); empty when
// the URL is not one: another scheme, another host, a query or fragment, a relative path,
// a broken escape or an escaped NUL.
std::string ToPath(const QByteArray& url);

// text/uri-list: one URL a line, each ended by CRLF.
QByteArray UriList(const std::vector<std::string>& paths);
// Lines split at LF (a CR before it is dropped), blank lines and "#" comments skipped.
// False, with `paths` empty, when the list names no file, names anything but a local file
// or holds more than MaxNames.
bool ParseUriList(const QByteArray& text, std::vector<std::string>& paths);

// x-special/gnome-copied-files: "copy", then the URLs, LF-separated, no final newline.
QByteArray GnomeCopiedFiles(const std::vector<std::string>& paths);
// The first line must be "copy" or "cut" (a cut is read as a copy: nothing here ever
// deletes a source); the rest as ParseUriList.
bool ParseGnomeCopiedFiles(const QByteArray& text, std::vector<std::string>& paths);
} // namespace FileUrls
