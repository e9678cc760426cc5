#pragma once
#include <string>
#include <string_view>

class IMessageSink;

// Decodes the data lines of a uuencoded or xxencoded block (the lines between "begin ..."
// and "end"). Each line starts with a length character; groups of four characters carry
// three bytes. Characters outside the alphabet count as zero, so damaged lines give wrong
// bytes but never read past the line.
class TUuDecoder {
public:
    enum TKind { ukUU, ukXX };
    TUuDecoder(IMessageSink& out, TKind kind) : out_(out), kind_(kind) {}
    void FeedLine(std::string_view line);

    // Tells uuencode from xxencode by the first data line of a block: by which alphabet's
    // length character fits the line's length, else by lower-case letters (xxencode only).
    static TKind Detect(std::string_view firstDataLine);
    // "begin 644 name": true with the file name when the line opens a block.
    static bool IsBeginLine(std::string_view line, std::string& fileName);

private:
    static int Value(TKind kind, unsigned char c);
    IMessageSink& out_;
    TKind kind_;
};
