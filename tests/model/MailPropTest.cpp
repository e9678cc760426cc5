#include "MailPropDialog.h"
#include "ModelFixture.h"
#include "Options.h"
#include "ScriptedPrompt.h"
#include "Search.h"
#include "StoredMail.h"

#include <fcntl.h>
#include <sys/file.h>

namespace fs = std::filesystem;

namespace {
// Installs a dialog runner that edits the dialog with `edit` and answers `ok`.
struct RunnerScope {
    explicit RunnerScope(std::function<bool(TMailPropDialog&)> r) { SetMailPropRunner(r); }
    ~RunnerScope() { SetMailPropRunner({}); }
};
} // namespace

TEST_F(ModelTest, AddFolderCancelledLeavesDataBinUntouched) {
    folders_->LoadFromFile(DataBin());
    std::string before = ReadFile(DataBin());
    {
        RunnerScope r([](TMailPropDialog&) { return false; });
        EXPECT_FALSE(folders_->AddFolder());
    }
    EXPECT_EQ(folders_->Count(), 0);
    EXPECT_EQ(ReadFile(DataBin()), before);
    {
        RunnerScope r([](TMailPropDialog& d) {
            EXPECT_EQ(d.Caption, "Mail Folder Name properies");
            d.edtName = "Work";
            d.edtAttach = "5";
            return true;
        });
        EXPECT_TRUE(folders_->AddFolder());
    }
    auto again = NewCollection();
    again->LoadFromFile(DataBin());
    ASSERT_EQ(again->Count(), 1);
    EXPECT_EQ(again->Items(0).Alias, "Work");
    EXPECT_EQ(again->Items(0).MaxAttachSize, 5242880u);
}

TEST_F(ModelTest, StatisticsOfOpenedAndUnopenedMailboxes) {
    TMailFolder& a = AddBox("a");
    AddBox("b");
    TMailPropDialog d;
    FillPropDialog(a, d);
    EXPECT_EQ(d.OtherAliases, std::vector<std::string>{"b"});
    EXPECT_EQ(d.lblSize, "Open this mail box and try again");
    EXPECT_EQ(d.lblContains, "Open this mail box and try again");
    EXPECT_FALSE(d.statsEnabled);
    ASSERT_EQ(d.pie.size(), 2u);
    EXPECT_EQ(d.pie[0].value, 1073741824);
    EXPECT_EQ(d.pie[1].value, 0);
    EXPECT_EQ(d.edtMailBox, "1024");
    EXPECT_EQ(d.edtAttach, "10");

    a.Opened = true;
    a.UsedSize = 3000;
    a.Files.AddSubject("ExFile:\\d\\x<1/1>|Size:2048|Hash:1|Attri:32|Time:1;2");
    a.Files.AddSubject("ExFile:\\y<1/1>|Size:1|Hash:1|Attri:32|Time:1;2");
    a.Created = 39814.5;
    FillPropDialog(a, d);
    EXPECT_EQ(d.lblSize, "3 KB");
    EXPECT_EQ(d.lblSizeS, "3 KB");
    EXPECT_EQ(d.lblContains, "2 Files, 1 Folders");
    EXPECT_EQ(d.pie[0].value, 1073741824 - 3000);
    EXPECT_EQ(d.pie[0].rgb, 0x008000u);
    EXPECT_EQ(d.pie[1].rgb, 0xFF0000u);
    EXPECT_EQ(d.lblCreated, "Thursday,January,01,2009, 12:00:00 PM");
}

