// Upload, refresh, download and delete against the real local mail servers.
#include "EngineFixture.h"
#include "FileUtil.h"
#include "StoredMail.h"
#include "TcpGate.h"

#include <map>
#include <set>

namespace fs = std::filesystem;

namespace {
// Puts a local tree into the mailbox, refreshes, downloads everything, and compares.
void RoundTrip(EngineTest* t, TMailFolder& box, const std::map<std::string, std::string>& files,
               const std::string& top) {
    for (auto& [rel, content] : files) t->MakeLocal(top + "/" + rel, content);
    box.AddLocal("\\", (t->local_ / top).string(), true);
    ASSERT_TRUE(t->RunUntilIdle());
    // Delivery runs behind the upload: the refresh must find every mail there.
    const uint32_t P = PartSizeFor(box.MaxAttachSize);
    std::set<std::string> folders = {top};
    int mails = 0;
    for (auto& [rel, content] : files) {
        mails += content.empty() ? 1 : static_cast<int>(PartCountFor(static_cast<uint32_t>(content.size()), P));
        for (auto slash = rel.find('/'); slash != std::string::npos; slash = rel.find('/', slash + 1))
            folders.insert(top + "/" + rel.substr(0, slash));
    }
    const std::string& maildir =
        box.Address == t->servers_->acc2.address ? t->servers_->maildir2 : t->servers_->maildir1;
    ASSERT_TRUE(WaitForMails(maildir, mails + static_cast<int>(folders.size()), 20000));
    EXPECT_EQ(box.Files.Items(box.Files.IndexOf("\\" + top + "\\")).State, fsNone);

    // A fresh table, read back from the server only.
    box.Files.Clear();
    box.QueueRefresh();
    ASSERT_TRUE(t->RunUntilIdle());
    ASSERT_TRUE(box.Opened);
    for (auto& [rel, content] : files) {
        std::string path = "\\" + top + "\\" + rel;
        for (auto& c : path)
            if (c == '/') c = '\\';
        int i = box.Files.IndexOf(path);
        ASSERT_GE(i, 0) << path;
        EXPECT_EQ(box.Files.Items(i).Size, content.size()) << path;
        EXPECT_EQ(box.Files.Items(i).Hash, ChecksumUpdate(0, content.data(), content.size()));
    }
    box.DownloadItem("\\", top + "\\", -1);
    ASSERT_TRUE(t->RunUntilIdle());
    for (auto& [rel, content] : files) {
        std::string path = "\\" + top + "\\" + rel;
        for (auto& c : path)
            if (c == '/') c = '\\';
        std::string cache = box.CachePathOf(path);
        EXPECT_TRUE(EngineTest::ReadFile(cache) == content) << path;
        EXPECT_TRUE(box.IsLocal(path)) << path;
    }
}
} // namespace

TEST_F(EngineTest, RoundTripOverPop3KeepsEveryByte) {
    TMailFolder& box = AddBox("Work");
    const size_t P = PartSizeFor(box.MaxAttachSize);
    std::map<std::string, std::string> files = {
        {"empty.bin", ""},
        {"one.bin", "x"},
        {"sub dir/p-1.bin", Random(P - 1, 1)},
        {"sub dir/p.bin", Random(P, 2)},
        {"sub dir/deeper/p+1.bin", Random(P + 1, 3)},
        {"\xc3\xa4rger \xc3\xbc.txt", Random(2 * P + 100, 4)},
        {"big.bin", Random(3 * 1024 * 1024 + 17, 5)},
    };
    RoundTrip(this, box, files, "tree");
    // Stored mails: folders get one mail each, files one per part.
    const TExFile& e = box.Files.Items(box.Files.IndexOf("\\tree\\\xc3\xa4rger \xc3\xbc.txt"));
    ASSERT_TRUE(e.Parts);
    ASSERT_EQ(e.Parts->size(), 3u);
    auto s = ParseStoredSubject((*e.Parts)[2]);
    EXPECT_EQ(s.part, 3u);
    EXPECT_EQ(s.count, 3u);
    EXPECT_EQ(s.attributes, 32u);
}

TEST_F(EngineTest, RoundTripOverImap4WithTls) {
    config_.ImapPort = static_cast<uint16_t>(servers_->imapsPort);
    TMailFolder& box = AddBox("Secure", {.tls = true, .imap = true, .second = 1});
    const size_t P = PartSizeFor(box.MaxAttachSize);
    RoundTrip(this, box, {{"a b/c.bin", Random(2 * P + 100, 7)}, {"e", ""}}, "imap");
}

