// Parsing received messages: transfer encodings, multipart structure, uuencode, header
// decoding, and damaged or hostile input that must end in a clean result.
#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "Base64.h"
#include "IdMessage.h"

namespace {

std::string Crlf(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\r\n";
    return s;
}

std::string Multipart(const std::string& boundary, const std::vector<std::string>& partTexts, bool close = true) {
    std::string s = "From: a@b\r\nSubject: t\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"" +
                    boundary + "\"\r\n\r\nThis is a multi-part message in MIME format\r\n\r\n";
    for (const auto& p : partTexts) s += "--" + boundary + "\r\n" + p;
    if (close) s += "--" + boundary + "--\r\n\r\n";
    return s;
}

// Files in a folder, its hidden ones aside.
int EntriesIn(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    int entries = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++entries;
    closedir(d);
    return entries;
}

std::string AttachmentBytes(const TIdMessage& m, std::size_t index = 0) {
    std::size_t seen = 0;
    for (const auto& p : m.Parts)
        if (p->IsAttachment() && seen++ == index) return static_cast<const TIdAttachment&>(*p).ReadAll();
    ADD_FAILURE() << "no attachment " << index;
    return {};
}

TEST(MimeParserTest, TransferEncodingsOfAttachments) {
    struct Case {
        const char* name;
        std::string part;
        std::string bytes;
    } cases[] = {
        {"base64",
         "Content-Type: Stream;\r\n        name=\"r.doc\"\r\nContent-Transfer-Encoding: base64\r\n"
         "Content-Disposition: attachment;\r\n        filename=\"r.doc\"\r\n\r\nYWJj\r\nZGVm\r\nZw==\r\n\r\n",
         "abcdefg"},
        {"quoted-printable",
         "Content-Type: application/x-test; name=q.txt\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
         "caf=C3=A9 =3D soft=\r\nbreak   \r\nlast=\r\n",
         "caf\xC3\xA9 = softbreak\r\nlast"},
        {"7bit", "Content-Type: text/plain; name=\"n.txt\"\r\n\r\nline one\r\nline two\r\n", "line one\r\nline two"},
        {"8bit binary",
         "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: 8bit\r\n\r\n\xFF\xFE\r\n\r\nx\r\n",
         "\xFF\xFE\r\n\r\nx"},
        {"base64 with garbage and spaces",
         "Content-Type: a/b\r\nContent-Transfer-Encoding: BASE64\r\n\r\nY W*J!j\r\n  ZG Vm\r\n", "abcdef"},
        {"base64 cut short", "Content-Type: a/b\r\nContent-Transfer-Encoding: base64\r\n\r\nYWJjZA\r\n", "abcd"},
    };
    for (const auto& c : cases) {
        for (auto storage : {asTempFile, asMemory, asStream}) {
            TIdMessage m;
            m.AttachmentStorage = storage;
            std::string streamed;
            m.OnAttachmentData = [&](const char* d, std::size_t n) { streamed.append(d, n); };
            TMimeParser p(m);
            const std::string text = Multipart("b=_1", {c.part});
            p.FeedBytes(text.data(), text.size());
            p.Finish();
            EXPECT_EQ(storage == asStream ? streamed : AttachmentBytes(m), c.bytes) << c.name;
            EXPECT_EQ(m.Body, std::vector<std::string>{"This is a multi-part message in MIME format"}) << c.name;
        }
    }
}

TEST(MimeParserTest, ComposedPartMailParsesToItsFieldsAndBytes) {
    std::string data(100000, '\0');
    std::mt19937 gen(1);
    for (char& c : data) c = static_cast<char>(gen());
    TIdMessage m;
    m.From.Add("me@example.com", "Tavrel");
    m.Recipients.Add("me@example.com", "Tavrel");
    m.Subject = "ExFile:\\Docs\\report.doc<1/1>|Size:100000|Hash:5|Attri:32|Time:1;2";
    m.Body = {"IMPORTANT: Please don't delete this mail manually", "This Attach Size:100000."};
    auto& a = m.AddAttachmentMemory(data);
    a.ContentType = "Stream";
    a.ContentTransfer = "base64";
    a.FileName = "\\Docs\\report.doc";
    TIdMessage back;
    back.LoadFromString(m.SaveToString());
    EXPECT_EQ(back.Subject, m.Subject);
    ASSERT_EQ(back.From.Count(), 1u);
    EXPECT_EQ(back.From[0].Address, "me@example.com");
    EXPECT_EQ(back.From[0].Name, "Tavrel");
    EXPECT_EQ(back.Recipients[0].Address, "me@example.com");
    EXPECT_EQ(back.Encoding, meMIME);
    EXPECT_EQ(back.ContentType, "multipart/mixed");
    ASSERT_EQ(back.Parts.size(), 2u);
    ASSERT_FALSE(back.Parts[0]->IsAttachment());
    EXPECT_EQ(static_cast<TIdText&>(*back.Parts[0]).Body,
              (std::vector<std::string>{"IMPORTANT: Please don't delete this mail manually", "This Attach Size:100000."}));
    auto* att = dynamic_cast<TIdAttachmentFile*>(back.Parts[1].get());
    ASSERT_NE(att, nullptr);
    EXPECT_EQ(att->FileName, "report.doc");
    EXPECT_EQ(att->ContentType, "Stream");
    EXPECT_EQ(att->ContentTransfer, "base64");
    EXPECT_TRUE(att->ReadAll() == data);
}

TEST(MimeParserTest, TemporaryAttachmentFilesGoAwayWithTheParts) {
    char dirTemplate[] = "/tmp/tavrel-mime-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    TIdMessage m;
    m.AttachmentTempDirectory = dir;
    const std::string text = Multipart("b", {"Content-Type: a/b; name=x\r\nContent-Transfer-Encoding: base64\r\n\r\nYWJj\r\n",
                                             "Content-Type: a/b; name=y\r\n\r\nzz\r\n"});
    m.LoadFromString(text);
    ASSERT_EQ(m.Parts.size(), 2u);
    auto* f = dynamic_cast<TIdAttachmentFile*>(m.Parts[0].get());
    ASSERT_NE(f, nullptr);
    const std::string stored = f->StoredPathName();
    EXPECT_EQ(stored.rfind(dir + "/tvm", 0), 0u) << stored;
    EXPECT_EQ(stored.size(), dir.size() + 1 + 3 + 8 + 4);
    EXPECT_EQ(stored.substr(stored.size() - 4), ".tmp");
    EXPECT_EQ(access(stored.c_str(), F_OK), 0);
    m.ClearBody();
    EXPECT_NE(access(stored.c_str(), F_OK), 0);
    m.LoadFromString(text);
    m.Clear();
    EXPECT_EQ(EntriesIn(dir), 0);
    rmdir(dir.c_str());
}

TEST(MimeParserTest, StreamedStorageHandsOnTheFirstAttachmentOnlyAndStoresNothing) {
    char dirTemplate[] = "/tmp/tavrel-mime-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    TIdMessage m;
    m.AttachmentTempDirectory = dir;
    m.AttachmentStorage = asStream;
    std::string streamed;
    m.OnAttachmentData = [&](const char* d, std::size_t n) { streamed.append(d, n); };
    const std::string text = Multipart("b", {"Content-Type: text/plain\r\n\r\nbody\r\n",
                                             "Content-Type: a/b; name=x\r\nContent-Transfer-Encoding: base64\r\n\r\nYWJj\r\n",
                                             "Content-Type: a/b; name=y\r\n\r\nzz\r\n"});
    for (int round = 0; round < 2; ++round) { // the setting outlives Clear
        streamed.clear();
        m.Clear();
        m.LoadFromString(text);
        EXPECT_EQ(streamed, "abc");
        ASSERT_EQ(m.Parts.size(), 3u);
        ASSERT_NE(m.FirstAttachment(), nullptr);
        EXPECT_EQ(m.FirstAttachment()->FileName, "x");
    }
    EXPECT_EQ(EntriesIn(dir), 0);
    rmdir(dir.c_str());
}

TEST(MimeParserTest, TextPartsNestedContainersAndClassification) {
    const std::string inner = "Content-Type: multipart/alternative; boundary=\"inner\"\r\n\r\n"
                              "inner preamble\r\n"
                              "--inner\r\nContent-Type: text/plain; charset=\"utf-8\"\r\n\r\nplain text\r\n\r\n"
                              "--inner\r\nContent-Type: text/html\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
                              "<p>h=C3=A9</p>\r\n"
                              "--inner--\r\nepilogue\r\n";
    const std::string text = Multipart(
        "outer", {inner,
                  "Content-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\nYWJj\r\n",        // no name
                  "Content-Type: text/plain\r\nContent-Disposition: attachment\r\n\r\nnote\r\n",         // disposition
                  "Content-Type: text/plain\r\nContent-Disposition: inline; filename*=UTF-8''%C3%A4.txt\r\n\r\nx\r\n"});
    TIdMessage m;
    m.LoadFromString(text);
    ASSERT_EQ(m.Parts.size(), 5u);
    auto* t1 = dynamic_cast<TIdText*>(m.Parts[0].get());
    auto* t2 = dynamic_cast<TIdText*>(m.Parts[1].get());
    ASSERT_TRUE(t1 && t2);
    EXPECT_EQ(t1->Body, std::vector<std::string>{"plain text"});
    EXPECT_EQ(t1->CharSet, "utf-8");
    EXPECT_EQ(t2->Body, std::vector<std::string>{"<p>h\xC3\xA9</p>"});
    EXPECT_EQ(t2->ContentType, "text/html");
    ASSERT_TRUE(m.Parts[2]->IsAttachment());
    EXPECT_EQ(AttachmentBytes(m, 0), "abc");
    EXPECT_EQ(AttachmentBytes(m, 1), "note");
    EXPECT_EQ(static_cast<TIdAttachment&>(*m.Parts[4]).FileName, "\xC3\xA4.txt");
    EXPECT_EQ(m.Body, std::vector<std::string>{"This is a multi-part message in MIME format"});
}

TEST(MimeParserTest, MissingClosingBoundaryKeepsTheData) {
    const std::string text = Multipart(
        "b", {"Content-Type: a/b; name=x\r\nContent-Transfer-Encoding: base64\r\n\r\nYWJj\r\nZGVm\r\n"}, false);
    for (bool bytes : {true, false}) {
        TIdMessage m;
        TMimeParser p(m);
        if (bytes) {
            p.FeedBytes(text.data(), text.size());
        } else {
            std::size_t pos = 0;
            while (pos < text.size()) {
                const std::size_t e = text.find("\r\n", pos);
                p.FeedLine(text.substr(pos, e - pos));
                pos = e + 2;
            }
        }
        p.Finish();
        EXPECT_EQ(AttachmentBytes(m), "abcdef");
    }
}

TEST(MimeParserTest, OuterBoundaryClosesAnUnclosedInnerContainer) {
    const std::string text =
        Multipart("out", {"Content-Type: multipart/mixed; boundary=in\r\n\r\n--in\r\nContent-Type: a/b; name=1\r\n\r\none\r\n",
                          "Content-Type: a/b; name=2\r\n\r\ntwo\r\n"});
    TIdMessage m;
    m.LoadFromString(text);
    EXPECT_EQ(AttachmentBytes(m, 0), "one");
    EXPECT_EQ(AttachmentBytes(m, 1), "two");
}

TEST(MimeParserTest, SinglePartBodies) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> body;
        std::string attachment;  // empty: none
    } cases[] = {
        {"plain", "Subject: x\r\n\r\nline 1\r\n\r\nline 3\r\n", {"line 1", "", "line 3"}, ""},
        {"plain qp", "Subject: x\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\na=3Db=\r\nc\r\nd\r\n",
         {"a=bc", "d"}, ""},
        {"mime text base64", "MIME-Version: 1.0\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                             "bGluZSAxDQpsaW5lIDI=\r\n",
         {"line 1", "line 2"}, ""},
        {"mime binary", "MIME-Version: 1.0\r\nContent-Type: application/pdf; name=\"d.pdf\"\r\n"
                        "Content-Transfer-Encoding: base64\r\n\r\nJVBERg==\r\n",
         {}, "%PDF"},
        {"empty body", "Subject: x\r\n\r\n", {}, ""},
    };
    for (const auto& c : cases) {
        TIdMessage m;
        m.LoadFromString(c.text);
        EXPECT_EQ(m.Body, c.body) << c.name;
        if (c.attachment.empty()) {
            EXPECT_EQ(m.FirstAttachment(), nullptr) << c.name;
        } else {
            ASSERT_NE(m.FirstAttachment(), nullptr) << c.name;
            EXPECT_EQ(m.FirstAttachment()->ReadAll(), c.attachment);
            EXPECT_EQ(m.FirstAttachment()->FileName, "d.pdf");
        }
    }
}

