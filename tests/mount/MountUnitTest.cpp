// The parts of tavrel-mount that need no kernel and no server: the command line, the
// names between the mounted tree and the mailbox, and the tree built from a file table.
#include "MailFolder.h"
#include "MountArgs.h"
#include "MountNames.h"
#include "MountTable.h"

#include <gtest/gtest.h>

TEST(MountArguments, TakesOurOptionsAndPassesTheRestToLibfuse) {
    TMountArgs a;
    std::string error;
    ASSERT_TRUE(ParseMountArgs({"--home", "/h", "-f", "--yes", "--password-stdin", "-o",
                                "async,refresh=5,allow_other", "-ofsname=x", "Box", "/mnt"},
                               a, error))
        << error;
    EXPECT_EQ(a.home, "/h");
    EXPECT_TRUE(a.foreground && a.async && a.passwordStdin);
    EXPECT_EQ(a.answers, TMountArgs::TAnswers::Yes);
    EXPECT_EQ(a.refreshSeconds, 5);
    EXPECT_EQ(a.fuseOptions, (std::vector<std::string>{"allow_other", "fsname=x"}));
    EXPECT_EQ(a.box, "Box");
    EXPECT_EQ(a.mountPoint, "/mnt");

    ASSERT_TRUE(ParseMountArgs({"Box", "/mnt"}, a, error));
    EXPECT_FALSE(a.foreground || a.async);
    EXPECT_EQ(a.refreshSeconds, 60);
    EXPECT_TRUE(a.fuseOptions.empty());
}