TEST_F(ModelTest, RenamingTheAlias) {
    folders_->LoadFromFile(DataBin());
    TMailFolder& w = AddBox("Work");
    w.EnsureCacheDir();
    WriteFile((home_ / "MailRoot" / "Work" / "f.txt").string(), "cached");
    auto rename = [&](const std::string& to, const std::string& server) {
        RunnerScope r([&](TMailPropDialog& d) {
            d.edtName = to;
            d.edtSMTPServer = server;
            return true;
        });
        return w.EditProperties();
    };

    // A change of case only renames nothing on disk, and saves.
    ASSERT_TRUE(rename("work", "s1"));
    EXPECT_EQ(w.Alias, "work");
    EXPECT_TRUE(fs::exists(home_ / "MailRoot" / "Work" / "f.txt"));

    // A real rename moves the cache folder.
    w.Alias = "Work";
    ASSERT_TRUE(rename("Home", "s2"));
    EXPECT_EQ(w.Alias, "Home");
    EXPECT_TRUE(fs::exists(home_ / "MailRoot" / "Home" / "f.txt"));

    // A rename that fails keeps the old alias, tells the user and saves the rest.
    fs::create_directories(home_ / "MailRoot" / "Taken" / "busy");
    TScriptedPrompt prompt;
    TPromptScope scope(prompt);
    ASSERT_TRUE(rename("Taken", "s3"));
    EXPECT_EQ(w.Alias, "Home");
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.shown[0].text,
              "Couldn't change the mail name but all of its other data are saved\r\n\r\n"
              "Maybe there are file(s) in this mail that are currently in use.");
    EXPECT_EQ(prompt.shown[0].flags & mb::IconMask, mb::IconStop);
    auto reread = NewCollection();
    reread->LoadFromFile(DataBin());
    EXPECT_EQ(reread->Items(0).Alias, "Home");
    EXPECT_EQ(reread->Items(0).SmtpServer, "s3");
}

TEST_F(ModelTest, OptionsDialogConfirmAndCancel) {
    folders_->LoadFromFile(DataBin());
    SetOptionsDialogRunner([](TOptionsDialogData& d) {
        d.StagedPassword = "new";
        d.PasswordRequired = true;
        return false; // cancelled after setting a password
    });
    EXPECT_FALSE(folders_->EditOptions());
    EXPECT_EQ(folders_->Options->Password, "");
    EXPECT_FALSE(folders_->Options->PasswordRequired);
    SetOptionsDialogRunner([](TOptionsDialogData& d) {
        EXPECT_TRUE(d.ShowTrayIcon);
        d.StagedPassword = "new";
        d.PasswordRequired = true;
        return true;
    });
    EXPECT_TRUE(folders_->EditOptions());
    SetOptionsDialogRunner({});
    auto reread = NewCollection();
    reread->LoadFromFile(DataBin());
    EXPECT_EQ(reread->Options->Password, "new");
    EXPECT_TRUE(reread->Options->PasswordRequired);
}

TEST(MailPropCheck, ChecksInOrderWithTheirTexts) {
    auto valid = [] {
        TMailPropDialog d;
        d.edtName = "Work";
        d.edtAddr = "a@b";
        d.edtMailBox = "1024";
        d.edtAttach = "10";
        d.edtSMTPPort = "25";
        d.edtPOPPort = "110";
        d.OtherAliases = {"Home"};
        return d;
    };
    EXPECT_EQ(ValidatePropDialog(valid()).error, "");
    struct Case {
        std::function<void(TMailPropDialog&)> change;
        const char* error;
        const char* control;
    } cases[] = {
        {[](auto& d) { d.edtName = "  "; }, "Please enter a valid folder name for this mail box.",
         "edtName"},
        {[](auto& d) { d.edtAddr = "@b"; }, "Please enter a valid email address for this mail box.",
         "edtAddr"},
        {[](auto& d) { d.edtAddr = "nobody"; },
         "Please enter a valid email address for this mail box.", "edtAddr"},
        {[](auto& d) { d.edtName = "HOME"; }, "A mail box with the name you specified already exists.",
         "edtName"},
        {[](auto& d) { d.edtMailBox = ""; }, "Please enter an integer.", "edtMailBox"},
        {[](auto& d) { d.edtAttach = "1.5"; }, "Please enter an integer.", "edtAttach"},
        {[](auto& d) { d.edtSMTPPort = "99999999999"; }, "Please enter an integer.", "edtSMTPPort"},
        {[](auto& d) { d.edtPOPPort = "x"; }, "Please enter an integer.", "edtPOPPort"},
        {[](auto& d) { d.edtName = " .. "; },
         "A mail box name cannot be \".\" or \"..\" or hold \"/\" or a control character.", "edtName"},
        {[](auto& d) { d.edtName = std::string("a\x16") + "b"; }, // Ctrl+V passes the key filter as a character
         "A mail box name cannot be \".\" or \"..\" or hold \"/\" or a control character.", "edtName"},
        // Integers the stored fields cannot hold: a size of 4096 MiB would wrap to 0 bytes.
        {[](auto& d) { d.edtMailBox = "4096"; }, "Please enter a size from 0 to 4095 (MiB).", "edtMailBox"},
        {[](auto& d) { d.edtAttach = "-1"; }, "Please enter a size from 0 to 4095 (MiB).", "edtAttach"},
        {[](auto& d) { d.edtSMTPPort = "0"; }, "Please enter a port number from 1 to 65535.", "edtSMTPPort"},
        {[](auto& d) { d.edtPOPPort = " 65536"; }, "Please enter a port number from 1 to 65535.", "edtPOPPort"},
    };
    for (auto& c : cases) {
        TMailPropDialog d = valid();
        c.change(d);
        TPropCheck r = ValidatePropDialog(d);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.control, c.control);
    }
    TMailPropDialog d = valid();
    d.edtAddr = "a@"; // an at sign in second place or later is enough
    EXPECT_EQ(ValidatePropDialog(d).error, "");
    d.chkSMTPSSL = true;
    UseDefaultPorts(d);
    EXPECT_EQ(d.edtSMTPPort, "465");
    EXPECT_EQ(d.edtPOPPort, "110");
}