TEST_F(EngineTest, RoundTripOverPop3WithTls) {
    TMailFolder& box = AddBox("Tls", {.tls = true});
    RoundTrip(this, box, {{"f.txt", Random(100000, 9)}}, "t");
}

TEST_F(EngineTest, StatusTextsAndProgressOfAnUpload) {
    TMailFolder& box = AddBox("Work");
    const size_t P = PartSizeFor(box.MaxAttachSize);
    std::string file = MakeLocal("two.bin", Random(P + 5, 11));
    box.AddLocal("\\", file, true);
    ASSERT_TRUE(RunUntilIdle());
    std::vector<std::string> shown;
    for (auto& s : status_)
        if (shown.empty() || shown.back() != s) shown.push_back(s);
    std::vector<std::string> expected = {"Connect...", "Login...", "Sending 1 of 2...", "",
                                         "Connect...", "Login...", "Sending 2 of 2...", ""};
    EXPECT_EQ(shown, expected);
    ASSERT_FALSE(progress_.empty());
    EXPECT_EQ(progress_.back(), std::make_pair(0, 0)); // a file upload ends at 0 of 0
    int32_t maxSeen = 0;
    for (auto& [pos, max] : progress_) {
        EXPECT_LE(pos, max);
        maxSeen = std::max(maxSeen, max);
    }
    EXPECT_EQ(maxSeen, static_cast<int32_t>(std::nearbyint((P + 5) / 0.8)) + 3072);
    ASSERT_EQ(done_.size(), 1u);
    EXPECT_EQ(done_[0], &box);
}

TEST_F(EngineTest, DeleteTakesTheFileOrTheWholeFolder) {
    for (bool imap : {false, true}) {
        SCOPED_TRACE(imap ? "IMAP4" : "POP3");
        ClearMailbox(servers_->maildir1);
        TMailFolder& box = AddBox(imap ? "I" : "P", {.imap = imap});
        MakeLocal("d/a.txt", "a");
        MakeLocal("d/a.txt.bak", "b");
        MakeLocal("d/sub/c.txt", "c");
        box.AddLocal("\\", (local_ / "d").string(), true);
        ASSERT_TRUE(RunUntilIdle());
        ASSERT_TRUE(WaitForMails(servers_->maildir1, 5, 10000)); // 2 folders, 3 files

        box.DeleteItem("\\d\\", "a.txt", true);
        ASSERT_TRUE(RunUntilIdle());
        EXPECT_EQ(box.Files.IndexOf("\\d\\a.txt"), -1);
        EXPECT_GE(box.Files.IndexOf("\\d\\a.txt.bak"), 0);
        box.QueueRefresh();
        ASSERT_TRUE(RunUntilIdle());
        EXPECT_EQ(box.Files.IndexOf("\\d\\a.txt"), -1); // gone from the server too
        EXPECT_GE(box.Files.IndexOf("\\d\\a.txt.bak"), 0);

        box.DeleteItem("\\", "d\\", true);
        ASSERT_TRUE(RunUntilIdle());
        box.QueueRefresh();
        ASSERT_TRUE(RunUntilIdle());
        EXPECT_EQ(box.Files.Count(), 0);
        EXPECT_EQ(CountMails(servers_->maildir1), 0);
        folders_->DeleteFolder(folders_->IndexOf(&box));
    }
}

TEST_F(EngineTest, ServerDownTwiceThenUp) {
    TcpGate gate(static_cast<uint16_t>(servers_->pop3Port), [](int n) { return n > 2; });
    TMailFolder& box = AddBox("Work");
    box.PopPort = gate.Port();
    box.QueueRefresh();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(box.Opened);
    EXPECT_EQ(folders_->CurrentFolder, &box);
    EXPECT_EQ(waits_, (std::vector<int>{1, 2}));
    ASSERT_EQ(Shown("Login Error"), 2);
    EXPECT_EQ(prompt_.shown[0].text,
              "ERR: Connection Closed Gracefully.\r\n\r\nDo you want to reenter your password?");
    EXPECT_EQ(prompt_.shown[0].flags, mb::YesNoCancel | mb::IconQuestion);
}

