#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class IMessageSink;

// Quoted-printable (RFC 2045) decoding of a body, one line at a time.
// A line ending in "=" is a soft line break (joined to the next without a line end);
// every other line end is a hard one and becomes CR LF in the output, except after the
// last line (that line end belongs to what follows the body, e.g. a boundary).
// "=XX" with two hex digits becomes the byte XX; a malformed "=" is kept as it is.
// Trailing blanks and tabs of a line are dropped (they were added in transport).
class TQuotedPrintableDecoder {
public:
    explicit TQuotedPrintableDecoder(IMessageSink& out) : out_(out) {}
    // One encoded line without its line end. complete == false: the line goes on in the
    // next call (an overlong line fed in pieces).
    void FeedLine(std::string_view line, bool complete = true);
    void Finish();

private:
    IMessageSink& out_;
    bool pendingBreak_ = false;  // a hard line end is owed before the next line
    bool midLine_ = false;       // the last call fed part of a line
    std::string carry_;          // "=" or "=X" cut off at the end of a partial line
    std::string tailBlanks_;     // blanks at the end of a partial line, dropped if the line ends
};

// Streaming quoted-printable encoder: CR LF in the input is a hard line break, every other
// byte that is not printable ASCII (and "=") is written as "=XX", a blank or tab before a
// line end is encoded, lines are cut with soft breaks ("=") to at most 76 characters.
// Output lines end with CR LF; the output always ends with a line end.
class TQuotedPrintableLineEncoder {
public:
    explicit TQuotedPrintableLineEncoder(IMessageSink& out) : out_(out) {}
    void Feed(const char* data, std::size_t len);
    void Finish();

private:
    void Put(const char* tok, std::size_t n);
    void Byte(unsigned char c);
    IMessageSink& out_;
    std::string buf_;
    std::size_t lineLen_ = 0;
    int pendingBlank_ = -1;  // a blank or tab not yet written (encoded if a line end follows)
    bool pendingCR_ = false;
};

// Encodes bytes as quoted-printable lines of at most 76 characters (without line ends);
// CR LF and lone LF in the input are hard line breaks.
std::vector<std::string> QuotedPrintableEncodeLines(std::string_view bytes);
// Decodes a whole quoted-printable text (lines separated by CR LF or LF).
std::string QuotedPrintableDecode(std::string_view text);
