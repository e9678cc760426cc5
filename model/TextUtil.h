#pragma once
#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <string>
#include <string_view>

#include "DateTime.h"

// Raised when a text that should be a number is not one.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// ASCII-only case folding: the letters A to Z, nothing else.
char LowerAscii(char c);
std::string LowerAscii(std::string s);
bool SameTextAscii(const std::string& a, const std::string& b);
// Without blanks and tabs at either end.
std::string TrimBlanks(const std::string& s);
bool StartsTextAscii(std::string_view prefix, std::string_view text);

// 1-based position of `part` in `text`, A..Z folded; 0 when absent.
int PosText(const std::string& part, const std::string& text);

// The decimal separator of the user's locale ("." in the C locale).
char DecimalSeparator();

// General number format: up to 15 significant digits, locale decimal separator, exponent
// form (1E15, 1.5E-6) only for 16+ integer digits or magnitudes below 0.00001.
std::string FloatToText(double value);
// Reads a decimal number written by FloatToText under any locale: "." and "," are both
// accepted as decimal separator; surrounding blanks are allowed. EConvertError otherwise.
double TextToFloat(const std::string& text);
// Parses an unsigned decimal integer made of digits only (no sign, no blanks) that fits in
// `max`. False when the text is anything else.
bool ParseDecimal(const std::string& text, uint64_t max, uint64_t& value);

// Whole kibibytes rounded up, one thousands comma at most, then " KB".
std::string SizeToText(uint32_t bytes);

// Path helpers for mailbox paths (backslashes) and local paths (slashes).
std::string ParentPath(const std::string& path);
std::string LastPathPart(const std::string& path);

// "dddd, mmmm dd, yyyy, hh:nn:ss AM/PM" with the locale's day and month names.
std::string LongDateText(TDateTime dt);
// A file-system time (UTC, not converted) as a date-time text.
std::string FileTimeToText(const struct timespec& t);

// Date and time as the file view shows them: the locale's short date, then its long time;
// the time is left out at exactly midnight. Empty for a text that is not a date-time.
std::string DateTimeDisplayText(const std::string& dateTimeText);
