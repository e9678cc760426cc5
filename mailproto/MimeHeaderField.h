#pragma once
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// Helpers for single header fields: folding, unfolding, parameters, dates.

// Folds one header line ("Name: value", possibly already holding CR LF + blank breaks
// from encoded words) so that lines stay within 78 characters where possible. A line is
// only broken at a single blank that lies between two non-blank characters, outside
// double quotes and after the "Name: " part; the blank becomes CR LF + blank. Nothing is
// dropped or added, so unfolding gives the original value back exactly. A stretch without
// such a blank stays longer. The result has no final CR LF.
std::string FoldHeaderLine(const std::string& line);

// Joins a field's lines (first line's value and its continuation lines): each piece is
// trimmed of blanks and control characters, and the non-empty pieces are joined with one
// blank each.
std::string UnfoldHeaderValue(const std::vector<std::string>& pieces);

// Splits "type/subtype; a=b; c=\"d\"" into the main value (before the first ";", trimmed)
// and parameter values (names lower-case, quotes and backslash escapes removed). RFC 2231
// forms name*=charset''%XX and continuations name*0=, name*1= are joined and decoded to
// UTF-8.
struct THeaderParams {
    std::string Value;
    std::vector<std::pair<std::string, std::string>> Params;
    std::string Param(std::string_view name) const;  // empty when absent
};
THeaderParams ParseHeaderParams(std::string_view field);

// "Wed, 5 Mar 2008 14:03:09 +0100" for a time in the local time zone.
std::string FormatMailDate(std::time_t t);
// Parses an RFC 5322 date (day name optional, zone as +hhmm or a common abbreviation,
// two-digit years accepted); 0 when it cannot be read.
std::time_t ParseMailDate(std::string_view text);