TEST_F(ModelTest, NumbersTheChecksAcceptAreTakenBack) {
    // Blanks around a number and a plus sign pass the checks, so taking the values back
    // must read them too.
    TMailFolder box(folders_.get());
    TMailPropDialog d;
    FillPropDialog(box, d);
    d.edtSMTPPort = " 2525 ";
    d.edtPOPPort = "+1110";
    d.edtMailBox = "\t64";
    d.edtAttach = "3 ";
    ASSERT_EQ(ValidatePropDialog(d).error, "");
    ASSERT_NO_THROW(ReadPropDialog(box, d));
    EXPECT_EQ(box.SmtpPort, 2525);
    EXPECT_EQ(box.PopPort, 1110);
    EXPECT_EQ(box.Capacity, 64u << 20);
    EXPECT_EQ(box.MaxAttachSize, 3u << 20);
}

TEST_F(ModelTest, SizesNotInWholeMebibytesSurviveAnEditOfOtherFields) {
    struct Case {
        uint32_t stored;
        const char* typed; // nullptr: the field is left as shown
        uint32_t expected;
    };
    const Case cases[] = {
        {512 * 1024, nullptr, 512 * 1024},        // shown as 0, kept
        {(3u << 20) + 7, nullptr, (3u << 20) + 7}, // shown as 3, kept
        {512 * 1024, "2", 2u << 20},               // typed over: whole MiB
        {(3u << 20) + 7, " 3 ", (3u << 20) + 7},   // the same number, blanks around it
    };
    for (const Case& c : cases) {
        TMailFolder box(folders_.get());
        box.MaxAttachSize = c.stored;
        box.Capacity = c.stored;
        TMailPropDialog d;
        FillPropDialog(box, d);
        d.edtAccount = "someone else";
        if (c.typed) d.edtAttach = d.edtMailBox = c.typed;
        ReadPropDialog(box, d);
        EXPECT_EQ(box.MaxAttachSize, c.expected) << c.stored << " " << (c.typed ? c.typed : "-");
        EXPECT_EQ(box.Capacity, c.expected) << c.stored << " " << (c.typed ? c.typed : "-");
        EXPECT_EQ(box.Account, "someone else");
    }
}

TEST(Search, NamesHoldingTheTextInTableOrder) {
    TExFiles t;
    t.AddSubject(PartSubject("\\docs\\Report.txt", 1, 1, 1, 1, 32, "1", "2"));
    t.AddSubject("ExFile:\\reports\\|Time:1");
    t.AddSubject(PartSubject("\\a*b.txt", 1, 1, 1, 1, 32, "1", "2"));
    auto hits = SearchEntries(t, "Work", "REPORT");
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].Name, "Report.txt");
    EXPECT_EQ(hits[0].InFolder, "Work\\docs");
    EXPECT_EQ(hits[1].Name, "reports");
    EXPECT_EQ(hits[1].InFolder, "Work");
    EXPECT_EQ(SearchEntries(t, "W", "docs").size(), 1u); // the folder \docs\ itself
    EXPECT_EQ(SearchEntries(t, "W", "*").size(), 1u);     // no wildcards
    int asked = 0;
    EXPECT_TRUE(SearchEntries(t, "W", "", [&] { return ++asked < 2; }).size() == 1u);
}
