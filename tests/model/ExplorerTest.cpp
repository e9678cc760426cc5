#include "FileProps.h"
#include "FolderView.h"
#include "ModelFixture.h"
#include "FileUtil.h"
#include "ScriptedPrompt.h"
#include "StoredMail.h"

namespace fs = std::filesystem;

namespace {
class ExplorerTest : public ModelTest {
protected:
    void SetUp() override {
        ModelTest::SetUp();
        box_ = &AddBox("Work");
        box_->EnsureCacheDir();
        local_ = home_ / "local";
        fs::create_directories(local_);
    }
    void AddFile(const std::string& path, const std::string& content, const char* modified = "2") {
        std::string s = PartSubject(path, 1, 1, static_cast<uint32_t>(content.size()),
                                    ChecksumUpdate(0, content.data(), content.size()), 32, "1",
                                    modified);
        box_->Files.AddSubject(s);
    }
    void Cache(const std::string& mailboxPath, const std::string& content) {
        std::string p = box_->CachePathOf(mailboxPath);
        fs::create_directories(fs::path(p).parent_path());
        WriteFile(p, content);
    }
    const TFileRow* Row(const TRowList& v, const std::string& caption) {
        for (auto& r : v.rows)
            if (r.Caption == caption) return &r;
        return nullptr;
    }
    std::vector<std::string> Queue() {
        std::vector<std::string> q;
        for (int i = 0; i < box_->Ops.Count(); ++i) {
            TExOp op = box_->Ops.Get(i);
            q.push_back(std::string(OpKindName(op.Kind)) + " " + op.Path + " " + op.Name);
        }
        return q;
    }
    std::string Local(const std::string& rel, const std::string& content = "data") {
        fs::path p = local_ / rel;
        fs::create_directories(p.parent_path());
        WriteFile(p.string(), content);
        return p.string();
    }

    TMailFolder* box_ = nullptr;
    fs::path local_;
    TRowList view_;
    TAddressList address_;
};
} // namespace

TEST_F(ExplorerTest, RowsShowTheColumnsAndTheLocation) {
    AddFile("\\docs\\a.txt", "hello");
    AddFile("\\docs\\b.txt", "world");
    AddFile("\\docs\\sub\\c.bin", std::string(2000, 'x'));
    box_->Files.AddSubject("ExFile:\\empty\\|Time:39814");
    Cache("\\docs\\a.txt", "hello");
    Cache("\\docs\\b.txt", "wOrld"); // right size, wrong content

    box_->ListFolder(&view_, &address_, "");
    ASSERT_EQ(view_.rows.size(), 2u);
    EXPECT_EQ(view_.rows[0].Caption, "docs");
    EXPECT_EQ(view_.rows[0].Type, "File Folder");
    EXPECT_EQ(view_.rows[0].Location, "Mail");
    EXPECT_EQ(view_.rows[1].Caption, "empty");
    EXPECT_EQ(view_.rows[1].Location, "Local"); // nothing below: local before any download
    EXPECT_EQ(address_.items, (std::vector<std::string>{"Work", "Work\\docs", "Work\\empty"}));
    EXPECT_EQ(address_.selectedIndex, 0);
    EXPECT_TRUE(fs::is_directory(box_->CachePathOf("\\docs\\"))); // shown folders are mirrored

    box_->ListFolder(&view_, &address_, "\\DOCS");
    EXPECT_EQ(box_->CurrentPath, "\\DOCS\\");
    ASSERT_EQ(view_.rows.size(), 3u);
    EXPECT_EQ(Row(view_, "sub")->Location, "Mail");
    EXPECT_EQ(Row(view_, "a.txt")->Location, "Local");
    EXPECT_EQ(Row(view_, "a.txt")->Size, "1 KB");
    EXPECT_EQ(Row(view_, "a.txt")->Type, "TXT File");
    EXPECT_EQ(Row(view_, "b.txt")->Location, "Mail");
    EXPECT_EQ(view_.updates, 0);

    // A cached file that changes is checked again.
    Cache("\\docs\\b.txt", "world");
    Cache("\\docs\\a.txt", "HELLO");
    box_->ListFolder(&view_, nullptr, "");
    EXPECT_EQ(Row(view_, "b.txt")->Location, "Local");
    EXPECT_EQ(Row(view_, "a.txt")->Location, "Mail");
}

