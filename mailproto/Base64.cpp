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

void AppendEncoded(std::string& out, const unsigned char* p, std::size_t n) {
    char q[4];
    for (std::size_t i = 0; i < n; i += 3) {
        EncodeGroup(p + i, n - i < 3 ? n - i : 3, q);
        out.append(q, 4);
    }
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
    for (unsigned char c : text) {
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