TEST(MimeParserTest, UuencodeAndXxencodeBlocksInPlainBodies) {
    const std::string text = Crlf({"Subject: files", "", "Here they are:", "begin 644 abc.txt", "#86)C", "`", "end",
                                   "between", "begin 600 x.bin", "1MK7X", "+", "end", "bye"});
    TIdMessage m;
    m.LoadFromString(text);
    EXPECT_EQ(m.Body, (std::vector<std::string>{"Here they are:", "between", "bye"}));
    ASSERT_EQ(m.Parts.size(), 2u);
    EXPECT_EQ(AttachmentBytes(m, 0), "abc");
    EXPECT_EQ(static_cast<TIdAttachment&>(*m.Parts[0]).FileName, "abc.txt");
    EXPECT_EQ(AttachmentBytes(m, 1), "abc");
    EXPECT_EQ(static_cast<TIdAttachment&>(*m.Parts[1]).FileName, "x.bin");
}

TEST(MimeParserTest, UuencodedLongerData) {
    // 45-byte lines ("M") and a short last line, as produced by the classic tool.
    std::string data;
    for (int i = 0; i < 100; ++i) data.push_back(static_cast<char>(i * 7));
    std::vector<std::string> lines = {"Subject: u", "", "begin 644 d.bin"};
    for (std::size_t off = 0; off < data.size(); off += 45) {
        const std::string chunk = data.substr(off, 45);
        std::string l(1, static_cast<char>(32 + chunk.size()));
        for (std::size_t i = 0; i < chunk.size(); i += 3) {
            unsigned char b[3] = {0, 0, 0};
            for (std::size_t k = 0; k < 3 && i + k < chunk.size(); ++k) b[k] = static_cast<unsigned char>(chunk[i + k]);
            const int v[4] = {b[0] >> 2, ((b[0] & 3) << 4) | (b[1] >> 4), ((b[1] & 15) << 2) | (b[2] >> 6), b[2] & 63};
            for (int x : v) l.push_back(x == 0 ? '`' : static_cast<char>(32 + x));
        }
        lines.push_back(l);
    }
    lines.insert(lines.end(), {"`", "end"});
    TIdMessage m;
    m.LoadFromString(Crlf(lines));
    EXPECT_EQ(AttachmentBytes(m), data);
}