TEST_F(ExplorerTest, DatesActionsAndBadDateTexts) {
    box_->Files.AddSubject("ExFile:\\d\\|Time:39814.5");
    box_->Files.AddSubject("ExFile:\\odd.txt<1/1>|Size:1|Hash:1|Attri:32|Time:1;not a date");
    AddFile("\\d\\x.txt", "x");
    box_->Files.Items(box_->Files.IndexOf("\\d\\x.txt")).State = fsDownloading;
    box_->ListFolder(&view_, nullptr, "\\");
    EXPECT_EQ(Row(view_, "d")->Action, "Busy");
    EXPECT_EQ(Row(view_, "d")->Modified, "01/01/09 12:00:00");
    EXPECT_EQ(Row(view_, "odd.txt")->Modified, ""); // listed all the same
    box_->Files.AddSubject("ExFile:\\midnight\\|Time:39814");
    box_->ListFolder(&view_, nullptr, "\\");
    EXPECT_EQ(Row(view_, "midnight")->Modified, "01/01/09");
    box_->ListFolder(&view_, nullptr, "\\d\\");
    EXPECT_EQ(Row(view_, "x.txt")->Action, "Downloading");
}

TEST_F(ExplorerTest, VanishedFoldersAndSelection) {
    AddFile("\\docs\\old\\a.txt", "a");
    AddFile("\\docs\\A.TXT", "a");
    box_->ListFolder(&view_, &address_, "\\docs\\old\\");
    EXPECT_EQ(box_->CurrentPath, "\\docs\\old\\");
    box_->ListFolder(&view_, &address_, "\\gone\\");
    EXPECT_EQ(box_->CurrentPath, "\\docs\\old\\"); // unknown path: nothing changes

    box_->ListFolder(&view_, &address_, "\\docs\\");
    view_.Select("A.TXT");
    // After a refresh the old folder is gone and the file is spelled differently.
    box_->Files.Clear();
    AddFile("\\docs\\a.txt", "a");
    box_->CurrentPath = "\\docs\\old\\";
    box_->ListFolder(&view_, &address_, "");
    EXPECT_EQ(box_->CurrentPath, "\\docs\\");
    EXPECT_EQ(view_.SelectedCaptions(), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(box_->SelectedNames, std::vector<std::string>{"A.TXT"});
}

TEST_F(ExplorerTest, BackForwardAndUp) {
    AddFile("\\sub\\deep\\f.txt", "f");
    box_->EnterFolder("sub");
    box_->EnterFolder("deep\\");
    EXPECT_EQ(box_->CurrentPath, "\\sub\\deep\\");
    EXPECT_TRUE(box_->GoBack(nullptr, nullptr)); // only asks
    EXPECT_FALSE(box_->GoForward(nullptr, nullptr));
    EXPECT_TRUE(box_->GoBack(&view_, &address_));
    EXPECT_EQ(box_->CurrentPath, "\\sub\\");
    EXPECT_TRUE(box_->GoForward(&view_, &address_));
    EXPECT_EQ(box_->CurrentPath, "\\sub\\deep\\");
    box_->GoBack(&view_, &address_);
    box_->GoUp();
    EXPECT_EQ(box_->CurrentPath, "\\");
    EXPECT_FALSE(box_->GoForward(nullptr, nullptr));
    auto back = box_->BackHistory;
    box_->GoUp(); // at the root: nothing at all changes
    EXPECT_EQ(box_->BackHistory, back);

    // Entries of deleted folders are skipped; the answer is still true.
    box_->BackHistory = {"\\gone1\\", "\\gone2\\"};
    box_->ForwardHistory.clear();
    EXPECT_TRUE(box_->GoBack(&view_, &address_));
    EXPECT_TRUE(box_->BackHistory.empty());
    EXPECT_EQ(box_->CurrentPath, "\\");
    box_->BackHistory = {"\\sub\\", "\\gone\\"};
    EXPECT_TRUE(box_->GoBack(&view_, &address_));
    EXPECT_EQ(box_->CurrentPath, "\\sub\\");
    EXPECT_EQ(box_->ForwardHistory, std::vector<std::string>{"\\"});
}

TEST_F(ExplorerTest, PastingAFileAsksBeforeReplacing) {
    AddFile("\\docs\\a.txt", "old");
    std::string a = Local("x/a.txt", "new content");
    TScriptedPrompt prompt;
    TPromptScope scope(prompt);
    prompt.answers = {id::No, id::Yes};
    box_->AddLocal("\\docs\\", a, true);
    EXPECT_TRUE(Queue().empty());
    box_->AddLocal("\\docs\\", a, true);
    ASSERT_EQ(prompt.shown.size(), 2u);
    EXPECT_EQ(prompt.shown[0].caption, "Confirm File Replace");
    EXPECT_EQ(prompt.shown[0].text, "This folder already contains a file named 'a.txt'.\r\n\r\n"
                                    "Would you like to replace the existing file?");
    // No delete first: the stored version stays until the new one is stored, and the send
    // carries exactly what it replaces.
    EXPECT_EQ(Queue(), (std::vector<std::string>{"Send \\docs\\ " + a}));
    const TExFile& e = box_->Files.Items(box_->Files.IndexOf("\\docs\\a.txt"));
    EXPECT_EQ(e.State, fsSending);
    EXPECT_EQ(e.Size, 11u);
    EXPECT_EQ(e.Attributes, 32u);
    EXPECT_FALSE(e.Parts.has_value());
    EXPECT_FALSE(e.DropWhenDeleted);
    const TExOp op = box_->Ops.Get(0);
    ASSERT_TRUE(op.Replaced);
    EXPECT_EQ(op.Replaced->Entry.Size, 3u);
    EXPECT_EQ(op.Replaced->Entry.State, fsNone);
    EXPECT_EQ(op.Replaced->Subjects, *op.Replaced->Entry.Parts);
}

TEST_F(ExplorerTest, AnIncompleteFileIsReplacedWithoutAQuestion) {
    // The first part of two, as an interrupted upload leaves it.
    box_->Files.AddSubject("ExFile:\\docs\\a.txt<1/2>|Size:5|Hash:1|Attri:32|Time:1;2");
    box_->ListFolder(&view_, &address_, "\\docs\\");
    const TFileRow* row = Row(view_, "a.txt");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->Action, "Incomplete");
    EXPECT_EQ(row->Location, "Mail");
    std::string a = Local("x/a.txt", "new");
    TScriptedPrompt prompt;
    TPromptScope scope(prompt);
    box_->AddLocal("\\docs\\", a, true);
    EXPECT_TRUE(prompt.shown.empty());
    ASSERT_EQ(Queue(), (std::vector<std::string>{"Send \\docs\\ " + a}));
    EXPECT_EQ(box_->Ops.Get(0).Replaced->Subjects.size(), 1u);
}

