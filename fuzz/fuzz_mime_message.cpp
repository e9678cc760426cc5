// Fuzz target: the MIME parser on a whole received message (a POP3 RETR or IMAP4 RFC822
// literal). The input is parsed four ways, which must give the same message:
//   - raw bytes at once (FeedBytes, as LoadFromString),
//   - raw bytes in small pieces (FeedBytes, as an IMAP4 literal arrives),
//   - line by line (FeedLine, as the POP3 client hands the lines on),
//   - at once with attachments streamed (asStream, as a download): the first attachment's
//     bytes must be those the memory parse kept.
// Any input must parse without a crash, hang or unbounded memory, and the raw line-by-line
// equivalence holds because no input line reaches the parser's line limit (-max_len).
#include "FuzzCheck.h"
#include "IdMessage.h"
#include "MessageSnapshot.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

enum class TFeed { Whole, Pieces, Lines };

struct TOutcome {
    std::string snapshot;
    std::string error;  // the parser's error, empty when none
    bool truncated = false;
};

void Feed(TMimeParser& parser, std::string_view in, TFeed how, std::size_t piece) {
    switch (how) {
    case TFeed::Whole:
        parser.FeedBytes(in.data(), in.size());
        break;
    case TFeed::Pieces:
        for (std::size_t pos = 0; pos < in.size(); pos += piece)
            parser.FeedBytes(in.data() + pos, std::min(piece, in.size() - pos));
        break;
    case TFeed::Lines:
        for (std::size_t pos = 0; pos <= in.size();) {
            const std::size_t lf = in.find('\n', pos);
            if (lf == std::string_view::npos) {
                if (pos < in.size()) parser.FeedLine(in.substr(pos));
                break;
            }
            parser.FeedLine(in.substr(pos, lf - pos));
            pos = lf + 1;
        }
        break;
    }
}

TOutcome Parse(std::string_view in, TFeed how, std::size_t piece) {
    TOutcome o;
    TIdMessage m;
    m.AttachmentStorage = asMemory;
    try {
        TMimeParser parser(m);
        Feed(parser, in, how, piece);
        parser.Finish();
        o.truncated = parser.Truncated();
    } catch (const EIdMessageException& e) {
        o.error = e.what();
    }
    o.snapshot = fuzzsnapshot::Whole(m);
    if (const TIdAttachment* a = m.FirstAttachment()) {
        const auto* mem = dynamic_cast<const TIdAttachmentMemory*>(a);
        fuzzcheck::Expect(mem != nullptr, "an attachment of a memory parse is not in memory");
    }
    return o;
}

// The first attachment's bytes as a download receives them.
std::string Streamed(std::string_view in) {
    TIdMessage m;
    std::string bytes;
    m.AttachmentStorage = asStream;
    m.OnAttachmentData = [&](const char* p, std::size_t n) { bytes.append(p, n); };
    TMimeParser parser(m);
    parser.FeedBytes(in.data(), in.size());
    parser.Finish();
    return bytes;
}

std::string FirstAttachmentData(std::string_view in) {
    TIdMessage m;
    m.AttachmentStorage = asMemory;
    m.LoadFromString(std::string(in));
    const auto* a = dynamic_cast<const TIdAttachmentMemory*>(m.FirstAttachment());
    return a ? a->Data : std::string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::size_t piece = size > 0 ? 1 + data[size / 2] % 37 : 1;

    const TOutcome whole = Parse(in, TFeed::Whole, 0);
    const TOutcome pieces = Parse(in, TFeed::Pieces, piece);
    const TOutcome lines = Parse(in, TFeed::Lines, 0);
    fuzzcheck::ExpectSame(whole.snapshot, pieces.snapshot, "whole and in pieces");
    fuzzcheck::ExpectSame(whole.snapshot, lines.snapshot, "raw bytes and lines");
    fuzzcheck::ExpectSame(whole.error, pieces.error, "errors whole and in pieces");
    fuzzcheck::ExpectSame(whole.error, lines.error, "errors of raw bytes and lines");
    fuzzcheck::Expect(whole.truncated == pieces.truncated && whole.truncated == lines.truncated,
                      "truncation differs between the ways of feeding");
    if (whole.error.empty())
        fuzzcheck::ExpectSame(FirstAttachmentData(in), Streamed(in), "kept and streamed attachment");
    return 0;
}
