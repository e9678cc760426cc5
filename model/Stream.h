#pragma once
#include <cstdint>
#include <string>

#include "TextUtil.h"

// The item encodings of Data.bin. A string is a 32-bit little-endian length and the bytes
// chained by XOR (first byte XOR length mod 256, every further byte XOR the previous plain
// byte); a number is a string holding its decimal text; a flag is the number 0 or 1.

class TStreamWriter {
public:
    void WriteString(const std::string& s);
    void WriteFloat(double v);
    void WriteInteger(int64_t v) { WriteFloat(static_cast<double>(v)); }
    void WriteFlag(uint8_t b) { WriteFloat(b & 0x7F); }
    const std::string& Data() const { return data_; }

private:
    std::string data_;
};

// Raised when a read runs past the end of the data.
class EReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TStreamReader {
public:
    explicit TStreamReader(std::string data) : data_(std::move(data)) {}

    // A length that runs past the end gives what is there; EReadError when not even the
    // four length bytes are left or the length is negative.
    std::string ReadString();
    double ReadFloat();       // EConvertError for text that is not a number
    int32_t ReadInteger();    // rounded half to even, low 32 bits kept
    uint32_t ReadCardinal() { return static_cast<uint32_t>(ReadInteger()); }
    uint8_t ReadFlag();       // low 8 bits; any other value than 0 means set
    bool AtEnd() const { return pos_ >= data_.size(); }
    size_t Position() const { return pos_; }

private:
    std::string data_;
    size_t pos_ = 0;
};
