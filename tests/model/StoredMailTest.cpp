#include "StoredMail.h"

#include <gtest/gtest.h>

TEST(StoredMail, PartSizeAndCutting) {
    EXPECT_EQ(PartSizeFor(10485760), 8388608u);
    EXPECT_EQ(PartSizeFor(0), 2147483647u);
    EXPECT_EQ(PartSizeFor(1), 1u); // 0.8 rounds to 1
    const uint32_t P = 1000;
    struct Case {
        uint32_t size, n, last;
    } cases[] = {{1, 1, 1}, {P - 1, 1, P - 1}, {P, 1, P}, {P + 1, 2, 1}, {2 * P + 100, 3, 100}};
    for (auto& c : cases) {
        EXPECT_EQ(PartCountFor(c.size, P), c.n) << c.size;
        EXPECT_EQ(PartLength(c.size, P, c.n), c.last) << c.size;
        if (c.n > 1) {
            EXPECT_EQ(PartLength(c.size, P, 1), P);
        }
    }
    EXPECT_EQ(PartCountFor(0xFFFFFFFFu, 2147483647u), 3u);
}

TEST(StoredMail, WriterTexts) {
    EXPECT_EQ(FolderSubject("\\Docs\\", "39814.5"), "ExFile:\\Docs\\|Time:39814.5");
    EXPECT_EQ(PartSubject("\\Docs\\r.doc", 2, 3, 20000000, 4294967295u, 32, "39814.5", "39000.25"),
              "ExFile:\\Docs\\r.doc<2/3>|Size:20000000|Hash:4294967295|Attri:32|Time:39814.5;"
              "39000.25");
    EXPECT_EQ(PartBodyLine2(8388608), "This Attach Size:8388608.");
}

TEST(StoredMail, ReadsWhatItWrites) {
    auto s = ParseStoredSubject(
        PartSubject("\\a b\\\xc3\xa4.txt", 1, 2, 5, 7091, 32, "39814.5", "39000,25"));
    ASSERT_EQ(s.kind, TStoredSubject::FilePart);
    EXPECT_EQ(s.path, "\\a b\\\xc3\xa4.txt");
    EXPECT_EQ(s.part, 1u);
    EXPECT_EQ(s.count, 2u);
    EXPECT_EQ(s.size, 5u);
    EXPECT_EQ(s.hash, 7091u);
    EXPECT_EQ(s.attributes, 32u);
    EXPECT_EQ(s.created, "39814.5");
    EXPECT_EQ(s.modified, "39000,25");

    auto f = ParseStoredSubject("  ExFile:\\Docs\\|Time:39814.5\r\n");
    ASSERT_EQ(f.kind, TStoredSubject::Folder);
    EXPECT_EQ(f.path, "\\Docs\\");
    EXPECT_EQ(f.created, "39814.5");
}

TEST(StoredMail, CaseOfMarkerAndNamesIsIgnored) {
    auto s = ParseStoredSubject("exfile:\\a.txt<1/1>|size:5|hash:1|attri:32|time:1;2");
    ASSERT_EQ(s.kind, TStoredSubject::FilePart);
    EXPECT_EQ(s.size, 5u);
    EXPECT_EQ(s.modified, "2");
    // Sizes between 2 GiB and 4 GiB read back as written.
    auto big = ParseStoredSubject("ExFile:\\big<1/2>|Size:3000000000|Hash:1|Attri:32|Time:1;2");
    ASSERT_EQ(big.kind, TStoredSubject::FilePart);
    EXPECT_EQ(big.size, 3000000000u);
    // A hash wider than 32 bits is kept whole here; the table takes its low 32 bits.
    EXPECT_EQ(ParseStoredSubject("ExFile:\\h<1/1>|Size:1|Hash:4294967297|Attri:0|Time:1;2").hash,
              4294967297u);
}