TEST_F(EngineTest, FiveFailuresEndARefreshAndEmptyTheQueue) {
    TMailFolder& box = AddBox("Work");
    box.PopPort = 1; // nothing listens there
    box.QueueRefresh();
    box.Ops.Add(opDownload, "", -1, "\\x");
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_FALSE(box.Opened);
    EXPECT_EQ(box.Ops.Count(), 0);
    EXPECT_EQ(folders_->CurrentFolder, nullptr);
    EXPECT_EQ(waits_, (std::vector<int>{1, 2, 3, 4, 5}));
    ASSERT_FALSE(prompt_.shown.empty());
    EXPECT_NE(prompt_.shown[0].text.find("Socket Error # 10061"), std::string::npos);
}

TEST_F(EngineTest, WrongPasswordCanBeTypedAgainOrCancelled) {
    for (bool imap : {false, true}) {
        SCOPED_TRACE(imap ? "IMAP4" : "POP3");
        waits_.clear();
        prompt_.shown.clear();
        TMailFolder& box = AddBox(imap ? "I" : "P", {.imap = imap, .second = 1});
        box.Password = "wrong";
        prompt_.answers = {id::Yes};
        prompt_.entries = {{true, servers_->acc2.pass}};
        box.QueueRefresh();
        ASSERT_TRUE(RunUntilIdle());
        EXPECT_TRUE(box.Opened);
        EXPECT_TRUE(waits_.empty()); // it went on in the same attempt
        EXPECT_EQ(box.Password, servers_->acc2.pass);
        ASSERT_EQ(Shown("Login Error"), 1);
        EXPECT_EQ(prompt_.shown[0].text.rfind("ERR: ", 0), 0u);
        ASSERT_EQ(prompt_.shown.size(), 2u);
        EXPECT_TRUE(prompt_.shown[1].password);
        EXPECT_EQ(prompt_.shown[1].caption, "Enter Password");

        // Cancel stops the operation after the first attempt's wait; the mailbox keeps
        // the table it read before.
        waits_.clear();
        box.Password = "wrong again";
        prompt_.answers = {id::Cancel};
        box.QueueRefresh();
        ASSERT_TRUE(RunUntilIdle());
        EXPECT_TRUE(box.Opened);
        EXPECT_EQ(waits_, std::vector<int>{1});
        folders_->DeleteFolder(folders_->IndexOf(&box));
    }
}

TEST_F(EngineTest, MailboxesAreServedInListOrder) {
    TMailFolder& a = AddBox("A", {.second = 1});
    TMailFolder& b = AddBox("B");
    // Nothing runs until the window's thread pumps, so the order of queueing is exact:
    // the later mailbox in the list gets its work first, but the list order decides.
    b.NewFolder("\\", "b1");
    b.NewFolder("\\", "b2");
    a.NewFolder("\\", "a1");
    std::vector<std::string> order;
    folders_->OnOperationDone = [&](TMailFolder* m) { order.push_back(m->Alias); };
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(order, (std::vector<std::string>{"A", "B", "B"}));
}

TEST_F(EngineTest, DragOutOfAFolderCopiesOnceAfterTheLastDownload) {
    TMailFolder& box = AddBox("Work");
    MakeLocal("pics/1.bin", "one");
    MakeLocal("pics/2.bin", "two");
    MakeLocal("pics/3.bin", "three");
    box.AddLocal("\\", (local_ / "pics").string(), true);
    ASSERT_TRUE(RunUntilIdle());
    ASSERT_TRUE(WaitForMails(servers_->maildir1, 4, 10000)); // delivery is asynchronous
    box.QueueRefresh(); // nothing is local after a refresh in a new run
    ASSERT_TRUE(RunUntilIdle());
    fs::remove_all(box.CacheDir() + "/pics");
    fs::path target = home_ / "desktop";
    fs::create_directories(target);
    int copiesSeen = 0;
    box.PendingDrags->AddDrag("\\pics\\", target.string());
    EXPECT_EQ(box.Ops.Count(), 3);
    folders_->OnOperationDone = [&](TMailFolder*) { copiesSeen += fs::exists(target / "pics"); };
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(copiesSeen, 1); // only after the third download
    EXPECT_EQ(ReadFile((target / "pics" / "3.bin").string()), "three");
    EXPECT_EQ(ReadFile((target / "pics" / "1.bin").string()), "one");
}

