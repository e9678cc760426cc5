#include "MimeEncodedWord.h"

#include <string_view>
#include <vector>

#include "Base64.h"
#include "Charset.h"
#include "MimeHeaderField.h"

namespace {

constexpr std::size_t kMaxEncodedWord = 75;

bool SameCharset(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

bool IsWs(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool IsBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/' || c == '=';
}

// One encoded word starting at s[pos] ("=?"). On success: charset, decoded bytes, and the
// position after "?=".
bool ParseEncodedWord(std::string_view s, std::size_t pos, std::string& charset, std::string& bytes,
                      std::size_t& end) {
    // Every scan below stops at the first character that cannot belong to the word, so
    // text full of "=?" costs linear time.
    const std::size_t q1 = pos + 2;
    std::size_t q2 = q1;
    while (q2 < s.size() && q2 - q1 <= 64 && s[q2] != '?') {
        if (IsWs(s[q2]) || s[q2] == '=') return false;
        ++q2;
    }
    if (q2 >= s.size() || s[q2] != '?' || q2 == q1) return false;
    if (q2 + 2 >= s.size() || s[q2 + 2] != '?') return false;
    const char kind = s[q2 + 1];
    const std::size_t textStart = q2 + 3;
    std::size_t close = textStart;
    while (close < s.size() && s[close] != '?') {
        if (IsWs(s[close])) return false;
        ++close;
    }
    if (close + 1 >= s.size() || s[close + 1] != '=') return false;
    std::string_view text = s.substr(textStart, close - textStart);
    std::string out;
    if (kind == 'Q' || kind == 'q') {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '_') {
                out.push_back(' ');
            } else if (c == '=') {
                if (i + 2 >= text.size()) return false;
                const int hi = HexValue(text[i + 1]);
                const int lo = HexValue(text[i + 2]);
                if (hi < 0 || lo < 0) return false;
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
            } else {
                out.push_back(c);
            }
        }
    } else if (kind == 'B' || kind == 'b') {
        for (char c : text)
            if (!IsBase64Char(c)) return false;
        out = Base64Decode(text);
    } else {
        return false;
    }
    charset.assign(s.substr(q1, q2 - q1));
    bytes = std::move(out);
    end = close + 2;
    return true;
}

std::string UnfoldRaw(const std::string& raw) {
    if (raw.find_first_of("\r\n") == std::string::npos) return raw;
    std::vector<std::string> pieces;
    std::size_t pos = 0;
    while (pos <= raw.size()) {
        std::size_t e = raw.find_first_of("\r\n", pos);
        if (e == std::string::npos) {
            pieces.push_back(raw.substr(pos));
            break;
        }
        pieces.push_back(raw.substr(pos, e - pos));
        pos = e + 1;
        if (raw[e] == '\r' && pos < raw.size() && raw[pos] == '\n') ++pos;
    }
    return UnfoldHeaderValue(pieces);
}

// ---- encoding ----

// Length of the UTF-8 character at s[i] (1 for a byte that starts no valid sequence).
std::size_t Utf8CharLen(std::string_view s, std::size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + n > s.size()) return 1;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
    return n;
}

enum class TQMode { Text, Phrase };

std::string QEncode(std::string_view bytes, TQMode mode) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string r;
    for (unsigned char c : bytes) {
        bool copy;
        if (c == ' ') {
            r.push_back('_');
            continue;
        }
        if (mode == TQMode::Text) {
            copy = c > 32 && c < 127 && c != '?' && c != '=' && c != '_';
        } else {
            copy = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' ||
                   c == '*' || c == '+' || c == '-' || c == '/';
        }
        if (copy) {
            r.push_back(static_cast<char>(c));
        } else {
            r.push_back('=');
            r.push_back(kHex[c >> 4]);
            r.push_back(kHex[c & 15]);
        }
    }
    return r;
}

std::string EncodeBytes(std::string_view bytes, char kind, TQMode mode) {
    return kind == 'B' ? Base64Encode(bytes) : QEncode(bytes, mode);
}

// Bytes of a UTF-8 chunk in the target charset; false when it cannot be represented.
bool ToCharset(std::string_view utf8, const THeaderCharset& cs, std::string& out) {
    if (cs.Charset == "UTF-8") {
        out.assign(utf8);
        return true;
    }
    return ConvertCharset("UTF-8", cs.Charset, utf8, out);
}

// A run of text as encoded words joined by CR LF + blank.
std::string EncodeRun(std::string_view run, THeaderCharset cs, TQMode mode) {
    std::string probe;
    if (!ToCharset(run, cs, probe)) cs = {"UTF-8", 'Q'};  // not representable: say it in UTF-8
    const std::string prefix = "=?" + cs.Charset + "?" + cs.Kind + "?";
    const std::size_t room = kMaxEncodedWord - prefix.size() - 2;

    std::string result;
    std::size_t chunkStart = 0, chunkEnd = 0;
    std::string chunkEncoded;
    auto emit = [&] {
        if (!result.empty()) result += "\r\n ";
        result += prefix + chunkEncoded + "?=";
    };
    std::size_t i = 0;
    while (i < run.size()) {
        const std::size_t n = Utf8CharLen(run, i);
        std::string bytes;
        std::string encoded;
        if (ToCharset(run.substr(chunkStart, i + n - chunkStart), cs, bytes))
            encoded = EncodeBytes(bytes, cs.Kind, mode);
        else
            encoded.assign(room + 1, 'x');  // cannot happen after the probe; forces a new word
        if (encoded.size() > room && chunkEnd > chunkStart) {
            emit();
            chunkStart = chunkEnd;
            continue;  // the same character starts the next word
        }
        // A single character that does not fit alone still gets a word of its own.
        chunkEncoded = std::move(encoded);
        chunkEnd = i + n;
        i += n;
    }
    if (chunkEnd > chunkStart) emit();
    return result;
}

