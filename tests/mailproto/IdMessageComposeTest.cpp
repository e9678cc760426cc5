// The wire form of composed messages: the stored-file part mail byte for byte, the folder
// mail, header encoding and folding, dot-stuffing, streaming of large attachments.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "Charset.h"
#include "IdMessage.h"

namespace {

const std::string kBoundary = "abcdefghijklmnop=_qrstuvwxyz012345";

class MessageComposeTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        oldTz_ = tz ? tz : "";
        hadTz_ = tz != nullptr;
        setenv("TZ", "CET-1", 1);  // a fixed +0100 zone without summer time
        tzset();
        TIdMessage::SetRunBoundary(kBoundary);
        SetHeaderCodeset("UTF-8");
    }
    void TearDown() override {
        if (hadTz_) setenv("TZ", oldTz_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
        SetHeaderCodeset("");
    }

    // A file-part mail as the upload fills it.
    static void FillPartMail(TIdMessage& m, const std::string& subject, const std::string& data) {
        m.From.Add("me@example.com", "Tavrel");
        m.Recipients.Add("me@example.com", "Tavrel");
        m.Subject = subject;
        m.Body.push_back("IMPORTANT: Please don't delete this mail manually");
        m.Body.push_back("This Attach Size:" + std::to_string(data.size()) + ".");
        auto& a = m.AddAttachmentMemory(data);
        a.ContentType = "Stream";
        a.ContentTransfer = "base64";
        a.FileName = "\\Docs\\report.doc";
        m.SetDate(1204722189);  // Wed, 5 Mar 2008 13:03:09 UTC
    }

    std::string oldTz_;
    bool hadTz_ = false;
};

std::string Bytes0To(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s.push_back(static_cast<char>(i));
    return s;
}

std::vector<std::string> SplitCrlf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t e = text.find("\r\n", pos);
        if (e == std::string::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, e - pos));
        pos = e + 2;
    }
    return lines;
}

TEST_F(MessageComposeTest, FilePartMailHasTheStoredShapeByteForByte) {
    TIdMessage m;
    const std::string subject =
        "ExFile:\\Docs\\report.doc<1/1>|Size:58|Hash:7091|Attri:32|Time:39512.5;39500.25";
    FillPartMail(m, subject, Bytes0To(58));

    const std::string expected =
        "From: \"Tavrel\" <me@example.com>\r\n"
        "Subject: ExFile:\\Docs\\report.doc<1/1>|Size:58|Hash:7091|Attri:32|Time:39512.5;39500.25\r\n"
        "To: \"Tavrel\" <me@example.com>\r\n"
        "Content-Type: multipart/mixed; boundary=\"abcdefghijklmnop=_qrstuvwxyz012345\"\r\n"
        "MIME-Version: 1.0\r\n"
        "Date: Wed, 5 Mar 2008 14:03:09 +0100\r\n"
        "\r\n"
        "This is a multi-part message in MIME format\r\n"
        "\r\n"
        "--abcdefghijklmnop=_qrstuvwxyz012345\r\n"
        "Content-Type: text/plain\r\n"
        "Content-Transfer-Encoding: 7bit\r\n"
        "\r\n"
        "IMPORTANT: Please don't delete this mail manually\r\n"
        "This Attach Size:58.\r\n"
        "\r\n"
        "--abcdefghijklmnop=_qrstuvwxyz012345\r\n"
        "Content-Type: Stream;\r\n"
        "        name=\"report.doc\"\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment;\r\n"
        "        filename=\"report.doc\"\r\n"
        "\r\n"
        "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4\r\n"
        "OQ==\r\n"
        "\r\n"
        "--abcdefghijklmnop=_qrstuvwxyz012345--\r\n"
        "\r\n";
    EXPECT_EQ(m.SaveToString(), expected);
}