TEST_F(EngineTest, FailedFolderUploadKeepsWhatIsStoredBelowIt) {
    TMailFolder& box = AddBox("Work");
    MakeLocal("keep/f.txt", "precious");
    box.AddLocal("\\", (local_ / "keep").string(), true);
    ASSERT_TRUE(RunUntilIdle());
    // The folder is sent again while the SMTP server cannot be reached.
    box.SmtpPort = 1;
    box.Ops.Add(opSend, "\\", -1, "keep\\");
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(waits_.size(), 5u);
    box.Files.Clear();
    box.QueueRefresh();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_GE(box.Files.IndexOf("\\keep\\f.txt"), 0);
    EXPECT_GE(box.Files.IndexOf("\\keep\\"), 0);
}

TEST_F(EngineTest, StoredMailsCarryTheirSubjectsBodiesAndAttachments) {
    TMailFolder& box = AddBox("Work");
    const uint32_t P = PartSizeFor(box.MaxAttachSize);
    const std::string content = Random(P + 5, 21);
    box.AddLocal("\\", MakeLocal("two.bin", content), true);
    box.NewFolder("\\", "new");
    ASSERT_TRUE(RunUntilIdle());
    ASSERT_TRUE(WaitForMails(servers_->maildir1, 3, 10000));
    std::map<std::string, std::string> parts; // subject -> attachment bytes
    int folders = 0;
    for (const std::string& file : MailFiles(servers_->maildir1)) {
        TIdMessage m;
        m.LoadFromFile(file);
        ASSERT_EQ(m.From.Count(), 1u);
        EXPECT_EQ(m.From[0].Name, "Tavrel");
        EXPECT_EQ(m.From[0].Address, servers_->acc1.address);
        ASSERT_EQ(m.Recipients.Count(), 1u);
        EXPECT_EQ(m.Recipients[0].Address, servers_->acc1.address);
        auto s = ParseStoredSubject(m.Subject);
        if (s.kind == TStoredSubject::Folder) {
            ++folders;
            EXPECT_EQ(s.path, "\\new\\");
            EXPECT_TRUE(m.FirstAttachment() == nullptr);
            continue;
        }
        ASSERT_EQ(s.kind, TStoredSubject::FilePart) << m.Subject;
        EXPECT_EQ(s.size, content.size());
        const uint32_t L = PartLength(s.size, P, s.part);
        TIdAttachment* att = m.FirstAttachment();
        ASSERT_NE(att, nullptr);
        EXPECT_EQ(att->FileName, "two.bin"); // the wire carries the last name only
        EXPECT_EQ(att->ContentType, "Stream");
        bool line1 = false, line2 = false;
        for (auto& l : m.Body) {
            line1 |= l == "IMPORTANT: Please don't delete this mail manually";
            line2 |= l == "This Attach Size:" + std::to_string(L) + ".";
        }
        for (auto& part : m.Parts)
            if (auto* t = dynamic_cast<TIdText*>(part.get()))
                for (auto& l : t->Body) {
                    line1 |= l == "IMPORTANT: Please don't delete this mail manually";
                    line2 |= l == "This Attach Size:" + std::to_string(L) + ".";
                }
        EXPECT_TRUE(line1 && line2) << m.Subject;
        parts[std::to_string(s.part)] = att->ReadAll();
    }
    EXPECT_EQ(folders, 1);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts["1"] + parts["2"], content);
}

TEST_F(EngineTest, StatusTextsOfRefreshDownloadAndDelete) {
    TMailFolder& box = AddBox("Work");
    box.AddLocal("\\", MakeLocal("f.txt", "hello"), true);
    ASSERT_TRUE(RunUntilIdle());
    ASSERT_TRUE(WaitForMails(servers_->maildir1, 1, 20000)); // delivery runs behind
    auto collapse = [this] {
        std::vector<std::string> shown;
        for (auto& s : status_)
            if (shown.empty() || shown.back() != s) shown.push_back(s);
        status_.clear();
        return shown;
    };
    collapse();
    box.QueueRefresh();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(collapse(), (std::vector<std::string>{
                              "Connect...", "List all file/folder structure from mail server", ""}));
    box.DownloadItem("\\", "f.txt", -1);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(collapse(), (std::vector<std::string>{
                              "Connect...", "Locate mail should be downloaded", "Download...", ""}));
    box.DeleteItem("\\", "f.txt", true);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(collapse(), (std::vector<std::string>{"Connect...", "Locate mail should be deleted...",
                                                    "Delete...", ""}));
    ASSERT_FALSE(progress_.empty());
    EXPECT_EQ(progress_.back(), std::make_pair(0, 0));
}
