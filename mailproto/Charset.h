#pragma once
#include <string>
#include <string_view>

// Character sets of mail header text. Strings inside the program are UTF-8.

// Converts bytes from one charset to another with iconv. False (and out untouched) when
// either charset is unknown or the input is not valid in the source charset.
bool ConvertCharset(std::string_view fromCharset, std::string_view toCharset,
                    std::string_view in, std::string& out);

// Text of a MIME charset as UTF-8: UTF-8 and US-ASCII stay as they are; ISO-8859-1,
// windows-1252, windows-1251, KOI8-R, GB2312, Big5, ISO-2022-JP, csEUCKR and every
// other charset iconv knows are converted. Unknown charsets and undecodable bytes are
// kept unchanged.
std::string CharsetToUtf8(std::string_view charset, std::string_view bytes);

// The charset in which subject words needing encoding are written, and the encoded-word
// kind ('Q' or 'B').
struct THeaderCharset {
    std::string Charset;  // MIME name written into encoded words, e.g. "UTF-8", "KOI8-R"
    char Kind = 'Q';
};

// The row for a locale code set (as nl_langinfo(CODESET) names it): UTF-8 (and the plain
// ASCII "C" locale, since our strings are UTF-8 anyway) gives UTF-8 with Q; the legacy code
// sets give their row: GB2312/GBK/GB18030 "GB2312" B, BIG5 "Big5" B, EUC-JP/SHIFT_JIS
// "ISO-2022-JP" B, EUC-KR "csEUCKR" B, KOI8-R "KOI8-R" B, KOI8-U/CP1251 "windows-1251" B,
// ISO-8859-1/ISO-8859-15/CP1252 "ISO-8859-1" Q; anything else UTF-8 with Q.
THeaderCharset HeaderCharsetForCodeset(std::string_view codeset);

// Process-wide setting used when composing headers. Default: the code set of the user's
// locale (LC_ALL / LC_CTYPE / LANG from the environment; the global C locale is not
// changed). SetHeaderCodeset("") goes back to that default.
void SetHeaderCodeset(const std::string& codeset);
THeaderCharset CurrentHeaderCharset();