TEST_F(MessageComposeTest, HeaderAndBodyWrittenSeparatelyOrTwiceGiveTheSameText) {
    TIdMessage m;
    FillPartMail(m, "ExFile:\\a.txt<1/1>|Size:3|Hash:7091|Attri:32|Time:1;2", "abc");
    const std::string whole = m.SaveToString();
    std::string header, body;
    TStringSink hs(header), bs(body);
    m.WriteHeader(hs);
    m.WriteBody(bs);
    EXPECT_EQ(header + body, whole);
    EXPECT_EQ(m.SaveToString(), whole);
    EXPECT_EQ(body.substr(0, 2), "\r\n");  // the body starts with the empty line
    EXPECT_EQ(header.find("\r\n\r\n"), std::string::npos);
    EXPECT_EQ(m.Parts.size(), 1u);
    EXPECT_EQ(m.Body.size(), 2u);
}

TEST_F(MessageComposeTest, FolderMailHasNoMimeHeadersAndAnEmptyBody) {
    TIdMessage m;
    m.From.Add("me@example.com", "Tavrel");
    m.Recipients.Add("me@example.com", "Tavrel");
    m.Subject = "ExFile:\\Docs\\|Time:39512.5";
    m.SetDate(1204722189);
    EXPECT_EQ(m.SaveToString(),
              "From: \"Tavrel\" <me@example.com>\r\n"
              "Subject: ExFile:\\Docs\\|Time:39512.5\r\n"
              "To: \"Tavrel\" <me@example.com>\r\n"
              "Date: Wed, 5 Mar 2008 14:03:09 +0100\r\n"
              "\r\n"
              "\r\n");
    EXPECT_EQ(m.Encoding, mePlainText);
}

TEST_F(MessageComposeTest, BoundaryIsOnePerRunWithEqualsUnderscore) {
    TIdMessage::SetRunBoundary("");  // make a fresh random one
    const std::string b = TIdMessage::RunBoundary();
    ASSERT_EQ(b.size(), 34u);
    const std::size_t eq = b.find("=_");
    ASSERT_NE(eq, std::string::npos);
    EXPECT_LE(eq, 32u);
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i == eq || i == eq + 1) continue;
        EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(b[i]))) << b;
    }
    TIdMessage m1, m2;
    FillPartMail(m1, "ExFile:\\a<1/1>|x", "1");
    FillPartMail(m2, "ExFile:\\b<1/1>|x", "2");
    const std::string t1 = m1.SaveToString(), t2 = m2.SaveToString();
    EXPECT_NE(t1.find("boundary=\"" + b + "\""), std::string::npos);
    EXPECT_NE(t2.find("boundary=\"" + b + "\""), std::string::npos);
    EXPECT_EQ(TIdMessage::RunBoundary(), b);
}

TEST_F(MessageComposeTest, AttachmentNameIsTheLastPathComponentUnencoded) {
    struct Case {
        std::string fileName, expected;
    } cases[] = {
        {"\\Docs\\report.doc", "report.doc"},
        {"\\notes.txt", "notes.txt"},
        {"C:\\x\\a b.txt", "a b.txt"},
        {"\\Bücher\\Ärger.pdf", "Ärger.pdf"},
        {"plain", "plain"},
    };
    for (const auto& c : cases) {
        TIdMessage m;
        FillPartMail(m, "s", "x");
        static_cast<TIdAttachment&>(*m.Parts[0]).FileName = c.fileName;
        const std::string text = m.SaveToString();
        EXPECT_NE(text.find("        name=\"" + c.expected + "\"\r\n"), std::string::npos) << c.fileName;
        EXPECT_NE(text.find("        filename=\"" + c.expected + "\"\r\n"), std::string::npos) << c.fileName;
    }
}

TEST_F(MessageComposeTest, Base64LinesAre76CharactersExceptTheLast) {
    for (int size : {1, 56, 57, 58, 114, 115, 1000, 57 * 1024 + 1}) {
        TIdMessage m;
        FillPartMail(m, "s", std::string(static_cast<std::size_t>(size), '\xAB'));
        const auto lines = SplitCrlf(m.SaveToString());
        std::size_t i = 0;
        while (i < lines.size() && lines[i] != "        filename=\"report.doc\"") ++i;
        i += 2;  // the empty line after the part header
        std::vector<std::string> data;
        while (i < lines.size() && !lines[i].empty()) data.push_back(lines[i++]);
        ASSERT_FALSE(data.empty());
        for (std::size_t k = 0; k + 1 < data.size(); ++k) EXPECT_EQ(data[k].size(), 76u) << size;
        EXPECT_LE(data.back().size(), 76u);
        EXPECT_EQ(data.size(), static_cast<std::size_t>((size + 56) / 57)) << size;
    }
}

