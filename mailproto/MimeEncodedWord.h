#pragma once
#include <string>

struct THeaderCharset;

// Encoded words (RFC 2047) in header values.

// Decodes a raw header value as it came from a server into UTF-8 text: folded lines are
// joined (each continuation trimmed and joined with one blank), encoded words in Q or B are
// decoded and converted from their charset (ISO-8859-1, windows-1252, ... ; UTF-8 stays as
// it is; an unknown charset keeps its bytes), whitespace between two adjacent encoded
// words is dropped, NUL characters are removed. Malformed encoded words stay as they are.
// The POP3/IMAP4 clients fill TIdMessage::Subject with exactly this, so subjects compared
// by the engine are decoded the same way everywhere.
std::string DecodeHeaderValue(const std::string& raw);

// Encodes an unstructured header value (Subject) for writing: words (cut at blanks, tabs,
// CR, LF) that hold a control character, NUL or a byte above 126 (and "=" when the value
// already looks like encoded words) are written as encoded words in the given charset and
// kind; a run of such words, whitespace between them included, forms one sequence of
// encoded words of at most 75 characters each, separated by CR LF + blank. Other words are
// copied with the whitespace before them. A multi-byte character is never split between
// two encoded words.
std::string EncodeHeaderValue(const std::string& text, const THeaderCharset& cs);
// The same with the process-wide header charset (CurrentHeaderCharset()).
std::string EncodeHeaderValue(const std::string& text);

// The same for a display name in an address (RFC 5322 specials also need encoding).
std::string EncodeAddressName(const std::string& name, const THeaderCharset& cs);
