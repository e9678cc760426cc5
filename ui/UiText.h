#pragma once
#include <QString>

#include <string>

// Conversions between the model's UTF-8 byte strings and Qt's texts, and the blank trim
// the dialogs apply (spaces and control characters, as the model's own trim).
inline QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<int>(s.size())); }
inline std::string S(const QString& s) { return s.toUtf8().toStdString(); }

inline QString TrimBlanks(const QString& s) {
    int b = 0, e = static_cast<int>(s.size());
    while (b < e && s.at(b).unicode() <= ' ') ++b;
    while (e > b && s.at(e - 1).unicode() <= ' ') --e;
    return s.mid(b, e - b);
}