// ---- subject encoding ----

TEST_F(MessageComposeTest, SubjectWordsWithNonAsciiCharactersAreQEncodedInUtf8) {
    struct Case {
        std::string subject, header;
    } cases[] = {
        {"ExFile:\\Ü\\a b.txt", "=?UTF-8?Q?ExFile:\\=C3=9C\\a?= b.txt"},
        {"a ä b", "a =?UTF-8?Q?=C3=A4?= b"},
        {"ä ö", "=?UTF-8?Q?=C3=A4_=C3=B6?="},                    // one run, blank inside
        {"x ä y ö", "x =?UTF-8?Q?=C3=A4?= y =?UTF-8?Q?=C3=B6?="},  // two runs
        {"ExFile:\\my_file.txt<1/1>|Size:1", "ExFile:\\my_file.txt<1/1>|Size:1"},  // "_" alone
        {"a=b ?x?", "a=b ?x?"},                                   // "=" only matters if it decodes
        {"é?=_", "=?UTF-8?Q?=C3=A9=3F=3D=5F?="},
        {"tab\x01", "=?UTF-8?Q?tab=01?="},
    };
    for (const auto& c : cases) {
        TIdMessage m;
        m.Subject = c.subject;
        m.SetDate(0);
        const std::string text = m.SaveToString();
        EXPECT_NE(text.find("Subject: " + c.header + "\r\n"), std::string::npos) << c.subject << "\n" << text;
        TIdMessage back;
        back.LoadFromString(text);
        EXPECT_EQ(back.Subject, c.subject);
    }
}

TEST_F(MessageComposeTest, SubjectThatLooksLikeAnEncodedWordSurvivesTheRoundTrip) {
    for (std::string s : {"ExFile:\\=?UTF-8?Q?abc?=.txt<1/1>|Size:1", "=?x?B?YWJj?= =?x?B?YWJj?="}) {
        TIdMessage m;
        m.Subject = s;
        const std::string text = m.SaveToString();
        TIdMessage back;
        back.LoadFromString(text);
        EXPECT_EQ(back.Subject, s) << text;
    }
}

TEST_F(MessageComposeTest, LegacyCodesetRowsLabelTheBytesTheyWrite) {
    struct Case {
        std::string codeset, subject, header;
    } cases[] = {
        {"ISO-8859-1", "ExFile:\\Café\\x.txt", "=?ISO-8859-1?Q?ExFile:\\Caf=E9\\x.txt?="},
        {"KOI8-R", "Дом", "=?KOI8-R?B?5M/N?="},
        {"CP1251", "Дом", "=?windows-1251?B?xO7s?="},
        // Not representable in Latin-1: written in UTF-8 rather than with a wrong label.
        {"ISO-8859-1", "Дом", "=?UTF-8?Q?=D0=94=D0=BE=D0=BC?="},
    };
    for (const auto& c : cases) {
        SetHeaderCodeset(c.codeset);
        TIdMessage m;
        m.Subject = c.subject;
        const std::string text = m.SaveToString();
        EXPECT_NE(text.find("Subject: " + c.header + "\r\n"), std::string::npos) << c.codeset << "\n" << text;
        TIdMessage back;
        back.LoadFromString(text);
        EXPECT_EQ(back.Subject, c.subject) << c.codeset;
    }
}

TEST_F(MessageComposeTest, Iso2022JpWordsAreSelfContained) {
    SetHeaderCodeset("EUC-JP");
    TIdMessage m;
    m.Subject = "ExFile:\\日本語のフォルダ名前はとても長いです日本語のフォルダ名前はとても長いです\\a.txt";
    const std::string text = m.SaveToString();
    EXPECT_NE(text.find("=?ISO-2022-JP?B?"), std::string::npos);
    TIdMessage back;
    back.LoadFromString(text);
    EXPECT_EQ(back.Subject, m.Subject);
}