// ---- header decoding ----

TEST(MimeParserTest, EncodedWordsAreDecodedAndConvertedToUtf8) {
    struct Case {
        const char* name;
        std::string raw, decoded;
    } cases[] = {
        {"latin1 Q", "=?ISO-8859-1?Q?ExFile:\\Caf=E9\\x.txt?=", "ExFile:\\Caf\xC3\xA9\\x.txt"},
        {"latin1 lower-case kind and name", "=?iso-8859-1?q?=E9t=E9?=", "\xC3\xA9t\xC3\xA9"},
        {"windows-1252 euro and quotes", "=?windows-1252?Q?=80_=93x=94?=", "\xE2\x82\xAC \xE2\x80\x9Cx\xE2\x80\x9D"},
        {"windows-1252 B", "=?windows-1252?B?gA==?=", "\xE2\x82\xAC"},
        {"utf-8 stays", "=?UTF-8?B?w6TDtsO8?=", "\xC3\xA4\xC3\xB6\xC3\xBC"},
        {"koi8-r", "=?KOI8-R?B?5M/N?=", "\xD0\x94\xD0\xBE\xD0\xBC"},
        {"adjacent words lose the blank between", "=?UTF-8?Q?a?= =?UTF-8?Q?b?=  \r\n =?UTF-8?Q?c?=", "abc"},
        {"plain text keeps its blanks", "x =?UTF-8?Q?a?= y  z", "x a y  z"},
        {"utf-8 character split over two words", "=?UTF-8?Q?=C3?= =?UTF-8?Q?=A4?=", "\xC3\xA4"},
        {"unknown charset keeps bytes", "=?x-unknown?Q?a=E9?=", "a\xE9"},
        {"malformed stays as it is", "=?UTF-8?Q?a=ZZ?= =?UTF-8?B?!!?= =?UTF-8?X?a?= =?broken", "=?UTF-8?Q?a=ZZ?= =?UTF-8?B?!!?= =?UTF-8?X?a?= =?broken"},
        {"NUL removed", "=?UTF-8?Q?a=00b?=", "ab"},
        {"underscore only", "my_file_name", "my_file_name"},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeHeaderValue(c.raw), c.decoded) << c.name;

    TIdMessage m;
    TMimeParser p(m);
    p.FeedLine("Subject: =?ISO-8859-1?Q?ExFile:\\Caf=E9?=");
    p.FeedLine(" =?ISO-8859-1?Q?\\x.txt?=");
    p.FeedLine("From: =?windows-1252?Q?J=F6rg_=80?= <j@x.de>, \"Plain, Name\" <p@x.de>, bare@x.de (Comment)");
    p.Finish();
    EXPECT_EQ(m.Subject, "ExFile:\\Caf\xC3\xA9\\x.txt");
    ASSERT_EQ(m.From.Count(), 3u);
    EXPECT_EQ(m.From[0].Name, "J\xC3\xB6rg \xE2\x82\xAC");
    EXPECT_EQ(m.From[0].Address, "j@x.de");
    EXPECT_EQ(m.From[1].Name, "Plain, Name");
    EXPECT_EQ(m.From[2].Address, "bare@x.de");
    EXPECT_EQ(m.From[2].Name, "Comment");
    EXPECT_EQ(m.Encoding, mePlainText);
}