bool NeedsEncodingByte(unsigned char c) { return c < 32 || c >= 127; }

bool IsSpecial(char c) {
    switch (c) {
    case '(': case ')': case '[': case ']': case '<': case '>': case ':': case ';':
    case '.': case ',': case '@': case '\\': case '"':
        return true;
    default:
        return false;
    }
}

std::string EncodeWords(const std::string& text, const THeaderCharset& cs, TQMode mode) {
    const bool looksEncoded = DecodeHeaderValue(text) != text;
    auto needs = [&](std::string_view w) {
        for (char c : w) {
            if (NeedsEncodingByte(static_cast<unsigned char>(c))) return true;
            if (looksEncoded && c == '=') return true;
            if (mode == TQMode::Phrase && IsSpecial(c)) return true;
        }
        return false;
    };
    // Split into (whitespace before, word) pairs and trailing whitespace.
    struct TWord {
        std::string_view ws, word;
    };
    std::vector<TWord> words;
    std::string_view s(text);
    std::size_t pos = 0;
    while (pos < s.size()) {
        std::size_t wsEnd = pos;
        while (wsEnd < s.size() && IsWs(s[wsEnd])) ++wsEnd;
        if (wsEnd == s.size()) break;
        std::size_t wEnd = wsEnd;
        while (wEnd < s.size() && !IsWs(s[wEnd])) ++wEnd;
        words.push_back({s.substr(pos, wsEnd - pos), s.substr(wsEnd, wEnd - wsEnd)});
        pos = wEnd;
    }
    std::string_view trailing = s.substr(pos);

    // Whitespace outside encoded words: a header cannot hold a bare line break.
    auto plainWs = [](std::string_view ws) {
        std::string r(ws);
        for (char& c : r)
            if (c == '\r' || c == '\n') c = ' ';
        return r;
    };

    std::string out;
    for (std::size_t i = 0; i < words.size();) {
        if (!needs(words[i].word)) {
            out += plainWs(words[i].ws);
            out += words[i].word;
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j + 1 < words.size() && needs(words[j + 1].word)) ++j;
        out += plainWs(words[i].ws);
        const char* runBegin = words[i].word.data();
        const char* runEnd = words[j].word.data() + words[j].word.size();
        out += EncodeRun(std::string_view(runBegin, static_cast<std::size_t>(runEnd - runBegin)), cs, mode);
        i = j + 1;
    }
    out += plainWs(trailing);
    return out;
}

}  // namespace

std::string DecodeHeaderValue(const std::string& raw) {
    const std::string s = UnfoldRaw(raw);
    std::string out;
    out.reserve(s.size());

    std::string pendCharset;  // encoded words decoded but not yet converted (same charset)
    std::string pendBytes;
    bool havePending = false;
    auto flush = [&] {
        if (havePending) out += CharsetToUtf8(pendCharset, pendBytes);
        havePending = false;
        pendBytes.clear();
    };

    std::size_t pos = 0;
    bool lastWasEncoded = false;
    std::string heldWs;  // whitespace after an encoded word, dropped if another one follows
    while (pos < s.size()) {
        if (s[pos] == '=' && pos + 1 < s.size() && s[pos + 1] == '?') {
            std::string cs, bytes;
            std::size_t end = 0;
            if (ParseEncodedWord(s, pos, cs, bytes, end)) {
                heldWs.clear();
                if (!(havePending && SameCharset(cs, pendCharset))) {
                    flush();
                    pendCharset = cs;
                    havePending = true;
                }
                pendBytes += bytes;
                lastWasEncoded = true;
                pos = end;
                continue;
            }
        }
        if (lastWasEncoded && IsWs(s[pos])) {
            heldWs.push_back(s[pos++]);
            continue;
        }
        flush();
        out += heldWs;
        heldWs.clear();
        lastWasEncoded = false;
        out.push_back(s[pos++]);
    }
    flush();
    out += heldWs;
    std::erase(out, '\0');
    return out;
}

std::string EncodeHeaderValue(const std::string& text, const THeaderCharset& cs) {
    return EncodeWords(text, cs, TQMode::Text);
}

std::string EncodeHeaderValue(const std::string& text) {
    return EncodeHeaderValue(text, CurrentHeaderCharset());
}

std::string EncodeAddressName(const std::string& name, const THeaderCharset& cs) {
    return EncodeWords(name, cs, TQMode::Phrase);
}