TEST_F(ExplorerTest, PastingAFolderOnceAndAgain) {
    Local("pics/b.jpg");
    Local("pics/sub/c.jpg");
    std::string pics = (local_ / "pics").string();
    box_->AddLocal("", pics, true);
    EXPECT_EQ(Queue(), (std::vector<std::string>{
                           "Send \\ pics\\", "Send \\pics\\ " + pics + "/b.jpg",
                           "Send \\pics\\ sub\\", "Send \\pics\\sub\\ " + pics + "/sub/c.jpg"}));
    EXPECT_EQ(box_->Files.Count(), 4);

    box_->Ops.Clear();
    TScriptedPrompt prompt;
    TPromptScope scope(prompt);
    prompt.answers = {id::Yes};
    box_->AddLocal("\\", pics + "/", true);
    ASSERT_EQ(prompt.shown.size(), 1u); // one folder question, no file questions
    EXPECT_EQ(prompt.shown[0].caption, "Confirm Folder Replace");
    EXPECT_NE(prompt.shown[0].text.find("named 'pics\\'."), std::string::npos);
    EXPECT_EQ(Queue(), (std::vector<std::string>{"Send \\pics\\ " + pics + "/b.jpg",
                                                 "Send \\pics\\sub\\ " + pics + "/sub/c.jpg"}));
    EXPECT_TRUE(box_->Ops.Get(0).Replaced);
}

TEST_F(ExplorerTest, NamesThatCannotBeStoredAreRefusedAndTheRestGoesOn) {
    Local("in/ok.txt");
    Local("in/bad?.txt");
    Local("in/also:bad");
    TScriptedPrompt prompt;
    TPromptScope scope(prompt);
    box_->AddLocal("\\", (local_ / "in").string(), true);
    ASSERT_EQ(prompt.shown.size(), 2u);
    EXPECT_NE(prompt.shown[0].text.find("also:bad"), std::string::npos);
    EXPECT_NE(prompt.shown[1].text.find("bad?.txt"), std::string::npos);
    EXPECT_EQ(prompt.shown[0].flags & mb::IconMask, mb::IconStop);
    EXPECT_EQ(box_->Ops.Count(), 2); // the folder and ok.txt
    EXPECT_GE(box_->Files.IndexOf("\\in\\ok.txt"), 0);

    // Nothing at the path: an error, not a new empty folder.
    box_->AddLocal("\\", (local_ / "missing").string(), true);
    EXPECT_EQ(prompt.shown.size(), 3u);
    EXPECT_EQ(box_->Files.IndexOf("\\missing\\"), -1);
}