TEST(MimeParserTest, HeaderOnlyFetchFillsTheHeaderFields) {
    TIdMessage m;
    TMimeParser p(m);
    for (const char* l : {"Return-Path: <x@y>", "subject: ExFile:\\a.txt<1/1>|Size:1", "MIME-Version: 1.0",
                          "Content-Type: multipart/mixed;", "\tboundary=\"zz=_y\"", "Date: Wed, 5 Mar 2008 14:03:09 +0100",
                          "X-Priority: 1 (Highest)"})
        p.FeedLine(l);
    EXPECT_TRUE(p.InHeader());
    p.Finish();
    EXPECT_EQ(m.Subject, "ExFile:\\a.txt<1/1>|Size:1");
    EXPECT_EQ(m.Encoding, meMIME);
    EXPECT_EQ(m.ContentType, "multipart/mixed");
    EXPECT_EQ(m.Boundary, "zz=_y");
    EXPECT_EQ(m.Date, 1204722189);
    EXPECT_EQ(m.Priority, mpHighest);
    EXPECT_EQ(m.Headers.Values("Return-Path"), "<x@y>");

    TIdMessage plain;
    plain.LoadFromString("Subject: s\r\n\r\n");
    EXPECT_EQ(plain.ContentType, "text/plain");
}

// ---- damaged and hostile input ----

