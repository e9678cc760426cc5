#include "ExFile.h"
#include "StoredMail.h"

#include <gtest/gtest.h>

namespace {
TExFile File(const std::string& path, uint32_t size = 1) {
    TExFile f;
    f.Path = path;
    f.Size = size;
    f.Created = f.Modified = "1";
    f.Parts.emplace(1, "s");
    return f;
}

std::string Part(const std::string& path, int i, int n, int size, const char* time = "5;6") {
    return "ExFile:" + path + "<" + std::to_string(i) + "/" + std::to_string(n) +
           ">|Size:" + std::to_string(size) + "|Hash:77|Attri:32|Time:" + time;
}
} // namespace

TEST(ExFiles, AddingAFileAddsImplicitParents) {
    TExFiles t;
    t.Add(File("\\a\\b\\c.txt"));
    ASSERT_EQ(t.Count(), 3);
    EXPECT_GE(t.IndexOf("\\a\\"), 0);
    EXPECT_GE(t.IndexOf("\\A\\B\\"), 0); // ASCII case is folded
    EXPECT_TRUE(t.Items(t.IndexOf("\\a\\")).Implicit);
    EXPECT_TRUE(t.Items(t.IndexOf("\\a\\b\\")).IsFolder);
    EXPECT_EQ(t.IndexOf("\\"), -1); // the root has no entry
    EXPECT_EQ(t.IndexOf("\\\xc3\x84\\"), -1);
    t.Add(File("\\\xc3\xa4.txt"));
    EXPECT_EQ(t.IndexOf("\\\xc3\x84.txt"), -1); // non-ASCII case differs: another path
}

TEST(ExFiles, ExplicitFolderBeatsImplicitInEitherOrder) {
    TExFiles later;
    later.AddSubject(Part("\\a\\b\\c.txt", 1, 1, 1));
    later.AddSubject("ExFile:\\a\\|Time:42");
    const TExFile& a = later.Items(later.IndexOf("\\a\\"));
    EXPECT_FALSE(a.Implicit);
    EXPECT_EQ(a.Created, "42");

    TExFiles first;
    first.AddSubject("ExFile:\\a\\|Time:42");
    first.AddSubject(Part("\\a\\b\\c.txt", 1, 1, 1));
    EXPECT_EQ(first.Count(), 3);
    EXPECT_EQ(first.Items(first.IndexOf("\\a\\")).Modified, "42");
    EXPECT_FALSE(first.Items(first.IndexOf("\\a\\")).Implicit);
}