TEST_F(MessageComposeTest, LongEncodedSubjectIsSplitIntoWordsOfAtMost75WithoutCuttingCharacters) {
    std::string subject = "ExFile:\\";
    for (int i = 0; i < 40; ++i) subject += "Ü€";
    subject += "\\file.txt<1/1>|Size:100|Hash:1|Attri:32|Time:39512.5;39500.25";
    TIdMessage m;
    m.Subject = subject;
    const std::string text = m.SaveToString();
    const std::size_t start = text.find("Subject: ");
    const std::size_t end = text.find("\r\nDate:", start);
    ASSERT_NE(end, std::string::npos);
    const std::string field = text.substr(start + 9, end - start - 9);
    std::size_t pos = 0;
    int words = 0;
    while ((pos = field.find("=?", pos)) != std::string::npos) {
        const std::size_t close = field.find("?=", pos + 10);
        ASSERT_NE(close, std::string::npos);
        const std::string word = field.substr(pos, close + 2 - pos);
        EXPECT_LE(word.size(), 75u);
        // Each word decodes to whole UTF-8 characters on its own.
        const std::string one = DecodeHeaderValue(word);
        for (std::size_t i = 0; i < one.size();) {
            const unsigned char c = static_cast<unsigned char>(one[i]);
            const std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            ASSERT_LE(i + n, one.size()) << word;
            for (std::size_t k = 1; k < n; ++k) EXPECT_EQ(static_cast<unsigned char>(one[i + k]) & 0xC0, 0x80);
            i += n;
        }
        ++words;
        pos = close + 2;
    }
    EXPECT_GE(words, 4);
    // A line holds one encoded word (the first one after "Subject: ").
    for (const auto& line : SplitCrlf(text.substr(start, end - start))) EXPECT_LE(line.size(), 9u + 75u) << line;
    TIdMessage back;
    back.LoadFromString(text);
    EXPECT_EQ(back.Subject, subject);
}

// ---- folding ----

TEST_F(MessageComposeTest, LongSubjectsAreFoldedAtBlanksAndReadBackUnchanged) {
    const std::string cases[] = {
        "ExFile:\\My Documents\\Some Folder With A Long Name\\another folder\\the file name.txt<1/2>|Size:100|"
        "Hash:1|Attri:32|Time:39512.5;39500.25",
        // blanks in pairs and commas: not break points, kept as they are
        "ExFile:\\a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q,r,s,t,u,v,w,x,y,z\\two  blanks  here  and  there  "
        "again,again.txt<1/1>|Size:1|Hash:1|Attri:32|Time:1;2",
        // no blank at all: stays one long line
        "ExFile:\\" + std::string(120, 'x') + "<1/1>|Size:1",
        // mixed plain and encoded words
        "ExFile:\\Dokumente und Einstellungen\\Größere Übersicht der Ausgaben für das Jahr.xls<1/1>|"
        "Size:1|Hash:1|Attri:32|Time:1;2",
    };
    for (const auto& s : cases) {
        TIdMessage m;
        m.Subject = s;
        const std::string text = m.SaveToString();
        const std::size_t start = text.find("Subject: ");
        const std::size_t end = text.find("\r\nDate:", start);
        const auto lines = SplitCrlf(text.substr(start, end - start));
        for (std::size_t i = 1; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i][0], ' ');
            EXPECT_NE(lines[i][1], ' ');
        }
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string& l = lines[i];
            EXPECT_NE(l.back(), ' ');
            if (l.size() <= 78) continue;
            // A long line only where it holds no single blank to break at.
            for (std::size_t k = (i == 0 ? 9 : 1); k + 1 < l.size(); ++k) {
                if (l[k] == ' ' && l[k - 1] != ' ' && l[k + 1] != ' ') {
                    ADD_FAILURE() << "breakable line longer than 78: " << l;
                    break;
                }
            }
        }
        if (s.find("Some Folder") != std::string::npos) {
            EXPECT_GT(lines.size(), 1u);
        }
        TIdMessage back;
        back.LoadFromString(text);
        EXPECT_EQ(back.Subject, s);
    }
}