TEST_F(ExplorerTest, NewFolderDeleteAndDownload) {
    EXPECT_TRUE(box_->NewFolder("\\", "new"));
    EXPECT_FALSE(box_->NewFolder("\\", "NEW\\"));
    EXPECT_EQ(Queue(), std::vector<std::string>{"Send \\ new\\"});
    box_->Ops.Clear();

    AddFile("\\docs\\a.txt", "a");
    AddFile("\\docs\\sub\\b.txt", "b");
    AddFile("\\docs.txt", "c");
    box_->DeleteItem("\\", "docs\\", true);
    EXPECT_EQ(Queue(), (std::vector<std::string>{"Delete \\docs\\ a.txt",
                                                 "Delete \\docs\\sub\\ b.txt",
                                                 "Delete \\docs\\ sub\\", "Delete \\ docs\\"}));
    EXPECT_TRUE(box_->Files.Items(box_->Files.IndexOf("\\docs\\a.txt")).DropWhenDeleted);
    EXPECT_FALSE(box_->Files.Items(box_->Files.IndexOf("\\docs\\sub\\")).DropWhenDeleted);
    EXPECT_EQ(box_->Files.Items(box_->Files.IndexOf("\\docs.txt")).State, fsNone);
    box_->DeleteItem("\\", "nothing", true);
    EXPECT_EQ(box_->Ops.Count(), 4);
    box_->Ops.Clear();

    box_->DownloadItem("\\", "docs\\", -1);
    EXPECT_EQ(Queue(), (std::vector<std::string>{"Download  \\docs\\a.txt",
                                                 "Download  \\docs\\sub\\b.txt"}));
    box_->Ops.Clear();
    box_->DownloadItem("\\", "docs", 7); // a file name takes that file only
    EXPECT_EQ(Queue(), (std::vector<std::string>{}));
    box_->DownloadItem("\\docs\\", "a", 7);
    EXPECT_EQ(Queue(), (std::vector<std::string>{}));
    box_->DownloadItem("\\docs\\", "A.TXT", 7);
    EXPECT_EQ(Queue(), (std::vector<std::string>{"Download  \\docs\\a.txt"}));
    EXPECT_EQ(box_->Ops.Get(0).Ticket, 7);
}

TEST_F(ExplorerTest, FilePropertiesOfFoldersAndFiles) {
    box_->Files.AddSubject("ExFile:\\docs\\|Time:39000");
    AddFile("\\docs\\a.txt", std::string(3000, 'a'), "39814.5");
    box_->Files.AddSubject("ExFile:\\docs\\sub\\|Time:38000");
    const TExFile& docs = box_->Files.Items(box_->Files.IndexOf("\\docs\\"));
    TFilePropDialog d = FileProperties(box_->Files, "Work", docs);
    EXPECT_EQ(d.Caption, "docs properties");
    EXPECT_EQ(d.lblLocation, "Work");
    EXPECT_EQ(d.lblType, "File Folder");
    EXPECT_EQ(d.lblContains, "1 Files, 1 Folders");
    EXPECT_EQ(d.lblSize, "3 KB");
    EXPECT_EQ(d.lblModified, "Thursday, January 01, 2009, 12:00:00 PM");
    const TExFile& sub = box_->Files.Items(box_->Files.IndexOf("\\docs\\sub\\"));
    EXPECT_EQ(FileProperties(box_->Files, "Work", sub).lblLocation, "Work\\docs");
    const TExFile& a = box_->Files.Items(box_->Files.IndexOf("\\docs\\a.txt"));
    d = FileProperties(box_->Files, "Work", a);
    EXPECT_EQ(d.edtName, "a.txt");
    EXPECT_EQ(d.lblLocation, "Work\\docs");
    EXPECT_FALSE(d.containsVisible);
    EXPECT_EQ(d.Icon, ".txt");
}