TEST(StoredMail, ForeignDamagedAndUnsafeSubjectsAreSkipped) {
    const char* skipped[] = {
        "Re: hello",
        "ExFile: \\a.txt<1/1>|Size:5|Hash:1|Attri:32|Time:1;2", // blank after the marker
        "ExFile:\\a.txt<1/1>|Sise:5|Hash:1|Attri:32|Time:1;2",  // a field name is wrong
        "ExFile:\\a.txt<1/1>|Size:5|Hash:1|Time:1;2",           // a field is missing
        "ExFile:\\a\\|Date:1",                                  // folder without Time
        "ExFile:\\a.txt<x/1>|Size:5|Hash:1|Attri:32|Time:1;2",  // i not a number
        "ExFile:\\a.txt<1/y>|Size:5|Hash:1|Attri:32|Time:1;2",  // n not a number
        "ExFile:\\a.txt<1/1>|Size:-5|Hash:1|Attri:32|Time:1;2", // S not a number
        "ExFile:\\a.txt<1/1>|Size:5|Hash:0x1|Attri:32|Time:1;2",
        "ExFile:\\a.txt<1/1>|Size:5|Hash:1|Attri:3 2|Time:1;2",
        "ExFile:\\a.txt<1/1>|Size:4294967296|Hash:1|Attri:32|Time:1;2", // S over 32 bits
        "ExFile:\\a.txt<0/1>|Size:5|Hash:1|Attri:32|Time:1;2",  // part 0
        "ExFile:\\a.txt<3/2>|Size:5|Hash:1|Attri:32|Time:1;2",  // part beyond n
        "ExFile:\\a.txt<1/0>|Size:5|Hash:1|Attri:32|Time:1;2",  // no parts
        "ExFile:\\a.txt<1/9>|Size:5|Hash:1|Attri:32|Time:1;2",  // more parts than bytes
        "ExFile:\\a.txt<1/2000000>|Size:4000000000|Hash:1|Attri:32|Time:1;2",
        "ExFile:\\a.txt<1/99999999999999999999>|Size:5|Hash:1|Attri:32|Time:1;2",
        "ExFile:\\..\\x<1/1>|Size:5|Hash:1|Attri:32|Time:1;2",  // climbs out of the cache
        "ExFile:\\a\\.\\x<1/1>|Size:5|Hash:1|Attri:32|Time:1;2",
        "ExFile:\\a\\\\x<1/1>|Size:5|Hash:1|Attri:32|Time:1;2", // empty name
        "ExFile:\\a/b<1/1>|Size:5|Hash:1|Attri:32|Time:1;2",    // a slash
        "ExFile:\\a\x01" "b<1/1>|Size:5|Hash:1|Attri:32|Time:1;2",
        "ExFile:\\a\\<1/1>|Size:5|Hash:1|Attri:32|Time:1;2",    // a file named by a folder path
        "ExFile:\\|Time:1",                                     // the root
        "ExFile:\\..\\|Time:1",
        "ExFile:\\a.txt",                                       // no part numbers at all
    };
    for (const char* s : skipped)
        EXPECT_EQ(ParseStoredSubject(s).kind, TStoredSubject::None) << s;
    // An empty file has one part and size 0.
    EXPECT_EQ(ParseStoredSubject("ExFile:\\e<1/1>|Size:0|Hash:0|Attri:32|Time:1;2").kind,
              TStoredSubject::FilePart);
}

TEST(StoredMail, DeletePatterns) {
    EXPECT_EQ(DeletePattern("\\a"), "ExFile:\\a<");
    EXPECT_EQ(DeletePattern("\\a\\"), "ExFile:\\a\\");
    const std::string file = DeletePattern("\\a");
    EXPECT_TRUE(SubjectMatchesPattern(" exfile:\\A<1/1>|Size:1", file));
    EXPECT_FALSE(SubjectMatchesPattern("ExFile:\\ab.txt<1/1>|Size:1", file));
    const std::string folder = DeletePattern("\\a\\");
    for (const char* s : {"ExFile:\\a\\|Time:1", "ExFile:\\a\\b.txt<1/1>|Size:1",
                          "ExFile:\\a\\c\\d.txt<1/2>|Size:1"})
        EXPECT_TRUE(SubjectMatchesPattern(s, folder)) << s;
    EXPECT_FALSE(SubjectMatchesPattern("ExFile:\\ab\\|Time:1", folder));
}
