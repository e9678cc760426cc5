#include "ExOp.h"
#include "MailFolder.h"
#include "MailFolders.h"

#include "AppDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {
class QueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        home_ = std::filesystem::temp_directory_path() /
                ("tavrel-queue-" + std::to_string(::getpid()));
        SetAppDir(home_.string());
        folders_ = std::make_unique<TMailFolders>(nullptr, nullptr);
        box_ = &folders_->Append(std::make_unique<TMailFolder>(folders_.get()));
        TExFile f;
        f.Path = "\\docs\\a.txt";
        f.Parts.emplace(1);
        box_->Files.Add(f);
    }
    void TearDown() override {
        folders_.reset();
        std::filesystem::remove_all(home_);
    }
    uint8_t StateOf(const std::string& path) {
        return box_->Files.Items(box_->Files.IndexOf(path)).State;
    }
    std::filesystem::path home_;
    std::unique_ptr<TMailFolders> folders_;
    TMailFolder* box_ = nullptr;
};
} // namespace

TEST(ExOp, AffectedPathsAndNames) {
    EXPECT_EQ(AffectedPath({opSend, -1, "\\docs\\", "/home/u/x/a.txt"}), "\\docs\\a.txt");
    EXPECT_EQ(AffectedPath({opSend, -1, "\\", "pics\\"}), "\\pics\\");
    EXPECT_EQ(AffectedPath({opDelete, -1, "\\docs\\", "a.txt"}), "\\docs\\a.txt");
    EXPECT_EQ(AffectedPath({opDownload, 3, "", "\\docs\\a.txt"}), "\\docs\\a.txt");
    EXPECT_EQ(AffectedPath({opRefresh, -1, "", ""}), "");
    const char* names[] = {"Send", "Delete", "Download", "Refresh", "GetSize", "UnKnown"};
    for (uint8_t k = 0; k < 6; ++k) EXPECT_STREQ(OpKindName(k), names[k]);
}

TEST_F(QueueTest, OldestQueuedOperationDecidesTheState) {
    box_->Ops.Add(opDelete, "\\docs\\", -1, "a.txt");
    box_->Ops.Add(opSend, "\\docs\\", -1, "/tmp/x/a.txt");
    box_->UpdateOpStates();
    EXPECT_EQ(StateOf("\\docs\\a.txt"), fsDeleting);
    box_->Ops.Delete(0); // the delete has finished
    box_->UpdateOpStates();
    EXPECT_EQ(StateOf("\\docs\\a.txt"), fsSending);
    box_->Ops.Clear();
    box_->UpdateOpStates(); // never clears a state by itself
    EXPECT_EQ(StateOf("\\docs\\a.txt"), fsSending);
}

TEST_F(QueueTest, FolderSendDownloadAndRefresh) {
    TExFile pics;
    pics.Path = "\\pics\\";
    pics.IsFolder = true;
    box_->Files.Add(pics);
    box_->Ops.Add(opSend, "\\", -1, "pics\\");
    box_->Ops.Add(opRefresh, "", -1, "");
    box_->UpdateOpStates();
    EXPECT_EQ(StateOf("\\pics\\"), fsSending);
    EXPECT_EQ(StateOf("\\docs\\a.txt"), fsNone);
    box_->Ops.Add(opDownload, "", -1, "\\DOCS\\A.TXT");
    box_->UpdateOpStates();
    EXPECT_EQ(StateOf("\\docs\\a.txt"), fsDownloading);
    EXPECT_EQ(box_->Ops.Count(), 3);
    EXPECT_EQ(box_->Ops.Get(2).Name, "\\DOCS\\A.TXT");
}

TEST_F(QueueTest, OpenQueuesOneRefreshUntilTheWorkerHasRunIt) {
    EXPECT_FALSE(box_->Open());
    EXPECT_FALSE(box_->Open());
    EXPECT_EQ(box_->Ops.Count(), 1);
    EXPECT_EQ(box_->Ops.Get(0).Kind, opRefresh);
    EXPECT_EQ(folders_->CurrentFolder, nullptr);
    box_->Ops.Add(opDelete, "\\", -1, "x");
    box_->QueueRefresh(); // an earlier refresh does not prevent a later one
    EXPECT_EQ(box_->Ops.Count(), 3);

    box_->Opened = true;
    box_->CurrentPath = "\\docs\\";
    EXPECT_TRUE(box_->Open());
    EXPECT_EQ(box_->CurrentPath, "\\");
    EXPECT_EQ(folders_->CurrentFolder, box_);
}
