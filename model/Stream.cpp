#include "Stream.h"

#include <cmath>

void TStreamWriter::WriteString(const std::string& s) {
    uint32_t len = static_cast<uint32_t>(s.size());
    for (int i = 0; i < 4; ++i) data_ += static_cast<char>((len >> (8 * i)) & 0xFF);
    unsigned char prev = static_cast<unsigned char>(len & 0xFF);
    for (unsigned char c : s) {
        data_ += static_cast<char>(c ^ prev);
        prev = c;
    }
}

void TStreamWriter::WriteFloat(double v) { WriteString(FloatToText(v)); }

std::string TStreamReader::ReadString() {
    if (data_.size() - pos_ < 4) {
        pos_ = data_.size();
        throw EReadError("Read beyond end of stream");
    }
    uint32_t raw = 0;
    for (int i = 0; i < 4; ++i)
        raw |= static_cast<uint32_t>(static_cast<unsigned char>(data_[pos_ + i])) << (8 * i);
    pos_ += 4;
    int32_t len = static_cast<int32_t>(raw);
    if (len < 0) throw EReadError("Invalid string length in stream");
    size_t take = std::min<size_t>(static_cast<size_t>(len), data_.size() - pos_);
    std::string s;
    s.reserve(take);
    unsigned char prev = static_cast<unsigned char>(raw & 0xFF);
    for (size_t i = 0; i < take; ++i) {
        unsigned char c = static_cast<unsigned char>(data_[pos_ + i]) ^ prev;
        s += static_cast<char>(c);
        prev = c;
    }
    pos_ += take;
    return s;
}

double TStreamReader::ReadFloat() { return TextToFloat(ReadString()); }

int32_t TStreamReader::ReadInteger() {
    double v = ReadFloat();
    double r = std::nearbyint(v); // the default rounding mode: halves to even
    if (!(std::fabs(r) < 9.0e18)) throw EConvertError("Number out of range");
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(r)));
}

uint8_t TStreamReader::ReadFlag() { return static_cast<uint8_t>(ReadInteger() & 0xFF); }
