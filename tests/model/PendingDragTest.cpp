#include "ModelFixture.h"
#include "ScriptedPrompt.h"
#include "StoredMail.h"

namespace fs = std::filesystem;

namespace {
class DragTest : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        box_ = &AddBox("Work");
        box_->EnsureCacheDir();
        target_ = home_ / "target";
        fs::create_directories(target_);
        for (const char* p : {"\\docs\\a.txt", "\\docs\\b.txt", "\\docs\\sub\\c.txt", "\\x.txt"})
            box_->Files.AddSubject(PartSubject(p, 1, 1, 1, 1, 32, "1", "2"));
    }
    // What the worker does when a download ends: the queue loses it, the list is told.
    void FinishDownload(bool success, const std::string& content = "x") {
        TExOp op = box_->Ops.Get(0);
        if (success) {
            std::string cache = box_->CachePathOf(op.Name);
            fs::create_directories(fs::path(cache).parent_path());
            WriteFile(cache, content);
        }
        box_->Ops.Delete(0);
        box_->PendingDrags->DownloadEnded(op.Ticket, success);
    }
    TMailFolder* box_ = nullptr;
    fs::path target_;
};
} // namespace

TEST_F(DragTest, AFolderIsCopiedOnceAfterItsLastDownload) {
    box_->PendingDrags->AddDrag("\\docs\\", target_.string());
    box_->PendingDrags->AddDrag("\\DOCS\\", target_.string()); // the same drop again
    ASSERT_EQ(box_->Ops.Count(), 3);
    int32_t ticket = box_->Ops.Get(0).Ticket;
    EXPECT_GE(ticket, 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(box_->Ops.Get(i).Ticket, ticket);
    FinishDownload(true);
    FinishDownload(true);
    EXPECT_FALSE(fs::exists(target_ / "docs")); // not after the first two
    EXPECT_EQ(box_->PendingDrags->Count(), 1);
    FinishDownload(true);
    EXPECT_TRUE(fs::exists(target_ / "docs" / "a.txt"));
    EXPECT_TRUE(fs::exists(target_ / "docs" / "sub" / "c.txt"));
    EXPECT_EQ(box_->PendingDrags->Count(), 0);
}

TEST_F(DragTest, TwoTargetsTwoTicketsAndDirectDownloadsNeverCopy) {
    fs::path other = home_ / "other";
    fs::create_directories(other);
    box_->PendingDrags->AddDrag("\\x.txt", target_.string());
    box_->PendingDrags->AddDrag("\\x.txt", other.string());
    box_->DownloadItem("\\", "x.txt", -1);
    ASSERT_EQ(box_->Ops.Count(), 3);
    EXPECT_NE(box_->Ops.Get(0).Ticket, box_->Ops.Get(1).Ticket);
    FinishDownload(true, "one");
    FinishDownload(true, "two");
    FinishDownload(true, "three");
    EXPECT_EQ(ReadFile((target_ / "x.txt").string()), "one");
    EXPECT_EQ(ReadFile((other / "x.txt").string()), "two");
}

TEST_F(DragTest, FailedDownloadsCopyNothingAndSaySo) {
    TScriptedPrompt prompt;
    TPromptScope scope(prompt);
    WriteFile((target_ / "a.txt").string(), "mine");
    box_->PendingDrags->AddDrag("\\docs\\a.txt", target_.string());
    FinishDownload(false);
    EXPECT_EQ(ReadFile((target_ / "a.txt").string()), "mine");
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_NE(prompt.shown[0].text.find("could not be downloaded"), std::string::npos);
    EXPECT_EQ(box_->PendingDrags->Count(), 0);
}

TEST_F(DragTest, EmptyFoldersAndOrphansDoNotWaitForEver) {
    box_->Files.AddSubject("ExFile:\\empty\\|Time:1");
    box_->PendingDrags->AddDrag("\\empty\\", target_.string());
    EXPECT_EQ(box_->PendingDrags->Count(), 0);
    EXPECT_TRUE(fs::is_directory(target_ / "empty"));

    box_->PendingDrags->AddDrag("\\docs\\", target_.string());
    EXPECT_EQ(box_->PendingDrags->Count(), 1);
    box_->Ops.Clear(); // the user emptied the queue
    box_->PendingDrags->DropOrphans();
    EXPECT_EQ(box_->PendingDrags->Count(), 0);
}

TEST_F(DragTest, AFolderCopyKeepsTheFoldersThatHoldNoFiles) {
    for (const char* f : {"ExFile:\\docs\\void\\|Time:1", "ExFile:\\docs\\sub\\deep\\|Time:1",
                          "ExFile:\\other\\|Time:1"})
        box_->Files.AddSubject(f);
    box_->PendingDrags->AddDrag("\\docs\\", target_.string());
    while (box_->Ops.Count() > 0) FinishDownload(true);
    EXPECT_TRUE(fs::is_regular_file(target_ / "docs" / "sub" / "c.txt"));
    EXPECT_TRUE(fs::is_directory(target_ / "docs" / "void"));
    EXPECT_TRUE(fs::is_directory(target_ / "docs" / "sub" / "deep"));
    // Nothing outside the dragged folder is made.
    EXPECT_FALSE(fs::exists(box_->CachePathOf("\\other\\")));
}
