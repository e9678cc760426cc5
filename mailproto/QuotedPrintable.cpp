#include "QuotedPrintable.h"

#include "MimeSink.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void DecodeInto(std::string_view s, std::string& out) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '=' && i + 2 < s.size()) {
            const int hi = HexValue(s[i + 1]);
            const int lo = HexValue(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(s[i]);
    }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

void TQuotedPrintableDecoder::FeedLine(std::string_view line, bool complete) {
    std::string s;
    s.reserve(tailBlanks_.size() + carry_.size() + line.size());
    s.append(tailBlanks_).append(carry_).append(line);
    tailBlanks_.clear();
    carry_.clear();

    std::string out;
    if (!midLine_ && pendingBreak_) out.append("\r\n");
    pendingBreak_ = false;

    if (complete) {
        std::size_t end = s.size();
        while (end > 0 && IsBlank(s[end - 1])) --end;
        bool soft = false;
        if (end > 0 && s[end - 1] == '=') {
            soft = true;
            --end;
        }
        DecodeInto(std::string_view(s).substr(0, end), out);
        pendingBreak_ = !soft;
        midLine_ = false;
    } else {
        std::size_t end = s.size();
        // Hold back an escape that may be cut ("=" or "=X") and trailing blanks, which are
        // dropped if the line ends right after them.
        if (end >= 1 && s[end - 1] == '=') {
            carry_ = s.substr(end - 1);
            end -= 1;
        } else if (end >= 2 && s[end - 2] == '=') {
            carry_ = s.substr(end - 2);
            end -= 2;
        }
        if (carry_.empty()) {
            std::size_t b = end;
            while (b > 0 && IsBlank(s[b - 1])) --b;
            tailBlanks_ = s.substr(b, end - b);
            end = b;
        }
        DecodeInto(std::string_view(s).substr(0, end), out);
        midLine_ = true;
    }
    if (!out.empty()) out_.Write(out.data(), out.size());
}

void TQuotedPrintableDecoder::Finish() {
    if (midLine_) FeedLine({}, true);
    pendingBreak_ = false;  // the last line end belongs to what follows the body
}

std::vector<std::string> QuotedPrintableEncodeLines(std::string_view bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (true) {
        std::size_t lf = bytes.find('\n', pos);
        std::string_view src = bytes.substr(pos, lf == std::string_view::npos ? std::string_view::npos : lf - pos);
        if (lf != std::string_view::npos && !src.empty() && src.back() == '\r') src.remove_suffix(1);
        std::string cur;
        for (std::size_t i = 0; i < src.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(src[i]);
            const bool last = i + 1 == src.size();
            std::string tok;
            if ((c >= 33 && c <= 126 && c != '=') || (IsBlank(static_cast<char>(c)) && !last)) {
                tok.assign(1, static_cast<char>(c));
            } else {
                tok = {'=', kHex[c >> 4], kHex[c & 15]};
            }
            if (cur.size() + tok.size() > 75) {
                lines.push_back(cur + "=");
                cur.clear();
            }
            cur += tok;
        }
        lines.push_back(cur);
        if (lf == std::string_view::npos) break;
        pos = lf + 1;
        if (pos == bytes.size()) break;  // text ending with a line end: no extra empty line
    }
    return lines;
}

std::string QuotedPrintableDecode(std::string_view text) {
    std::string out;
    TStringSink sink(out);
    TQuotedPrintableDecoder dec(sink);
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t lf = text.find('\n', pos);
        std::string_view line = text.substr(pos, lf == std::string_view::npos ? std::string_view::npos : lf - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        dec.FeedLine(line);
        if (lf == std::string_view::npos) break;
        pos = lf + 1;
        if (pos == text.size()) {
            // The text ended with a line end: that break is part of the content.
            dec.FeedLine({});
            break;
        }
    }
    dec.Finish();
    return out;
}

void TQuotedPrintableLineEncoder::Put(const char* tok, std::size_t n) {
    if (lineLen_ + n > 75) {
        buf_.append("=\r\n");
        lineLen_ = 0;
    }
    buf_.append(tok, n);
    lineLen_ += n;
}

void TQuotedPrintableLineEncoder::Byte(unsigned char c) {
    static const char kHex[] = "0123456789ABCDEF";
    if (c == ' ' || c == '\t') {
        pendingBlank_ = c;
        return;
    }
    if ((c >= 33 && c <= 126 && c != '=')) {
        const char t = static_cast<char>(c);
        Put(&t, 1);
    } else {
        const char t[3] = {'=', kHex[c >> 4], kHex[c & 15]};
        Put(t, 3);
    }
}

void TQuotedPrintableLineEncoder::Feed(const char* data, std::size_t len) {
    for (std::size_t i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (pendingCR_) {
            pendingCR_ = false;
            if (c == '\n') {
                if (pendingBlank_ >= 0) {
                    const char t[3] = {'=', '2', pendingBlank_ == ' ' ? '0' : '9'};
                    pendingBlank_ = -1;
                    Put(t, 3);
                }
                buf_.append("\r\n");
                lineLen_ = 0;
                continue;
            }
            if (pendingBlank_ >= 0) {
                const char b = static_cast<char>(pendingBlank_);
                pendingBlank_ = -1;
                Put(&b, 1);
            }
            Byte('\r');
        }
        if (c == '\r') {
            pendingCR_ = true;
            continue;
        }
        if (pendingBlank_ >= 0) {
            const char b = static_cast<char>(pendingBlank_);
            pendingBlank_ = -1;
            Put(&b, 1);
        }
        Byte(c);
        if (buf_.size() >= 64 * 1024) {
            out_.Write(buf_.data(), buf_.size());
            buf_.clear();
        }
    }
}

void TQuotedPrintableLineEncoder::Finish() {
    if (pendingCR_) {
        pendingCR_ = false;
        if (pendingBlank_ >= 0) {
            const char b = static_cast<char>(pendingBlank_);
            pendingBlank_ = -1;
            Put(&b, 1);
        }
        Byte('\r');
    }
    if (pendingBlank_ >= 0) {
        const char t[3] = {'=', '2', pendingBlank_ == ' ' ? '0' : '9'};
        pendingBlank_ = -1;
        Put(t, 3);
    }
    if (lineLen_ > 0) buf_.append("\r\n");
    lineLen_ = 0;
    if (!buf_.empty()) out_.Write(buf_.data(), buf_.size());
    buf_.clear();
}
