// Base64 and quoted-printable codecs.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "Base64.h"
#include "MimeSink.h"
#include "QuotedPrintable.h"

namespace {

std::string EncodeLines(const std::string& data, std::size_t piece) {
    std::string out;
    TStringSink sink(out);
    TBase64LineEncoder enc(sink);
    for (std::size_t i = 0; i < data.size(); i += piece) enc.Feed(data.data() + i, std::min(piece, data.size() - i));
    enc.Finish();
    return out;
}

TEST(Base64Test, FiftyEightBytesGiveLinesOf76And4) {
    std::string data;
    for (int i = 0; i < 58; ++i) data.push_back(static_cast<char>(i));
    EXPECT_EQ(EncodeLines(data, 58),
              "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4\r\nOQ==\r\n");
    EXPECT_EQ(EncodeLines("", 1), "");
    EXPECT_EQ(EncodeLines(std::string(57, 'a'), 57).size(), 78u);
}

TEST(Base64Test, PiecewiseEncodingEqualsWholeAndDecodesBack) {
    std::mt19937 gen(3);
    for (std::size_t size : {1u, 2u, 3u, 56u, 57u, 58u, 171u, 10000u, 200000u}) {
        std::string data(size, '\0');
        for (char& c : data) c = static_cast<char>(gen());
        const std::string whole = EncodeLines(data, size);
        for (std::size_t piece : {1u, 7u, 57u, 4096u}) EXPECT_EQ(EncodeLines(data, piece), whole) << size;
        EXPECT_EQ(Base64Decode(whole), data);
        std::string joined;
        for (char c : whole)
            if (c != '\r' && c != '\n') joined.push_back(c);
        EXPECT_EQ(joined, Base64Encode(data));
        // Streaming decode in odd pieces.
        std::string back;
        TStringSink s(back);
        TBase64Decoder dec(s);
        for (std::size_t i = 0; i < whole.size(); i += 5) dec.Feed(std::string_view(whole).substr(i, 5));
        dec.Finish();
        EXPECT_EQ(back, data);
    }
}

// The decoding rules one character at a time: characters outside the alphabet are
// skipped, "=" ends the data, an incomplete last group gives what its bits hold.
std::string ReferenceDecode(const std::string& text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    uint32_t quad = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=') break;
        const auto v = alphabet.find(c);
        if (v == std::string::npos) continue;
        quad = quad << 6 | static_cast<uint32_t>(v);
        if (++count == 4) {
            out += {static_cast<char>(quad >> 16), static_cast<char>(quad >> 8), static_cast<char>(quad)};
            quad = 0;
            count = 0;
        }
    }
    if (count == 2) out += static_cast<char>(quad >> 4);
    if (count == 3) out += {static_cast<char>(quad >> 10), static_cast<char>(quad >> 2)};
    return out;
}

// Streaming decode of text fed in random pieces of 1 .. maxPiece characters.
std::string DecodeInPieces(const std::string& text, std::mt19937& gen, std::size_t maxPiece) {
    std::string back;
    TStringSink sink(back);
    TBase64Decoder dec(sink);
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t piece = 1 + gen() % maxPiece;
        dec.Feed(std::string_view(text).substr(i, piece));
        i += piece;
    }
    dec.Finish();
    return back;
}

TEST(Base64Test, DecoderFollowsTheRulesWhateverTheNoiseAndThePieces) {
    std::mt19937 gen(7);
    for (int round = 0; round < 200; ++round) {
        std::string data(gen() % 3000, '\0');
        for (char& c : data) c = static_cast<char>(gen());
        std::string text = EncodeLines(data, 57);
        // Noise where a sloppy sender or a broken line puts it: blanks, bare line ends,
        // bytes outside the alphabet, sometimes an early "=".
        const int noise = static_cast<int>(gen() % 20);
        for (int i = 0; i < noise && !text.empty(); ++i) {
            static const char junk[] = " \t\r\n@*\x80\xff-";
            text.insert(gen() % text.size(), 1, junk[gen() % (sizeof junk - 1)]);
        }
        if (gen() % 10 == 0 && !text.empty()) text.insert(gen() % text.size(), 1, '=');
        ASSERT_TRUE(DecodeInPieces(text, gen, 9000) == ReferenceDecode(text)) << "round " << round;
    }
    // Long runs without a line end (a single-line sender), in odd pieces: the decoder's
    // bulk path fills and flushes its buffers many times over.
    std::string data(200000, '\0');
    for (char& c : data) c = static_cast<char>(gen());
    EXPECT_TRUE(DecodeInPieces(Base64Encode(data), gen, 20000) == data);
}

TEST(Base64Test, SingleLineForms) {
    EXPECT_EQ(Base64Encode("user name"), "dXNlciBuYW1l");
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("ab"), "YWI=");
    EXPECT_EQ(Base64Decode("YWI="), "ab");
    EXPECT_EQ(Base64Decode("YW\r\nI=garbage-after-padding"), "ab");
    EXPECT_EQ(Base64Decode("Y"), "");  // a lone character carries no byte
    EXPECT_EQ(Base64Decode("@@@"), "");
}

TEST(QuotedPrintableTest, DecodingRules) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"a=3Db", "a=b"},
        {"soft=\r\nbreak", "softbreak"},
        {"trailing   \r\nx", "trailing\r\nx"},
        {"bad =ZZ and =4", "bad =ZZ and =4"},
        {"lower =c3=a9", "lower \xC3\xA9"},
        {"end\r\n", "end\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(QuotedPrintableDecode(c.in), c.out) << c.in;
}

TEST(QuotedPrintableTest, PiecesOfOneLineDecodeLikeTheWholeLine) {
    const std::string line = "ab=C3=A9cd  =3D  x  ";
    for (std::size_t cut = 0; cut <= line.size(); ++cut) {
        std::string out;
        TStringSink s(out);
        TQuotedPrintableDecoder dec(s);
        dec.FeedLine(std::string_view(line).substr(0, cut), false);
        dec.FeedLine(std::string_view(line).substr(cut), true);
        dec.FeedLine("next");
        dec.Finish();
        EXPECT_EQ(out, "ab\xC3\xA9" "cd  =  x\r\nnext") << cut;
    }
}

TEST(QuotedPrintableTest, EncoderRoundTripsAndKeepsLinesShort) {
    std::mt19937 gen(5);
    for (int round = 0; round < 50; ++round) {
        std::string data(gen() % 600, '\0');
        for (char& c : data) {
            const int k = static_cast<int>(gen() % 10);
            c = k < 6 ? static_cast<char>('a' + gen() % 26) : k == 6 ? ' ' : k == 7 ? '=' : static_cast<char>(gen());
        }
        if (round % 3 == 0) data += "\r\nline two \r\n";
        std::string enc;
        TStringSink s(enc);
        TQuotedPrintableLineEncoder e(s);
        e.Feed(data.data(), data.size());
        e.Finish();
        std::size_t pos = 0;
        while (pos < enc.size()) {
            const std::size_t eol = enc.find("\r\n", pos);
            ASSERT_NE(eol, std::string::npos);
            EXPECT_LE(eol - pos, 76u);
            if (eol > pos) {
                EXPECT_NE(enc[eol - 1], ' ');
            }
            pos = eol + 2;
        }
        std::string dec = QuotedPrintableDecode(enc);
        // The encoder always ends with a line end; the decoded text then does too.
        if (data.size() < 2 || data.substr(data.size() - 2) != "\r\n") dec.erase(dec.size() - 2);
        EXPECT_EQ(dec, data);
    }
}

}  // namespace
