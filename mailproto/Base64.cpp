#include "Base64.h"

#include "MimeSink.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// -1: not part of the alphabet; -2: padding.
struct TDecodeTable {
    signed char v[256];
    TDecodeTable() {
        for (int i = 0; i < 256; ++i) v[i] = -1;
        for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
        v[static_cast<unsigned char>('=')] = -2;
    }
};
const TDecodeTable kDecode;

void EncodeGroup(const unsigned char* in, std::size_t n, char* out) {
    uint32_t v = static_cast<uint32_t>(in[0]) << 16;
    if (n > 1) v |= static_cast<uint32_t>(in[1]) << 8;
    if (n > 2) v |= in[2];
    out[0] = kAlphabet[(v >> 18) & 63];
    out[1] = kAlphabet[(v >> 12) & 63];
    out[2] = n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    out[3] = n > 2 ? kAlphabet[v & 63] : '=';
}

// Two base64 characters for each 12-bit value: one table look-up per half group.
struct TPairTable {
    char v[4096][2];
    TPairTable() {
        for (int i = 0; i < 4096; ++i) {
            v[i][0] = kAlphabet[i >> 6];
            v[i][1] = kAlphabet[i & 63];
        }
    }
};
const TPairTable kPairs;

void AppendEncoded(std::string& out, const unsigned char* p, std::size_t n) {
    const std::size_t start = out.size();
    out.resize(start + (n + 2) / 3 * 4);
    char* q = out.data() + start;
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3, q += 4) {
        const uint32_t v = static_cast<uint32_t>(p[i]) << 16 | static_cast<uint32_t>(p[i + 1]) << 8 | p[i + 2];
        const char* hi = kPairs.v[v >> 12];
        const char* lo = kPairs.v[v & 4095];
        q[0] = hi[0];
        q[1] = hi[1];
        q[2] = lo[0];
        q[3] = lo[1];
    }
    if (i < n) EncodeGroup(p + i, n - i, q);
}

constexpr std::size_t kFlushAt = 64 * 1024;

}  // namespace

std::string Base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    AppendEncoded(out, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return out;
}

std::string Base64Decode(std::string_view text) {
    std::string out;
    TStringSink sink(out);
    TBase64Decoder dec(sink);
    dec.Feed(text);
    dec.Finish();
    return out;
}

void TBase64LineEncoder::Feed(const char* data, std::size_t len) {
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    while (len > 0) {
        if (pendingLen_ == 0 && len >= 57) {
            AppendEncoded(lines_, p, 57);
            lines_.append("\r\n");
            p += 57;
            len -= 57;
        } else {
            std::size_t take = 57 - pendingLen_;
            if (take > len) take = len;
            for (std::size_t i = 0; i < take; ++i) pending_[pendingLen_ + i] = p[i];
            pendingLen_ += take;
            p += take;
            len -= take;
            if (pendingLen_ == 57) {
                AppendEncoded(lines_, pending_, 57);
                lines_.append("\r\n");
                pendingLen_ = 0;
            }
        }
        if (lines_.size() >= kFlushAt) FlushLines();
    }
}

void TBase64LineEncoder::Finish() {
    if (pendingLen_ > 0) {
        AppendEncoded(lines_, pending_, pendingLen_);
        lines_.append("\r\n");
        pendingLen_ = 0;
    }
    FlushLines();
}

void TBase64LineEncoder::FlushLines() {
    if (!lines_.empty()) {
        out_.Write(lines_.data(), lines_.size());
        lines_.clear();
    }
}

void TBase64Decoder::Feed(std::string_view text) {
    if (ended_) return;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    while (p < end) {
        if (count_ == 0) {
            // Whole groups of four alphabet characters, the bulk of every line.
            char chunk[3 * 1024];
            std::size_t filled = 0;
            while (end - p >= 4) {
                const int a = kDecode.v[p[0]], b = kDecode.v[p[1]], c = kDecode.v[p[2]], d = kDecode.v[p[3]];
                if ((a | b | c | d) < 0) break; // a line end, padding or a stray character
                const uint32_t v = static_cast<uint32_t>(a) << 18 | static_cast<uint32_t>(b) << 12 |
                                   static_cast<uint32_t>(c) << 6 | static_cast<uint32_t>(d);
                chunk[filled] = static_cast<char>(v >> 16);
                chunk[filled + 1] = static_cast<char>(v >> 8);
                chunk[filled + 2] = static_cast<char>(v);
                filled += 3;
                p += 4;
                if (filled == sizeof chunk) {
                    buf_.append(chunk, filled);
                    filled = 0;
                    if (buf_.size() >= kFlushAt) Flush();
                }
            }
            if (filled) buf_.append(chunk, filled);
            if (buf_.size() >= kFlushAt) Flush();
            if (p == end) break;
        }
        const unsigned char c = *p++;
        const int v = kDecode.v[c];
        if (v == -1) continue;
        if (v == -2) {
            ended_ = true;
            break;
        }
        quad_ = (quad_ << 6) | static_cast<uint32_t>(v);
        if (++count_ == 4) {
            buf_.push_back(static_cast<char>((quad_ >> 16) & 0xFF));
            buf_.push_back(static_cast<char>((quad_ >> 8) & 0xFF));
            buf_.push_back(static_cast<char>(quad_ & 0xFF));
            quad_ = 0;
            count_ = 0;
            if (buf_.size() >= kFlushAt) Flush();
        }
    }
    if (ended_) Finish();
}

void TBase64Decoder::Finish() {
    // An incomplete last group: 2 characters carry one byte, 3 carry two.
    if (count_ == 2) {
        buf_.push_back(static_cast<char>((quad_ >> 4) & 0xFF));
    } else if (count_ == 3) {
        buf_.push_back(static_cast<char>((quad_ >> 10) & 0xFF));
        buf_.push_back(static_cast<char>((quad_ >> 2) & 0xFF));
    }
    quad_ = 0;
    count_ = 0;
    Flush();
}

void TBase64Decoder::Flush() {
    if (!buf_.empty()) {
        out_.Write(buf_.data(), buf_.size());
        buf_.clear();
    }
}
