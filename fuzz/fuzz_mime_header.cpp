// Fuzz target: the header of a received message, as the subject scan reads it (POP3 TOP n 0,
// IMAP4 RFC822.HEADER), and the header-field readers on raw field values.
//   - The header lines (up to the first empty line) are fed line by line and finished; the
//     subject goes through the stored-subject reader as the scan does. The header fields
//     must be those of a parse of the whole input.
//   - The whole input is also taken as one raw field value: encoded words, parameters
//     (RFC 2231 too), a date, an address list.
#include "FuzzCheck.h"
#include "IdMessage.h"
#include "MessageSnapshot.h"
#include "MimeHeaderField.h"
#include "StoredMail.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

// The header lines as they arrive cut at LF; FeedLine takes the CR before the LF off, so a
// line of just CR is the empty line that ends the header.
std::string HeaderFetch(std::string_view in) {
    TIdMessage m;
    TMimeParser parser(m);
    for (std::size_t pos = 0; pos < in.size();) {
        std::size_t lf = in.find('\n', pos);
        if (lf == std::string_view::npos) lf = in.size();
        const std::string_view line = in.substr(pos, lf - pos);
        pos = lf + 1;
        if (line.empty() || line == "\r") break;  // the end of the header
        parser.FeedLine(line);
    }
    parser.Finish();
    ParseStoredSubject(m.Subject);
    return fuzzsnapshot::Header(m);
}

std::string WholeParse(std::string_view in) {
    TIdMessage m;
    m.AttachmentStorage = asStream;
    m.LoadFromString(std::string(in));
    return fuzzsnapshot::Header(m);
}

void RawValue(const std::string& value) {
    const std::string decoded = DecodeHeaderValue(value);
    fuzzcheck::Expect(decoded.find('\0') == std::string::npos, "a decoded value holds a NUL");
    const THeaderParams params = ParseHeaderParams(value);
    for (const auto& [name, v] : params.Params) DecodeHeaderValue(v);
    ParseMailDate(value);
    TIdEMailAddressList list;
    list.ParseHeaderText(value);
    fuzzcheck::Expect(list.Count() <= TIdEMailAddressList::kMaxEntries, "too many addresses kept");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    fuzzcheck::ExpectSame(HeaderFetch(in), WholeParse(in), "header fetch and whole message");
    RawValue(std::string(in));
    return 0;
}
