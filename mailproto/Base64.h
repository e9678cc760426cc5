#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class IMessageSink;

// Base64 with the standard alphabet and "=" padding.

// Whole value on one line, no line breaks (AUTH LOGIN user name and password).
std::string Base64Encode(std::string_view bytes);
// Lenient decoding: characters outside the alphabet (line ends, blanks, garbage) are
// skipped; decoding stops at the first "=" padding; an incomplete last group yields the
// bytes it fully carries.
std::string Base64Decode(std::string_view text);

// Streaming encoder for MIME bodies: input is taken 57 bytes at a time, so every line holds
// 76 characters and only the last may be shorter; each line ends with CR LF.
class TBase64LineEncoder {
public:
    explicit TBase64LineEncoder(IMessageSink& out) : out_(out) {}
    void Feed(const char* data, std::size_t len);
    // Writes the last (short) line, if any. Nothing is written for empty input.
    void Finish();

private:
    void FlushLines();
    IMessageSink& out_;
    unsigned char pending_[57];
    std::size_t pendingLen_ = 0;
    std::string lines_;  // encoded lines waiting to be written, bounded
};

// Streaming decoder: feed the encoded text in pieces of any size (line ends are ignored);
// decoded bytes go to the sink. Lenient in the same way as Base64Decode.
class TBase64Decoder {
public:
    explicit TBase64Decoder(IMessageSink& out) : out_(out) {}
    void Feed(std::string_view text);
    void Finish();
    // True once "=" padding was seen; the rest of the input is ignored.
    bool Ended() const { return ended_; }

private:
    void Flush();
    IMessageSink& out_;
    uint32_t quad_ = 0;
    int count_ = 0;
    bool ended_ = false;
    std::string buf_;  // decoded bytes waiting to be written, bounded
};
