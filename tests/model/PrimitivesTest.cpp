#include "FileUtil.h"
#include "Stream.h"
#include "TextUtil.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>

namespace {
std::string Hex(const std::string& s) {
    std::string out;
    char buf[4];
    for (unsigned char c : s) {
        std::snprintf(buf, sizeof buf, "%02X ", c);
        out += buf;
    }
    if (!out.empty()) out.pop_back();
    return out;
}
} // namespace

TEST(Stream, WorkedBytes) {
    TStreamWriter w;
    w.WriteString("10");
    EXPECT_EQ(Hex(w.Data()), "02 00 00 00 33 01");

    TStreamWriter one, zero, empty;
    one.WriteFlag(1);
    zero.WriteFlag(0);
    empty.WriteString("");
    EXPECT_EQ(Hex(one.Data()), "01 00 00 00 30");
    EXPECT_EQ(Hex(zero.Data()), "01 00 00 00 31");
    EXPECT_EQ(Hex(empty.Data()), "00 00 00 00");

    // 300 characters: length 2C 01 00 00, first character XORed with 300 mod 256.
    TStreamWriter big;
    big.WriteString(std::string(300, 'a'));
    EXPECT_EQ(Hex(big.Data().substr(0, 5)), "2C 01 00 00 4D"); // 'a' ^ 0x2C
    TStreamReader r(big.Data());
    EXPECT_EQ(r.ReadString(), std::string(300, 'a'));
    EXPECT_TRUE(r.AtEnd());
}

TEST(Stream, RoundTripsAndReadRules) {
    TStreamWriter w;
    w.WriteString(std::string("bin\0\xff\x80 ok", 9));
    w.WriteInteger(4294967295LL);
    w.WriteInteger(-7);
    w.WriteFloat(39814.5);
    w.WriteString("2.5");
    w.WriteString("3.5");
    w.WriteString("4,25");
    w.WriteString("");
    w.WriteString("abc");
    TStreamReader r(w.Data());
    EXPECT_EQ(r.ReadString(), std::string("bin\0\xff\x80 ok", 9));
    EXPECT_EQ(r.ReadCardinal(), 0xFFFFFFFFu);
    EXPECT_EQ(r.ReadInteger(), -7);
    EXPECT_DOUBLE_EQ(r.ReadFloat(), 39814.5);
    EXPECT_EQ(r.ReadInteger(), 2); // halves round to even
    EXPECT_EQ(r.ReadInteger(), 4);
    EXPECT_DOUBLE_EQ(r.ReadFloat(), 4.25); // a comma separator reads too
    EXPECT_THROW(r.ReadFloat(), EConvertError);
    EXPECT_THROW(r.ReadInteger(), EConvertError);
    EXPECT_THROW(r.ReadString(), EReadError); // nothing left, not even a length
}

TEST(Stream, TruncatedAndNegativeLengths) {
    TStreamWriter w;
    w.WriteString("hello");
    std::string cut = w.Data().substr(0, 7); // length says 5, only 3 bytes follow
    TStreamReader r(cut);
    EXPECT_EQ(r.ReadString(), "hel");
    TStreamReader neg(std::string("\xff\xff\xff\xff", 4));
    EXPECT_THROW(neg.ReadString(), EReadError);
    TStreamReader huge(std::string("\xff\xff\xff\x7f" "ab", 6)); // 2 GiB announced
    EXPECT_EQ(huge.ReadString().size(), 2u);
}

TEST(Text, NumberTexts) {
    struct Case {
        double v;
        const char* text;
    } cases[] = {{0, "0"},         {1, "1"},          {25, "25"},
                 {-3, "-3"},       {0.5, "0.5"},      {39814.5, "39814.5"},
                 {4294967295.0, "4294967295"},        {1e15, "1E15"},
                 {123456789012345.0, "123456789012345"}, {0.00001, "0.00001"},
                 {0.0000015, "1.5E-6"}, {1.0 / 3, "0.333333333333333"}};
    for (auto& c : cases) EXPECT_EQ(FloatToText(c.v), c.text) << c.v;
    for (const char* bad : {"", " ", "abc", "1.2.3", "0x10", "inf", "nan", "1e", "--1", "1 2"})
        EXPECT_THROW(TextToFloat(bad), EConvertError) << bad;
    EXPECT_DOUBLE_EQ(TextToFloat(" 1E15 "), 1e15);
}