TEST_F(MessageComposeTest, FoldedSubjectFromAServerIsJoinedWithOneBlank) {
    TIdMessage m;
    TMimeParser p(m);
    p.FeedLine("Subject: ExFile:\\My Documents\\a");
    p.FeedLine("\t  b.txt<1/1>|Size:1   ");
    p.FeedLine("From: x@y");
    p.Finish();
    EXPECT_EQ(m.Subject, "ExFile:\\My Documents\\a b.txt<1/1>|Size:1");
    EXPECT_EQ(DecodeHeaderValue("ExFile:\\My Documents\\a\r\n\t  b.txt"), "ExFile:\\My Documents\\a b.txt");
}

// ---- dot-stuffing ----

TEST_F(MessageComposeTest, DotStuffingAddsADotToEveryLineStartingWithOneInAnyPieces) {
    const std::string in = ".\r\n..x\r\na.b\r\n.\r\n\r\n.end";
    const std::string want = "..\r\n...x\r\na.b\r\n..\r\n\r\n..end";
    for (std::size_t piece : {1u, 2u, 3u, 5u, 100u}) {
        std::string out;
        TStringSink s(out);
        TDotStuffingSink dots(s);
        for (std::size_t i = 0; i < in.size(); i += piece) dots.Write(in.data() + i, std::min(piece, in.size() - i));
        EXPECT_EQ(out, want) << piece;
        EXPECT_FALSE(dots.AtLineStart());
    }
}

TEST_F(MessageComposeTest, DotStuffedMessageReadsBackThroughUnstuffing) {
    TIdMessage m;
    m.From.Add("me@example.com", "Tavrel");
    m.Subject = "dots";
    m.Body = {".", "..", ".hidden", "a."};
    std::string wire;
    TStringSink s(wire);
    TDotStuffingSink dots(s);
    m.SaveToSink(dots);
    EXPECT_TRUE(dots.AtLineStart());
    EXPECT_NE(wire.find("\r\n..\r\n...\r\n..hidden\r\na.\r\n"), std::string::npos);

    // The receiving side: lines up to the terminating ".", one dot removed.
    wire += ".\r\n";
    TIdMessage back;
    TMimeParser p(back);
    std::size_t pos = 0;
    while (true) {
        const std::size_t e = wire.find("\r\n", pos);
        const std::string line = wire.substr(pos, e - pos);
        pos = e + 2;
        if (line == ".") break;
        p.FeedLine(UnstuffDotLine(line));
    }
    p.Finish();
    EXPECT_EQ(back.Body, m.Body);
    EXPECT_EQ(UnstuffDotLine("..x"), ".x");
    EXPECT_EQ(UnstuffDotLine("x."), "x.");
}

// ---- streaming ----

class MaxWriteSink : public IMessageSink {
public:
    void Write(const char* data, std::size_t len) override {
        total += len;
        if (len > maxWrite) maxWrite = len;
        if (keep) text.append(data, len);
    }
    using IMessageSink::Write;
    std::size_t total = 0, maxWrite = 0;
    bool keep = true;
    std::string text;
};

std::string TempPath(const std::string& name) {
    const char* t = std::getenv("TMPDIR");
    return std::string(t && *t ? t : "/tmp") + "/tavrel-mime-" + std::to_string(getpid()) + "-" + name;
}

TEST_F(MessageComposeTest, FileRegionAttachmentIsStreamedInBoundedPiecesAndParsesBack) {
    const std::string path = TempPath("region.bin");
    std::string content(3 * 1024 * 1024 + 17, '\0');
    std::mt19937 gen(7);
    for (char& c : content) c = static_cast<char>(gen());
    {
        std::ofstream f(path, std::ios::binary);
        f.write(content.data(), static_cast<std::streamsize>(content.size()));
    }
    const std::uint64_t offset = 1000, length = 2 * 1024 * 1024 + 5;
    TIdMessage m;
    m.From.Add("me@example.com", "Tavrel");
    m.Subject = "ExFile:\\big.bin<2/3>|Size:1";
    m.Body = {"IMPORTANT: Please don't delete this mail manually", "This Attach Size:2097157."};
    auto& a = m.AddAttachmentFile(path, offset, length);
    a.ContentType = "Stream";
    a.ContentTransfer = "base64";
    a.FileName = "\\big.bin";
    MaxWriteSink sink;
    m.SaveToSink(sink);
    EXPECT_LE(sink.maxWrite, 128u * 1024u);

    TIdMessage back;
    TMimeParser p(back);
    for (std::size_t i = 0; i < sink.text.size(); i += 4096)
        p.FeedBytes(sink.text.data() + i, std::min<std::size_t>(4096, sink.text.size() - i));
    p.Finish();
    TIdAttachment* att = back.FirstAttachment();
    ASSERT_NE(att, nullptr);
    EXPECT_EQ(att->FileName, "big.bin");
    EXPECT_EQ(att->Size(), length);
    EXPECT_TRUE(att->ReadAll() == content.substr(offset, length));
    unlink(path.c_str());
}

