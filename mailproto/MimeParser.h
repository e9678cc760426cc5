#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TIdMessage;

// Turns received message text into a TIdMessage, line by line, while it arrives.
//
//   msg.Clear();
//   TMimeParser parser(msg);
//   while (...) parser.FeedLine(line);   // or parser.FeedBytes(chunk, n) for raw bytes
//   parser.Finish();
//
// The header ends at the first empty line; its fields fill Subject, From, Recipients,
// ContentType, ... (encoded words decoded to UTF-8). Feeding only the header lines and then
// Finish() is a header fetch. The body fills Body, text parts and attachments; attachment
// bytes are decoded (base64, quoted-printable, uuencode/xxencode, 7bit/8bit/binary) and
// written to temporary files (or memory, see TIdMessage::AttachmentStorage) as the lines
// arrive, so memory stays bounded whatever the message size.
//
// Foreign or damaged input never crashes the parser and never makes it allocate without
// bound: the header is kept up to kMaxHeaderBytes, text kept in memory up to
// kMaxTextBytes, at most kMaxParts parts, multipart nesting up to kMaxDepth levels (deeper
// containers are kept as opaque attachments), FeedBytes lines up to kMaxLineLength (longer
// ones are handled in pieces). What is beyond a bound is dropped and Truncated() is set.
// Errors (a temporary file that cannot be written, a memory attachment over its limit)
// raise EIdMessageException.
class TMimeParser {
public:
    static constexpr std::size_t kMaxHeaderBytes = 1 << 20;
    static constexpr std::size_t kMaxTextBytes = 16 << 20;
    static constexpr std::size_t kMaxParts = 1000;
    static constexpr std::size_t kMaxDepth = 20;
    static constexpr std::size_t kMaxLineLength = 1 << 20;

    explicit TMimeParser(TIdMessage& msg);
    ~TMimeParser();
    TMimeParser(const TMimeParser&) = delete;
    TMimeParser& operator=(const TMimeParser&) = delete;

    // One line without its line end (a CR left at its end is removed). POP3: the caller has
    // already removed the stuffed dot and stops before the terminating ".".
    void FeedLine(std::string_view line);
    // Raw bytes in pieces of any size; lines are cut at LF (CR before it removed).
    void FeedBytes(const char* data, std::size_t len);
    // End of input: closes open parts, applies the header if the body never started.
    void Finish();

    // True until the empty line that ends the header has been fed.
    bool InHeader() const;
    bool Truncated() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};
