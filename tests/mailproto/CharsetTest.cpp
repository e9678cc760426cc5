// Charset conversion and the choice of header charset by locale code set.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "Charset.h"

namespace {

TEST(CharsetTest, LegacyCharsetsConvertToUtf8) {
    struct Case {
        const char* charset;
        std::string bytes, utf8;
    } cases[] = {
        {"ISO-8859-1", "Caf\xE9", "Caf\xC3\xA9"},
        {"iso-8859-1", "\xFC", "\xC3\xBC"},
        {"windows-1252", "\x80\x93\x94", "\xE2\x82\xAC\xE2\x80\x9C\xE2\x80\x9D"},
        {"windows-1251", "\xC4\xEE\xEC", "\xD0\x94\xD0\xBE\xD0\xBC"},
        {"KOI8-R", "\xE4\xCF\xCD", "\xD0\x94\xD0\xBE\xD0\xBC"},
        {"GB2312", "\xD6\xD0\xCE\xC4", "\xE4\xB8\xAD\xE6\x96\x87"},
        {"Big5", "\xA4\xA4\xA4\xE5", "\xE4\xB8\xAD\xE6\x96\x87"},
        {"csEUCKR", "\xC7\xD1", "\xED\x95\x9C"},
        {"ISO-2022-JP", "\x1B$BF|\x1B(B", "\xE6\x97\xA5"},
        {"UTF-8", "\xC3\xA4", "\xC3\xA4"},
        {"us-ascii", "plain", "plain"},
        {"x-no-such-charset", "a\xE9", "a\xE9"},  // unknown: bytes kept
        {"UTF-8", "bad \xFF", "bad \xFF"},         // UTF-8 is not rewritten
        {"windows-1252", "\x81", "\x81"},          // undefined in the code page: bytes kept
    };
    for (const auto& c : cases) EXPECT_EQ(CharsetToUtf8(c.charset, c.bytes), c.utf8) << c.charset;
}

TEST(CharsetTest, HeaderCharsetRowsByCodeset) {
    struct Case {
        const char* codeset;
        const char* charset;
        char kind;
    } cases[] = {
        {"UTF-8", "UTF-8", 'Q'},          {"ANSI_X3.4-1968", "UTF-8", 'Q'}, {"ISO-8859-1", "ISO-8859-1", 'Q'},
        {"ISO-8859-15", "ISO-8859-1", 'Q'}, {"GB2312", "GB2312", 'B'},      {"GBK", "GB2312", 'B'},
        {"BIG5", "Big5", 'B'},            {"EUC-JP", "ISO-2022-JP", 'B'},   {"EUC-KR", "csEUCKR", 'B'},
        {"KOI8-R", "KOI8-R", 'B'},        {"KOI8-U", "windows-1251", 'B'},  {"CP1251", "windows-1251", 'B'},
        {"ISO-8859-2", "UTF-8", 'Q'},
    };
    for (const auto& c : cases) {
        const THeaderCharset h = HeaderCharsetForCodeset(c.codeset);
        EXPECT_EQ(h.Charset, c.charset) << c.codeset;
        EXPECT_EQ(h.Kind, c.kind) << c.codeset;
    }
}

TEST(CharsetTest, ExplicitSettingOverridesTheLocaleAndCanBeReset) {
    SetHeaderCodeset("KOI8-R");
    EXPECT_EQ(CurrentHeaderCharset().Charset, "KOI8-R");
    const char* old = std::getenv("LC_ALL");
    const std::string saved = old ? old : "";
    setenv("LC_ALL", "C", 1);
    SetHeaderCodeset("");
    EXPECT_EQ(CurrentHeaderCharset().Charset, "UTF-8");  // the C locale: our strings are UTF-8
    if (old) setenv("LC_ALL", saved.c_str(), 1);
    else unsetenv("LC_ALL");
    SetHeaderCodeset("");
}

TEST(CharsetTest, ConvertRefusesWhatTheTargetCannotHold) {
    std::string out = "unchanged";
    EXPECT_FALSE(ConvertCharset("UTF-8", "ISO-8859-1", "\xD0\x94", out));
    EXPECT_EQ(out, "unchanged");
    EXPECT_TRUE(ConvertCharset("UTF-8", "ISO-8859-1", "\xC3\xA9", out));
    EXPECT_EQ(out, "\xE9");
}

}  // namespace
