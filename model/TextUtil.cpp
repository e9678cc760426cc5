#include "TextUtil.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string LowerAscii(std::string s) {
    for (auto& c : s) c = LowerAscii(c);
    return s;
}

std::string TrimBlanks(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool SameTextAscii(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool StartsTextAscii(std::string_view prefix, std::string_view text) {
    if (prefix.size() > text.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (LowerAscii(prefix[i]) != LowerAscii(text[i])) return false;
    return true;
}

int PosText(const std::string& part, const std::string& text) {
    if (part.empty() || part.size() > text.size()) return 0;
    for (size_t i = 0; i + part.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < part.size() && LowerAscii(part[k]) == LowerAscii(text[i + k])) ++k;
        if (k == part.size()) return static_cast<int>(i + 1);
    }
    return 0;
}

char DecimalSeparator() {
    const lconv* lc = std::localeconv();
    if (lc && lc->decimal_point && lc->decimal_point[0] && !lc->decimal_point[1])
        return lc->decimal_point[0];
    return '.';
}

std::string FloatToText(double value) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    if (value == 0) return "0";
    // 15 significant digits in scientific form give the digits and the exponent.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    std::string s(buf);
    size_t e = s.find('e');
    std::string digits = s.substr(0, 1) + s.substr(2, e - 2); // 15 digits, no point
    int exp10 = std::atoi(s.c_str() + e + 1);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    const char sep = DecimalSeparator();
    std::string out = value < 0 ? "-" : "";
    if (exp10 >= 15 || exp10 < -5) {
        out += digits[0];
        if (digits.size() > 1) out += sep + digits.substr(1);
        out += 'E';
        out += std::to_string(exp10);
        return out;
    }
    if (exp10 < 0) {
        out += '0';
        out += sep;
        out += std::string(static_cast<size_t>(-exp10 - 1), '0') + digits;
        return out;
    }
    size_t intLen = static_cast<size_t>(exp10) + 1;
    if (digits.size() <= intLen) return out + digits + std::string(intLen - digits.size(), '0');
    return out + digits.substr(0, intLen) + sep + digits.substr(intLen);
}

double TextToFloat(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
    std::string t = text.substr(b, e - b);
    // Only sign, digits, one separator and an exponent: refuse "inf", "nan", hex and such.
    size_t i = 0, digits = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
    if (i < t.size() && (t[i] == '.' || t[i] == ',')) {
        t[i] = '.';
        ++i;
        while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
    }
    if (digits > 0 && i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        size_t j = i + 1;
        if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
        size_t expDigits = 0;
        while (j < t.size() && t[j] >= '0' && t[j] <= '9') ++j, ++expDigits;
        if (expDigits > 0) i = j;
    }
    if (digits == 0 || i != t.size())
        throw EConvertError("'" + text + "' is not a valid floating point value");
    const char* first = t.c_str();
    if (*first == '+') ++first;
    double v = 0;
    auto [ptr, ec] = std::from_chars(first, t.c_str() + t.size(), v);
    if (ec != std::errc() || ptr != t.c_str() + t.size() || !std::isfinite(v))
        throw EConvertError("'" + text + "' is not a valid floating point value");
    return v;
}

bool ParseDecimal(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        uint64_t d = static_cast<uint64_t>(c - '0');
        if (v > (max - d) / 10) return false;
        v = v * 10 + d;
    }
    value = v;
    return true;
}

std::string SizeToText(uint32_t bytes) {
    uint32_t kb = bytes == 0 ? 0 : ((bytes - 1) >> 10) + 1;
    std::string s = std::to_string(kb);
    if (s.size() > 3) s.insert(s.size() - 3, ",");
    return s + " KB";
}

namespace {
bool IsSep(char c) { return c == '\\' || c == '/'; }
} // namespace

std::string ParentPath(const std::string& path) {
    std::string s = path;
    if (!s.empty() && IsSep(s.back())) s.pop_back();
    while (!s.empty() && !IsSep(s.back())) s.pop_back();
    return s;
}

std::string LastPathPart(const std::string& path) {
    // The result names a mailbox folder, so it always ends with a backslash, also when the
    // argument is a local path.
    std::string s = path;
    if (!s.empty() && IsSep(s.back())) s.pop_back();
    size_t p = s.find_last_of("\\/");
    if (p != std::string::npos) s = s.substr(p + 1);
    return s + '\\';
}

std::string LongDateText(TDateTime dt) {
    std::tm tm{};
    int ms = 0;
    if (!DecodeDateTime(dt, tm, ms)) return {};
    char day[64], month[64];
    std::strftime(day, sizeof day, "%A", &tm);
    std::strftime(month, sizeof month, "%B", &tm);
    int hour12 = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
    char buf[256];
    std::snprintf(buf, sizeof buf, "%s, %s %02d, %04d, %02d:%02d:%02d %s", day, month, tm.tm_mday,
                  tm.tm_year + 1900, hour12, tm.tm_min, tm.tm_sec, tm.tm_hour < 12 ? "AM" : "PM");
    return buf;
}

std::string FileTimeToText(const struct timespec& t) {
    // Whole milliseconds, as the file-time conversion keeps them.
    long ms = t.tv_nsec / 1000000;
    return FloatToText(UnixToDateTime(static_cast<int64_t>(t.tv_sec), ms * 1000000L));
}

std::string DateTimeDisplayText(const std::string& dateTimeText) {
    double dt = 0;
    try {
        dt = TextToFloat(dateTimeText);
    } catch (const EConvertError&) {
        return {};
    }
    std::tm tm{};
    int ms = 0;
    if (!DecodeDateTime(dt, tm, ms)) return {};
    char buf[128];
    bool midnight = tm.tm_hour == 0 && tm.tm_min == 0 && tm.tm_sec == 0 && ms == 0;
    std::strftime(buf, sizeof buf, midnight ? "%x" : "%x %X", &tm);
    return buf;
}
