#include "MimeUuDecoder.h"

#include "MimeSink.h"

namespace {
const char kXXAlphabet[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
}

int TUuDecoder::Value(TKind kind, unsigned char c) {
    if (kind == ukUU) return (c - 32) & 63;
    for (int i = 0; i < 64; ++i)
        if (static_cast<unsigned char>(kXXAlphabet[i]) == c) return i;
    return 0;
}

void TUuDecoder::FeedLine(std::string_view line) {
    if (line.empty()) return;
    std::size_t n = static_cast<std::size_t>(Value(kind_, static_cast<unsigned char>(line[0])));
    std::string out;
    std::size_t i = 1;
    while (out.size() < n) {
        int v[4];
        for (int k = 0; k < 4; ++k)
            v[k] = i + k < line.size() ? Value(kind_, static_cast<unsigned char>(line[i + k])) : 0;
        const char b[3] = {static_cast<char>((v[0] << 2) | (v[1] >> 4)),
                           static_cast<char>(((v[1] & 15) << 4) | (v[2] >> 2)),
                           static_cast<char>(((v[2] & 3) << 6) | v[3])};
        for (int k = 0; k < 3 && out.size() < n; ++k) out.push_back(b[k]);
        i += 4;
    }
    if (!out.empty()) out_.Write(out.data(), out.size());
}

TUuDecoder::TKind TUuDecoder::Detect(std::string_view firstDataLine) {
    std::string_view l = firstDataLine;
    while (!l.empty() && (l.back() == ' ' || l.back() == '\r')) l.remove_suffix(1);
    if (l.empty()) return ukUU;
    // A data line holds its length character and four characters per three bytes (some
    // encoders add one padding character): see which alphabet gives a length that fits.
    auto fits = [&](int n) {
        const std::size_t expect = 1 + 4 * ((static_cast<std::size_t>(n) + 2) / 3);
        return (firstDataLine.size() >= expect && firstDataLine.size() <= expect + 1) ||
               (l.size() >= expect && l.size() <= expect + 1);
    };
    const unsigned char c = static_cast<unsigned char>(l[0]);
    const bool uuFits = c >= 32 && c <= 96 && fits(Value(ukUU, c));
    const bool xxFits = fits(Value(ukXX, c));
    if (xxFits && !uuFits) return ukXX;
    if (uuFits) return ukUU;
    for (char ch : l)
        if (ch >= 'a' && ch <= 'z') return ukXX;  // uuencode never uses lower-case letters
    return ukUU;
}

bool TUuDecoder::IsBeginLine(std::string_view line, std::string& fileName) {
    if (line.substr(0, 6) != "begin ") return false;
    std::size_t i = 6;
    const std::size_t modeStart = i;
    while (i < line.size() && line[i] >= '0' && line[i] <= '7') ++i;
    const std::size_t modeLen = i - modeStart;
    if (modeLen < 3 || modeLen > 4 || i >= line.size() || line[i] != ' ') return false;
    std::string_view name = line.substr(i + 1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t' || name.back() == '\r')) name.remove_suffix(1);
    if (name.empty()) return false;
    fileName.assign(name);
    return true;
}