TEST(MimeParserTest, AbsurdNestingIsBounded) {
    std::string text = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b0\r\n\r\n";
    const int depth = 5000;
    for (int i = 0; i < depth; ++i)
        text += "--b" + std::to_string(i) + "\r\nContent-Type: multipart/mixed; boundary=b" + std::to_string(i + 1) +
                "\r\n\r\n";
    text += "--b" + std::to_string(depth) + "\r\nContent-Type: a/b; name=deep\r\n\r\ndata\r\n";
    TIdMessage m;
    TMimeParser p(m);
    p.FeedBytes(text.data(), text.size());
    p.Finish();
    EXPECT_TRUE(p.Truncated());
    EXPECT_LE(m.Parts.size(), 1u);  // the too-deep container is kept as one opaque attachment
}

TEST(MimeParserTest, TooManyPartsAreDropped) {
    std::vector<std::string> parts(TMimeParser::kMaxParts + 50, "Content-Type: a/b; name=n\r\n\r\nx\r\n");
    TIdMessage m;
    m.AttachmentStorage = asMemory;
    TMimeParser p(m);
    const std::string text = Multipart("b", parts);
    p.FeedBytes(text.data(), text.size());
    p.Finish();
    EXPECT_EQ(m.Parts.size(), TMimeParser::kMaxParts);
    EXPECT_TRUE(p.Truncated());
}

