#include "MimeHeaderField.h"

#include <cstdio>
#include <cstring>
#include <strings.h>
#include <map>

#include "Charset.h"
#include "ProtoText.h"

namespace {

constexpr std::size_t kFoldColumn = 78;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

using prototext::Trim;

std::string Lower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

// Folds one physical line; minPos: first index at which a break may happen. Runs in time
// linear in the line's length.
void FoldSegment(const std::string& seg, std::size_t minPos, bool& quoted, std::string& out) {
    // Break candidates: single blanks between two non-blanks, outside double quotes.
    std::vector<std::size_t> cand;
    for (std::size_t k = 0; k < seg.size(); ++k) {
        if (seg[k] == ' ' && !quoted && k >= minPos && k > 0 && k + 1 < seg.size() && !IsBlank(seg[k - 1]) &&
            !IsBlank(seg[k + 1]))
            cand.push_back(k);
        if (seg[k] == '"' && (k == 0 || seg[k - 1] != '\\')) quoted = !quoted;
    }
    std::size_t start = 0;  // start of the current output line
    std::size_t c = 0;      // first candidate after start
    while (seg.size() - start > kFoldColumn) {
        while (c < cand.size() && cand[c] <= start) ++c;
        if (c == cand.size()) break;  // nothing to break at: the rest stays one line
        // The last candidate within the column limit, else the first one after it.
        std::size_t pick = c;
        while (pick + 1 < cand.size() && cand[pick + 1] - start <= kFoldColumn) ++pick;
        const std::size_t brk = cand[pick];
        out.append(seg, start, brk - start);
        out.append("\r\n");
        start = brk;  // the continuation starts with the blank
        c = pick + 1;
    }
    out.append(seg, start, std::string::npos);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string PercentDecode(std::string_view s) {
    std::string r;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
            r.push_back(static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2])));
            i += 2;
        } else {
            r.push_back(s[i]);
        }
    }
    return r;
}

std::string Unquote(std::string_view v) {
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
        std::string r;
        for (std::size_t i = 1; i + 1 < v.size(); ++i) {
            if (v[i] == '\\' && i + 2 < v.size()) ++i;
            r.push_back(v[i]);
        }
        return r;
    }
    return std::string(v);
}

const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::string FoldHeaderLine(const std::string& line) {
    std::string out;
    const std::size_t colon = line.find(':');
    std::size_t minPos = colon == std::string::npos ? 0 : colon + 2;
    bool quoted = false;
    std::size_t pos = 0;
    while (true) {
        const std::size_t br = line.find("\r\n", pos);
        FoldSegment(line.substr(pos, br == std::string::npos ? std::string::npos : br - pos), minPos,
                    quoted, out);
        if (br == std::string::npos) break;
        out.append("\r\n");
        pos = br + 2;
        minPos = 1;
    }
    return out;
}

std::string UnfoldHeaderValue(const std::vector<std::string>& pieces) {
    std::string r;
    for (const auto& p : pieces) {
        std::string t = Trim(p);
        if (t.empty()) continue;
        if (!r.empty()) r.push_back(' ');
        r += t;
    }
    return r;
}

std::string THeaderParams::Param(std::string_view name) const {
    const std::string n = Lower(name);
    for (const auto& p : Params)
        if (p.first == n) return p.second;
    return {};
}