TEST(MountArguments, RefusesWhatCannotBeUsedWithTheReason) {
    const struct {
        std::vector<std::string> argv;
        const char* error;
    } cases[] = {
        {{"Box"}, "BOX and MOUNTPOINT are needed"},
        {{"Box", "/m", "extra"}, "unexpected operand \"extra\""},
        {{"--frob", "Box", "/m"}, "unknown option --frob"},
        {{"--yes", "--no", "Box", "/m"}, "exclude each other"},
        {{"-o", "refresh=0", "Box", "/m"}, "-o refresh: \"0\""},
        {{"-o", "refresh=soon", "Box", "/m"}, "-o refresh: \"soon\""},
        {{"-o", "refresh=86401", "Box", "/m"}, "1 to 86400"},
        {{"Box", "/m", "--home"}, "--home needs a value"},
    };
    for (const auto& c : cases) {
        TMountArgs a;
        std::string error;
        EXPECT_FALSE(ParseMountArgs(c.argv, a, error)) << c.error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

TEST(MountNames, FileSystemPathsBecomeMailboxPathsOnlyWhenEveryNameCanBeStored) {
    const struct {
        const char* fs;
        bool folder;
        bool ok;
        const char* mailbox;
    } cases[] = {
        {"/", true, true, "\\"},
        {"/a", false, true, "\\a"},
        {"/a/b c", true, true, "\\a\\b c\\"},
        {"/\xc3\xa4rger/\xe6\x97\xa5.txt", false, true, "\\\xc3\xa4rger\\\xe6\x97\xa5.txt"},
        {"/what?.txt", false, false, ""},
        {"/a/b:c", false, false, ""},
        {"/back\\slash", false, false, ""},
        {"/tab\there", false, false, ""},
        {"/a//b", false, false, ""},
    };
    for (const auto& c : cases) {
        std::string m;
        EXPECT_EQ(ToMailboxPath(c.fs, c.folder, m), c.ok) << c.fs;
        if (c.ok) {
            EXPECT_EQ(m, c.mailbox) << c.fs;
        }
    }
    std::string parent, name;
    SplitFsPath("/a/b", parent, name);
    EXPECT_EQ(parent + "|" + name, "/a|b");
    SplitFsPath("/a", parent, name);
    EXPECT_EQ(parent + "|" + name, "/|a");
}

namespace {
TExFile Entry(const std::string& path, uint32_t size = 0, uint8_t state = fsNone,
              uint32_t attributes = 32) {
    TExFile e;
    e.Path = path;
    e.IsFolder = path.back() == '\\';
    e.Size = size;
    e.State = state;
    e.Attributes = attributes;
    e.Modified = e.Created = "45000.5";
    return e;
}
} // namespace

TEST(MountTable, AnEntryWhoseLastQueuedOperationIsADeleteIsGone) {
    // rmdir right after mkdir: the folder's mail is still being sent (the table shows the
    // entry as sending) when the delete is queued behind it. rmdir then mkdir again: shown.
    TMailFolder box(nullptr);
    for (const TExFile& e : {Entry("\\made\\", 0, fsSending), Entry("\\again\\", 0, fsDeleting),
                             Entry("\\kept.txt", 3, fsSending)})
        box.Files.Add(e);
    box.Ops.Add(opSend, "\\", -1, "made\\");
    box.Ops.Add(opDelete, "\\", -1, "made\\");
    box.Ops.Add(opDelete, "\\", -1, "again\\");
    box.Ops.Add(opSend, "\\", -1, "again\\");
    box.Ops.Add(opSend, "\\", -1, "kept.txt");
    auto t = TMountTable::Build(box);
    EXPECT_FALSE(t->Find("/made"));
    EXPECT_TRUE(t->Find("/again")); // made again after the delete
    EXPECT_TRUE(t->Find("/kept.txt"));
}

TEST(MountTable, ShowsWhatCanBeALinuxNameAndLeavesOutWhatIsBeingDeleted) {
    TMailFolder box(nullptr);
    box.Capacity = 1u << 30;
    box.UsedSize = 4096;
    for (const TExFile& e : {Entry("\\Docs\\"), Entry("\\Docs\\a.txt", 11),
                             Entry("\\Docs\\ro.txt", 3, fsNone, 1 | 32),
                             Entry("\\Docs\\sending.bin", 99, fsSending),
                             Entry("\\Docs\\leaving.txt", 5, fsDeleting),
                             Entry("\\Gone\\", 0, fsDeleting), Entry("\\Gone\\x", 1, fsDeleting),
                             Entry("\\odd/name.txt", 1), Entry("\\  \\"), Entry("\\  \\in.txt", 1),
                             Entry("\\twin"), Entry("\\twin\\"), Entry("\\twin\\inside", 2),
                             Entry("\\deep\\er\\f", 7)})
        box.Files.Add(e);
    auto t = TMountTable::Build(box);

    const TMountTable::TNode* root = t->Find("/");
    ASSERT_TRUE(root && root->isDir);
    std::vector<std::string> top;
    for (uint32_t c : root->children) top.push_back(t->Node(c).name);
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"Docs", "deep", "twin"}));

    // Found with the case folded, as the mailbox compares its paths.
    const TMountTable::TNode* a = t->Find("/docs/A.TXT");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->name, "a.txt");
    EXPECT_EQ(a->size, 11u);
    EXPECT_FALSE(a->readOnly);
    EXPECT_EQ(a->mtime.tv_sec, static_cast<time_t>((45000.5 - 25569.0) * 86400));
    ASSERT_TRUE(t->Find("/Docs/ro.txt"));
    EXPECT_TRUE(t->Find("/Docs/ro.txt")->readOnly);
    EXPECT_TRUE(t->Find("/Docs/sending.bin")); // being stored: shown as the table has it
    EXPECT_FALSE(t->Find("/Docs/leaving.txt"));
    EXPECT_FALSE(t->Find("/Gone"));
    EXPECT_FALSE(t->Find("/Gone/x"));
    // A file and a folder of one name: the folder, so what is in it stays reachable.
    ASSERT_TRUE(t->Find("/twin"));
    EXPECT_TRUE(t->Find("/twin")->isDir);
    EXPECT_TRUE(t->Find("/twin/inside"));
    // Folders named only by the files below them.
    ASSERT_TRUE(t->Find("/deep/er"));
    EXPECT_TRUE(t->Find("/deep/er")->isDir);
    EXPECT_EQ(t->Find("/deep/er/f")->size, 7u);
    EXPECT_EQ(t->Hidden, 4u); // odd/name.txt, the blank folder and its file, the twin file
    EXPECT_EQ(t->Capacity, 1u << 30);
    EXPECT_EQ(t->Used, 4096u);
}