TEST(MimeParserTest, OverlongLinesArePiecedNotHeldWhole) {
    // A 7bit attachment of one 5 MiB line without line ends keeps every byte.
    const std::string big(5 * 1024 * 1024 + 3, 'x');
    std::string text = Multipart("b", {"Content-Type: a/b; name=n\r\n\r\n" + big + "\r\n"});
    TIdMessage m;
    TMimeParser p(m);
    for (std::size_t i = 0; i < text.size(); i += 100000) p.FeedBytes(text.data() + i, std::min<std::size_t>(100000, text.size() - i));
    p.Finish();
    EXPECT_TRUE(AttachmentBytes(m) == big);

    // A huge header line: dropped beyond the bound, fields before it still read.
    std::string hdr = "Subject: kept\r\nX-Junk: " + std::string(3 * 1024 * 1024, 'j') + "\r\nFrom: late@x\r\n\r\nbody\r\n";
    TIdMessage h;
    TMimeParser hp(h);
    hp.FeedBytes(hdr.data(), hdr.size());
    hp.Finish();
    EXPECT_EQ(h.Subject, "kept");
    EXPECT_TRUE(hp.Truncated());
    EXPECT_EQ(h.Body, std::vector<std::string>{"body"});
}

TEST(MimeParserTest, RandomGarbageNeverCrashes) {
    std::mt19937 gen(42);
    const std::string pieces[] = {"--b\r\n", "--b--\r\n", "Content-Type: multipart/mixed; boundary=b\r\n",
                                  "Content-Transfer-Encoding: base64\r\n", "Content-Transfer-Encoding: quoted-printable\r\n",
                                  "\r\n", "=?UTF-8?Q?=", "begin 644 f\r\n", "end\r\n", "=\r\n", "M86)C\r\n",
                                  "Content-Disposition: attachment; filename*0*=x''%\r\n", "\n", "\r", "=?x?B?", "YWJj"};
    for (int round = 0; round < 300; ++round) {
        std::string text = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n";
        const int n = static_cast<int>(gen() % 60);
        for (int i = 0; i < n; ++i) {
            if (gen() % 4 == 0) text.push_back(static_cast<char>(gen()));
            else text += pieces[gen() % std::size(pieces)];
        }
        TIdMessage m;
        m.AttachmentStorage = round % 2 ? asMemory : asTempFile;
        TMimeParser p(m);
        std::size_t pos = 0;
        while (pos < text.size()) {
            const std::size_t k = 1 + gen() % 17;
            p.FeedBytes(text.data() + pos, std::min(k, text.size() - pos));
            pos += k;
        }
        p.Finish();
        for (const auto& part : m.Parts)
            if (part->IsAttachment()) static_cast<TIdAttachment&>(*part).ReadAll();
        (void)DecodeHeaderValue(text);
    }
}

TEST(MimeParserTest, PathologicalHeaderValuesTakeLinearTime) {
    // Many openings of encoded words that never close: each must be rejected quickly.
    std::string value;
    while (value.size() < 900000) value += "=?a?Q?x";
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(DecodeHeaderValue(value), value);
    TIdMessage m;
    m.LoadFromString("Subject: " + value + "\r\n\r\n");
    EXPECT_EQ(m.Subject, value);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 5.0);
}

TEST(MimeParserTest, MemoryAttachmentsHonourTheirLimit) {
    TIdMessage m;
    m.AttachmentStorage = asMemory;
    m.MaxMemoryAttachmentSize = 10;
    EXPECT_THROW(m.LoadFromString(Multipart("b", {"Content-Type: a/b; name=n\r\n\r\n0123456789AB\r\n"})),
                 EIdMessageException);
}

TEST(MimeParserTest, UnwritableTempDirectoryRaisesAClearError) {
    TIdMessage m;
    m.AttachmentTempDirectory = "/nonexistent/tavrel-dir";
    try {
        m.LoadFromString(Multipart("b", {"Content-Type: a/b; name=n\r\n\r\nx\r\n"}));
        FAIL();
    } catch (const EIdMessageException& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/tavrel-dir/tvm"), std::string::npos) << e.what();
    }
}

}  // namespace