THeaderParams ParseHeaderParams(std::string_view field) {
    THeaderParams result;
    // Split at ";" outside double quotes.
    std::vector<std::string_view> items;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (quoted && c == '\\') {
            ++i;
            continue;
        }
        if (c == '"') quoted = !quoted;
        else if (c == ';' && !quoted) {
            items.push_back(field.substr(start, i - start));
            start = i + 1;
            if (items.size() > 200) break;
        }
    }
    if (start <= field.size() && items.size() <= 200) items.push_back(field.substr(start));
    if (items.empty()) return result;
    result.Value = Trim(items[0]);

    // RFC 2231 pieces: base name -> index -> (value, percent-encoded)
    struct TPiece {
        std::string value;
        bool encoded;
    };
    std::map<std::string, std::map<int, TPiece>> extended;
    std::vector<std::string> order;
    for (std::size_t i = 1; i < items.size(); ++i) {
        const std::string_view item = items[i];
        const std::size_t eq = item.find('=');
        if (eq == std::string_view::npos) continue;
        std::string name = Lower(Trim(item.substr(0, eq)));
        std::string value = Trim(item.substr(eq + 1));
        if (name.empty()) continue;
        const std::size_t star = name.find('*');
        if (star == std::string::npos) {
            result.Params.emplace_back(name, Unquote(value));
            continue;
        }
        std::string base = name.substr(0, star);
        std::string rest = name.substr(star + 1);
        bool encoded = false;
        int index = 0;
        if (rest.empty()) {
            encoded = true;
        } else {
            if (rest.back() == '*') {
                encoded = true;
                rest.pop_back();
            }
            if (rest.empty() || rest.size() > 3 || rest.find_first_not_of("0123456789") != std::string::npos)
                continue;
            index = std::stoi(rest);
        }
        if (!extended.count(base)) order.push_back(base);
        extended[base][index] = {encoded ? value : Unquote(value), encoded};
    }
    for (const auto& base : order) {
        const auto& pieces = extended[base];
        std::string charset;
        std::string bytes;
        bool first = true;
        for (const auto& [idx, piece] : pieces) {
            std::string v = piece.value;
            if (first && piece.encoded) {
                // charset'language'text
                const std::size_t a = v.find('\'');
                const std::size_t b = a == std::string::npos ? std::string::npos : v.find('\'', a + 1);
                if (b != std::string::npos) {
                    charset = v.substr(0, a);
                    v = v.substr(b + 1);
                }
            }
            bytes += piece.encoded ? PercentDecode(v) : v;
            first = false;
        }
        std::string value = charset.empty() ? bytes : CharsetToUtf8(charset, bytes);
        bool replaced = false;
        for (auto& p : result.Params)
            if (p.first == base) {
                p.second = value;  // the extended form wins over a plain one
                replaced = true;
            }
        if (!replaced) result.Params.emplace_back(base, value);
    }
    return result;
}

std::string FormatMailDate(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    long off = tm.tm_gmtoff;
    const char sign = off < 0 ? '-' : '+';
    if (off < 0) off = -off;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %d %s %d %02d:%02d:%02d %c%02ld%02ld", kDays[tm.tm_wday % 7], tm.tm_mday,
                  kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, sign,
                  off / 3600, (off / 60) % 60);
    return buf;
}

std::time_t ParseMailDate(std::string_view text) {
    std::string s = Trim(text);
    if (s.size() > 200) return 0;
    if (auto comma = s.find(','); comma != std::string::npos) s = Trim(std::string_view(s).substr(comma + 1));
    int day = 0, year = 0, hh = 0, mm = 0, ss = 0;
    char mon[16] = {0}, zone[16] = {0};
    int n = std::sscanf(s.c_str(), "%d %15s %d %d:%d:%d %15s", &day, mon, &year, &hh, &mm, &ss, zone);
    if (n < 6) {
        ss = 0;
        zone[0] = 0;
        n = std::sscanf(s.c_str(), "%d %15s %d %d:%d %15s", &day, mon, &year, &hh, &mm, zone);
        if (n < 5) return 0;
    }
    int month = -1;
    for (int i = 0; i < 12; ++i)
        if (strncasecmp(mon, kMonths[i], 3) == 0) month = i;
    if (month < 0 || day < 1 || day > 31 || hh > 23 || mm > 59 || ss > 60) return 0;
    if (year < 50) year += 2000;
    else if (year < 1000) year += 1900;
    long offset = 0;
    const std::string z = zone;
    if (!z.empty() && (z[0] == '+' || z[0] == '-') && z.size() >= 5) {
        const int v = std::atoi(z.c_str() + 1);
        offset = (v / 100) * 3600L + (v % 100) * 60L;
        if (z[0] == '-') offset = -offset;
    } else {
        static const std::pair<const char*, int> kZones[] = {
            {"EST", -5}, {"EDT", -4}, {"CST", -6}, {"CDT", -5}, {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
        for (const auto& [name, h] : kZones)
            if (strcasecmp(z.c_str(), name) == 0) offset = h * 3600L;
    }
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month;
    tm.tm_mday = day;
    tm.tm_hour = hh;
    tm.tm_min = mm;
    tm.tm_sec = ss;
    const std::time_t utc = timegm(&tm);
    if (utc == static_cast<std::time_t>(-1)) return 0;
    return utc - offset;
}