TEST_F(MessageComposeTest, VanishedOrShortAttachmentFileRaisesAClearError) {
    TIdMessage m;
    m.AddAttachmentFile("/nonexistent/tavrel/x.bin").FileName = "x.bin";
    std::string out;
    TStringSink s(out);
    try {
        m.SaveToSink(s);
        FAIL() << "no error";
    } catch (const EIdMessageException& e) {
        EXPECT_STREQ(e.what(), "Attachment /nonexistent/tavrel/x.bin is blocked.");
    }

    const std::string path = TempPath("short.bin");
    { std::ofstream(path) << "12345"; }
    TIdMessage m2;
    m2.AddAttachmentFile(path, 2, 10);
    EXPECT_THROW(m2.SaveToString(), EIdMessageException);
    unlink(path.c_str());
}

TEST_F(MessageComposeTest, PartsWithATopLevelTransferEncodingAreRefused) {
    TIdMessage m;
    m.AddAttachmentMemory("x");
    m.ContentTransferEncoding = "base64";
    try {
        m.SaveToString();
        FAIL();
    } catch (const EIdMessageException& e) {
        EXPECT_STREQ(e.what(), "Message parts cannot be used in a message which has a ContentTransferEncoding value.");
    }
}

TEST_F(MessageComposeTest, ExtraHeadersFollowTheStandardFieldsAndLineBreaksCannotBeInjected) {
    TIdMessage m;
    m.From.Add("me@example.com", "Tavrel");
    m.Subject = "hello\r\nBcc: victim@example.com";
    m.ExtraHeaders.SetValue("X-Mailer", "agent");
    m.ExtraHeaders.SetValue("X-Test", "a\r\nInjected: yes");
    m.SetDate(1204722189);
    const std::string text = m.SaveToString();
    EXPECT_EQ(text.find("\r\nBcc:"), std::string::npos);
    EXPECT_EQ(text.find("\r\nInjected:"), std::string::npos);
    EXPECT_LT(text.find("Date:"), text.find("X-Mailer: agent"));
    m.ExtraHeaders.SetValue("X-Mailer", "");
    EXPECT_EQ(m.SaveToString().find("X-Mailer"), std::string::npos);
}

TEST_F(MessageComposeTest, AddressForms) {
    struct Case {
        std::string address, name;
        bool from;
        std::string expected;
    } cases[] = {
        {"a@b.c", "Tavrel", true, "\"Tavrel\" <a@b.c>"},
        {"a@b.c", "", true, "\"a@b.c\" <a@b.c>"},
        {"a@b.c", "", false, "a@b.c"},
        {"a@b.c", "Say \"hi\" \\o/", false, "\"Say \\\"hi\\\" \\\\o/\" <a@b.c>"},
        {"a@b.c", "Jörg, Müller", false, "=?UTF-8?Q?J=C3=B6rg=2C_M=C3=BCller?= <a@b.c>"},
    };
    for (const auto& c : cases) {
        TIdEMailAddressList l;
        l.Add(c.address, c.name);
        EXPECT_EQ(l.HeaderText(c.from), c.expected);
        TIdEMailAddressList back;
        back.ParseHeaderText(c.expected);
        ASSERT_EQ(back.Count(), 1u);
        EXPECT_EQ(back[0].Address, c.address);
        EXPECT_EQ(back[0].Name, c.from && c.name.empty() ? c.address : c.name);
    }
}

}  // namespace