TEST(ExFiles, OneVersionOfAFileIsShownAndNeverMixedWithAnother) {
    // Subjects as a listing gives them, newest mail first. A version is the set of parts
    // whose subjects agree on everything but the part number.
    const std::string v1a = Part("\\f.bin", 1, 3, 3000, "2;3"), v1b = Part("\\F.BIN", 2, 3, 3000, "2;3"),
                      v1c = Part("\\f.bin", 3, 3, 3000, "2;3");
    const std::string old1 = Part("\\f.bin", 1, 2, 20, "1;1"), old2 = Part("\\f.bin", 2, 2, 20, "1;1");
    const std::string one = Part("\\f.bin", 1, 1, 9, "8;9");
    struct Case {
        const char* what;
        std::vector<std::string> subjects;
        uint32_t size;        // of the version shown
        bool incomplete;
        size_t versionSubjects;
    } cases[] = {
        {"parts out of order", {v1b, v1a, v1c}, 3000, false, 3},
        {"a part sent twice counts once", {v1a, v1b, v1a, v1c}, 3000, false, 3},
        {"an interrupted newer upload never hides the complete one", {v1a, old1, v1b, old2}, 20, false, 4},
        {"the newest complete version wins", {one, old2, old1}, 9, false, 3},
        {"a stale part of another version is not mixed in", {old1, old2, v1b}, 20, false, 3},
        {"nothing complete: the newest is shown, as incomplete", {v1b, old2}, 3000, true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TExFiles t;
        for (const auto& s : c.subjects) EXPECT_TRUE(t.AddSubject(s));
        ASSERT_EQ(t.Count(), 1);
        const TExFile& f = t.Items(0);
        EXPECT_EQ(f.Size, c.size);
        EXPECT_EQ(IsIncompleteFile(f), c.incomplete);
        // Every slot holds a part of the shown version.
        for (const auto& part : *f.Parts) {
            if (part.empty()) continue;
            EXPECT_EQ(ParseStoredSubject(part).size, c.size);
        }
        EXPECT_EQ(t.VersionSubjects("\\F.bin").size(), c.versionSubjects);
    }
    TExFiles t;
    t.AddSubject(v1b);
    t.AddSubject(v1a);
    t.AddSubject(v1c);
    const TExFile& f = t.Items(0);
    EXPECT_EQ(f.Created, "2");
    EXPECT_EQ(f.Modified, "3");
    EXPECT_EQ(f.Hash, 77u);
    EXPECT_EQ(*f.Parts, (std::vector<std::string>{v1a, v1b, v1c}));
    // A state set on the entry survives a switch of the version shown.
    TExFiles u;
    u.AddSubject(v1a);
    u.Items(0).State = fsDownloading;
    u.AddSubject(one);
    EXPECT_EQ(u.Items(0).Size, 9u);
    EXPECT_EQ(u.Items(0).State, fsDownloading);
    // Deleting the entry forgets its versions.
    u.Delete(0);
    u.AddSubject(v1b);
    EXPECT_EQ(u.VersionSubjects("\\f.bin"), std::vector<std::string>{v1b});
}

TEST(ExFiles, UntrustedSubjectsNeverBreakTheTable) {
    TExFiles t;
    t.AddSubject(Part("\\f.bin", 1, 2, 3000));
    // A damaged subject is skipped, and the subjects after it are still applied; one of
    // another version (nine parts) does not change the complete two-part entry.
    t.AddSubject(Part("\\f.bin", 5, 9, 3000));
    EXPECT_FALSE(t.AddSubject("ExFile:\\f.bin<1/2>"));
    EXPECT_FALSE(t.AddSubject("ExFile:\\f.bin<x/2>|Size:1|Hash:1|Attri:1|Time:1;2"));
    EXPECT_FALSE(t.AddSubject("ExFile:\\g.bin<1/1>|Size:abc|Hash:1|Attri:1|Time:1;2"));
    EXPECT_FALSE(t.AddSubject("ExFile:\\..\\evil<1/1>|Size:1|Hash:1|Attri:1|Time:1;2"));
    EXPECT_FALSE(t.AddSubject("Meeting tomorrow"));
    EXPECT_TRUE(t.AddSubject(Part("\\f.bin", 2, 2, 3000)));
    EXPECT_EQ(t.Count(), 1);
    EXPECT_EQ(t.Items(0).Parts->size(), 2u);
    EXPECT_FALSE(IsIncompleteFile(t.Items(0)));
    EXPECT_EQ((*t.Items(0).Parts)[1], Part("\\f.bin", 2, 2, 3000));
    // The hash keeps its low 32 bits.
    t.AddSubject("ExFile:\\h<1/1>|Size:1|Hash:4294967298|Attri:0|Time:1;2");
    EXPECT_EQ(t.Items(t.IndexOf("\\h")).Hash, 2u);
}

TEST(ExFiles, ChildNameAndIsBusy) {
    TExFiles t;
    t.AddSubject("ExFile:\\docs\\|Time:1");
    t.Add(File("\\a.txt"));
    t.Add(File("\\docs\\b.txt"));
    t.Add(File("\\docs\\sub\\x.bin"));
    auto child = [&](const std::string& folder, const std::string& path) {
        return t.ChildName(folder, t.IndexOf(path));
    };
    EXPECT_EQ(child("\\", "\\docs\\"), "docs");
    EXPECT_EQ(child("\\", "\\a.txt"), "a.txt");
    EXPECT_EQ(child("\\", "\\docs\\b.txt"), "");
    EXPECT_EQ(child("\\DOCS\\", "\\docs\\b.txt"), "b.txt");
    EXPECT_EQ(child("\\docs\\", "\\docs\\"), "");
    EXPECT_EQ(child("\\docs\\", "\\docs\\sub\\"), "sub");
    EXPECT_EQ(child("\\docs\\", "\\docs\\sub\\x.bin"), "");

    const TExFile& docs = t.Items(t.IndexOf("\\docs\\"));
    EXPECT_FALSE(t.IsBusy(docs));
    t.Items(t.IndexOf("\\docs\\sub\\x.bin")).State = fsDownloading;
    EXPECT_TRUE(t.IsBusy(docs));
    EXPECT_FALSE(t.IsBusy(t.Items(t.IndexOf("\\a.txt"))));
}

TEST(ExFiles, DeletePutAndClearKeepTheIndexRight) {
    TExFiles t;
    for (int i = 0; i < 50; ++i) t.Add(File("\\f" + std::to_string(i)));
    t.Delete(t.IndexOf("\\f10"));
    t.Delete(0);
    EXPECT_EQ(t.Count(), 48);
    EXPECT_EQ(t.IndexOf("\\f10"), -1);
    for (int i = 1; i < 50; ++i) {
        if (i == 10) continue;
        int idx = t.IndexOf("\\F" + std::to_string(i));
        ASSERT_GE(idx, 0) << i;
        EXPECT_EQ(t.Items(idx).Path, "\\f" + std::to_string(i));
    }
    // Put renames an entry: the old path is gone, the new one found; the part list is a copy.
    TExFile rec = File("\\renamed");
    int idx = t.IndexOf("\\f20");
    t.Put(idx, rec);
    rec.Parts->at(0) = "changed";
    EXPECT_EQ(t.IndexOf("\\f20"), -1);
    EXPECT_EQ(t.IndexOf("\\RENAMED"), idx);
    EXPECT_EQ(t.Items(idx).Parts->at(0), "s");
    // Adding an existing file overwrites it in place.
    t.Add(File("\\renamed", 99));
    EXPECT_EQ(t.Items(idx).Size, 99u);
    t.Clear();
    EXPECT_EQ(t.Count(), 0);
    EXPECT_EQ(t.IndexOf("\\renamed"), -1);
}