TEST(Text, NumbersFollowTheLocaleSeparator) {
    const char* de = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    if (!de) GTEST_SKIP() << "no German locale on this machine";
    EXPECT_EQ(FloatToText(39814.5), "39814,5");
    EXPECT_DOUBLE_EQ(TextToFloat("39814.5"), 39814.5);
    std::setlocale(LC_NUMERIC, "C");
}

TEST(Text, SizeToText) {
    struct Case {
        uint32_t bytes;
        const char* text;
    } cases[] = {{0, "0 KB"},           {1, "1 KB"},           {1024, "1 KB"},
                 {1025, "2 KB"},        {1048576, "1,024 KB"}, {1073741824, "1048,576 KB"},
                 {0xFFFFFFFF, "4194,304 KB"}};
    for (auto& c : cases) EXPECT_EQ(SizeToText(c.bytes), c.text) << c.bytes;
}

TEST(Text, PathHelpersAndPosText) {
    EXPECT_EQ(ParentPath("\\a\\b\\"), "\\a\\");
    EXPECT_EQ(ParentPath("\\a\\b.txt"), "\\a\\");
    EXPECT_EQ(ParentPath("\\a\\"), "\\");
    EXPECT_EQ(ParentPath("/x/y"), "/x/");
    EXPECT_EQ(LastPathPart("\\a\\b\\"), "b\\");
    EXPECT_EQ(LastPathPart("/home/u/sub"), "sub\\");
    EXPECT_EQ(LastPathPart("/home/u/sub/"), "sub\\");
    EXPECT_EQ(PosText("ExFile:\\", "EXFILE:\\a.txt"), 1);
    EXPECT_EQ(PosText("b", "aBc"), 2);
    EXPECT_EQ(PosText("x", "abc"), 0);
    EXPECT_EQ(PosText("\xc3\xa4", "\xc3\x84"), 0); // only A..Z are folded
    EXPECT_TRUE(SameTextAscii("\\DOCS\\", "\\docs\\"));
}

TEST(Text, LongDateText) {
    // Noon of 1 January 2009 is day 39814.5.
    EXPECT_EQ(LongDateText(39814.5), "Thursday, January 01, 2009, 12:00:00 PM");
    EXPECT_EQ(LongDateText(39814.0), "Thursday, January 01, 2009, 12:00:00 AM");
    EXPECT_EQ(LongDateText(39814.75), "Thursday, January 01, 2009, 06:00:00 PM");
    EXPECT_EQ(LongDateText(1e300), ""); // out of range: nothing, no crash
    struct timespec ts {};
    ts.tv_sec = 1230811200; // 2009-01-01 12:00:00 UTC
    EXPECT_EQ(FileTimeToText(ts), "39814.5");
}

TEST(Files, ChecksumAndSize) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("tavrel-prim-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    auto write = [&](const char* name, const std::string& data) {
        std::ofstream(dir / name, std::ios::binary) << data;
        return (dir / name).string();
    };
    EXPECT_EQ(FileChecksum(write("abc", "abc")), 7091u);
    EXPECT_EQ(FileChecksum(write("empty", "")), 0u);
    std::string bytes;
    for (int k = 0; k < 3; ++k)
        for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    EXPECT_EQ(FileChecksum(write("all", bytes)), 2653601163u); // the folding step at work
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + 3);
    std::string bigPath = write("big", big);
    // Blocks of the reader must not change the result: compare with the same sum in one go.
    EXPECT_EQ(FileChecksum(bigPath), ChecksumUpdate(0, big.data(), big.size()));
    EXPECT_EQ(FileSizeOf(bigPath), 300000u);
    EXPECT_EQ(FileSizeOf((dir / "missing").string()), 0u);

    int waited = 0;
    SetWaitHook([&](int ms) { waited += ms; });
    EXPECT_EQ(FileChecksum((dir / "missing").string()), 0u);
    EXPECT_EQ(waited, 1000);
    SetWaitHook({});
    fs::remove_all(dir);
}
