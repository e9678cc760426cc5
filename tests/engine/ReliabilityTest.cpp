// What a broken connection, a refusal or a stray mail must never do: report a wrong result
// as success, lose a stored version, leave duplicate parts, or retry what cannot succeed.
// Against the real local servers; a scripted server only for a SIZE the real one never names.
#include "EngineFixture.h"
#include "FakeServer.h"
#include "FileUtil.h"
#include "MaildirWrite.h"
#include "StoredMail.h"
#include "TcpGate.h"

#include <chrono>

namespace {
class ReliabilityTest : public EngineTest {
protected:
    // A mailbox of the first account; every finished operation is recorded.
    TMailFolder& Box(const std::string& alias, Account a = {}) {
        TMailFolder& b = AddBox(alias, a);
        folders_->OnOperationFinished = [this](TMailFolder*, const TExOp& op, bool ok) {
            finished_.push_back({op.Kind, ok, folders_->OperationError});
        };
        return b;
    }
    // Stores a file into the root without faults and waits until the inbox holds
    // mailsAfter mails.
    void StoreClean(TMailFolder& box, const std::string& name, const std::string& content,
                    int mailsAfter) {
        box.AddLocal("\\", MakeLocal("clean/" + name, content), true);
        ASSERT_TRUE(RunUntilIdle());
        ASSERT_TRUE(WaitForMails(servers_->maildir1, mailsAfter, 20000));
    }
    // A POP3 route that lets each connection through once the inbox holds `wait` mails
    // (delivery runs behind the upload; a clean-up must see what was accepted).
    uint16_t DeliveredFirst(std::unique_ptr<TcpGate>& gate) {
        const auto pop3 = static_cast<uint16_t>(servers_->pop3Port);
        gate = std::make_unique<TcpGate>([this, pop3](int) {
            if (wait_ > 0) WaitForMails(servers_->maildir1, wait_, 20000);
            return pop3;
        });
        return gate->Port();
    }
    std::atomic<int> wait_{0};
    // A fresh table from the server, the file fetched, its bytes.
    std::string FetchFresh(TMailFolder& box, const std::string& path) {
        box.Files.Clear();
        box.QueueRefresh();
        if (!RunUntilIdle() || box.Files.IndexOf(path) < 0) return "<not listed>";
        box.DownloadItem("\\", path.substr(1), -1);
        if (!RunUntilIdle() || !box.IsLocal(path)) return "<not fetched>";
        return ReadFile(box.CachePathOf(path));
    }
    struct Finished {
        uint8_t kind;
        bool ok;
        std::string error;
    };
    std::vector<Finished> finished_;
};
} // namespace

TEST_F(ReliabilityTest, ARetriedUploadGoesOnAfterThePartsTheServerTook) {
    // Every SMTP connection is cut 2.5 part mails in: the first attempt stores part 1, the
    // second part 2, the third part 3. No part is sent twice.
    TcpGate gate(static_cast<uint16_t>(servers_->smtpPort), [](int) { return true; });
    TMailFolder& box = Box("Work");
    box.SmtpPort = gate.Port();
    const size_t P = PartSizeFor(box.MaxAttachSize);
    gate.CutAfter(5 * P / 2);
    const std::string content = Random(3 * P, 13);
    box.AddLocal("\\", MakeLocal("three.bin", content), true);
    ASSERT_TRUE(RunUntilIdle());
    ASSERT_EQ(finished_.size(), 1u);
    EXPECT_TRUE(finished_[0].ok);
    EXPECT_EQ(waits_, (std::vector<int>{1, 2}));
    ASSERT_TRUE(WaitForMails(servers_->maildir1, 3, 20000));
    EXPECT_EQ(FetchFresh(box, "\\three.bin"), content);
    EXPECT_EQ(CountMails(servers_->maildir1), 3);
}

TEST_F(ReliabilityTest, AFailedUploadRemovesItsOwnPartsAndKeepsTheReplacedVersion) {
    TMailFolder& box = Box("Work");
    std::unique_ptr<TcpGate> reader;
    box.PopPort = DeliveredFirst(reader);
    const size_t P = PartSizeFor(box.MaxAttachSize);
    const std::string old = Random(P + 10, 21);
    StoreClean(box, "f.bin", old, 2);
    box.QueueRefresh();
    ASSERT_TRUE(RunUntilIdle());
    wait_ = 3; // the two old parts and the new part 1

    // The new version's first connection stores part 1 and breaks in part 2; the server
    // is down after that.
    TcpGate gate(static_cast<uint16_t>(servers_->smtpPort), [](int n) { return n == 1; });
    gate.CutAfter(5 * P / 2);
    box.SmtpPort = gate.Port();
    prompt_.answers = {id::Yes}; // replace
    box.AddLocal("\\", MakeLocal("f.bin", Random(3 * P, 22)), true);
    ASSERT_TRUE(RunUntilIdle());
    ASSERT_EQ(finished_.size(), 3u); // store, refresh, the failed replace
    EXPECT_FALSE(finished_[2].ok);
    EXPECT_NE(finished_[2].error.find("The stored version of \\f.bin was kept."), std::string::npos)
        << finished_[2].error;
    // The table shows the stored version again, not the one that failed.
    const TExFile& e = box.Files.Items(box.Files.IndexOf("\\f.bin"));
    EXPECT_EQ(e.Size, old.size());
    EXPECT_EQ(e.State, fsNone);
    EXPECT_FALSE(IsIncompleteFile(e));
    // Part 1 of the new version reached the server and was removed again.
    box.SmtpPort = static_cast<uint16_t>(servers_->smtpPort);
    wait_ = 0;
    EXPECT_EQ(FetchFresh(box, "\\f.bin"), old);
    EXPECT_EQ(CountMails(servers_->maildir1), 2);

    // A new file whose upload fails leaves neither mails nor an entry.
    TcpGate down(static_cast<uint16_t>(servers_->smtpPort), [](int n) { return n == 1; });
    down.CutAfter(5 * P / 2);
    box.SmtpPort = down.Port();
    wait_ = 3;
    box.AddLocal("\\", MakeLocal("new.bin", Random(3 * P, 23)), true);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_FALSE(finished_.back().ok);
    EXPECT_EQ(box.Files.IndexOf("\\new.bin"), -1);
    EXPECT_EQ(CountMails(servers_->maildir1), 2);
}

TEST_F(ReliabilityTest, AReplaceStoresTheNewVersionFirstThenDeletesExactlyTheOld) {
    for (bool imap : {false, true}) {
        SCOPED_TRACE(imap ? "IMAP4" : "POP3");
        ClearMailbox(servers_->maildir1);
        finished_.clear();
        TMailFolder& box = Box(imap ? "I" : "P", {.imap = imap});
        const size_t P = PartSizeFor(box.MaxAttachSize);
        StoreClean(box, "a.txt", Random(2 * P, 31), 2);
        StoreClean(box, "a.txt.bak", "bak", 3);
        box.QueueRefresh();
        ASSERT_TRUE(RunUntilIdle());
        const std::string next = Random(P + 1, 32); // two parts, not the old ones
        prompt_.answers = {id::Yes};
        box.AddLocal("\\", MakeLocal("again/a.txt", next), true);
        ASSERT_TRUE(RunUntilIdle());
        ASSERT_FALSE(finished_.empty());
        EXPECT_TRUE(finished_.back().ok) << finished_.back().error;
        EXPECT_EQ(box.Ops.Count(), 0); // no delete was queued
        ASSERT_TRUE(WaitForMails(servers_->maildir1, 3, 20000));
        EXPECT_EQ(FetchFresh(box, "\\a.txt"), next);
        EXPECT_EQ(FetchFresh(box, "\\a.txt.bak"), "bak");
        EXPECT_EQ(CountMails(servers_->maildir1), 3); // the new version's 2 parts and .bak

        // Stored twice more before the worker got to it: the last one is all that stays.
        prompt_.answers = {id::Yes, id::Yes};
        box.AddLocal("\\", MakeLocal("v2/a.txt", "second"), true);
        box.AddLocal("\\", MakeLocal("v3/a.txt", "third"), true);
        ASSERT_TRUE(RunUntilIdle());
        ASSERT_TRUE(WaitForMails(servers_->maildir1, 2, 20000));
        EXPECT_EQ(FetchFresh(box, "\\a.txt"), "third");
        EXPECT_EQ(CountMails(servers_->maildir1), 2);
        folders_->DeleteFolder(folders_->IndexOf(&box));
    }
}

TEST_F(ReliabilityTest, ARefreshThatBreaksFailsAndKeepsWhatWasKnown) {
    TMailFolder& box = Box("Work");
    // Enough mails that the header requests outlast the login.
    for (int i = 0; i < 40; ++i) box.NewFolder("\\", "folder " + std::to_string(i));
    ASSERT_TRUE(RunUntilIdle());
    ASSERT_TRUE(WaitForMails(servers_->maildir1, 40, 20000));
    box.QueueRefresh();
    ASSERT_TRUE(RunUntilIdle());
    ASSERT_TRUE(box.Opened);
    ASSERT_EQ(box.Files.Count(), 40);

    // Mails the worker has not read yet (known ones come from its subject cache), and every
    // reader connection breaks once the client has sent 150 bytes: inside the header
    // requests, after the login.
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(DeliverToMaildir(servers_->maildir1, "more" + std::to_string(i),
                                     "Subject: ExFile:\\more " + std::to_string(i) +
                                         "\\|Time:1\r\n\r\nx\r\n"));
    TcpGate gate(static_cast<uint16_t>(servers_->pop3Port), [](int) { return true; });
    gate.CutAfter(150);
    box.PopPort = gate.Port();
    waits_.clear();
    box.QueueRefresh();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(waits_, (std::vector<int>{1, 2, 3, 4, 5}));
    ASSERT_FALSE(finished_.empty());
    EXPECT_FALSE(finished_.back().ok);
    EXPECT_FALSE(finished_.back().error.empty());
    EXPECT_TRUE(box.Opened);
    EXPECT_EQ(box.Files.Count(), 40); // the table read before, not a part of it

    // A mailbox never opened stays closed, with nothing listed.
    TMailFolder& other = Box("Other");
    other.PopPort = gate.Port();
    other.QueueRefresh();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_FALSE(other.Opened);
    EXPECT_EQ(other.Files.Count(), 0);
}

TEST_F(ReliabilityTest, AStrayMailForAStoredPathNeverMakesTheFileUnreadable) {
    TMailFolder& box = Box("Work");
    const size_t P = PartSizeFor(box.MaxAttachSize);
    const std::string content = Random(2 * P, 41);
    StoreClean(box, "f.bin", content, 2);
    // Someone else's mail, newer, naming part 1 of 2 of another version of the path.
    ASSERT_TRUE(DeliverToMaildir(servers_->maildir1, "stray",
                                 "From: x@elsewhere.example\r\nSubject: ExFile:\\f.bin<1/2>|Size:9|"
                                 "Hash:1|Attri:32|Time:1;1\r\n\r\nhello\r\n"));
    EXPECT_EQ(FetchFresh(box, "\\f.bin"), content);
    // An interrupted upload shows as incomplete and is replaced without a question.
    ASSERT_TRUE(DeliverToMaildir(servers_->maildir1, "half",
                                 "From: x@elsewhere.example\r\nSubject: ExFile:\\g.bin<2/2>|Size:9|"
                                 "Hash:1|Attri:32|Time:1;1\r\n\r\nhello\r\n"));
    box.QueueRefresh();
    ASSERT_TRUE(RunUntilIdle());
    ASSERT_GE(box.Files.IndexOf("\\g.bin"), 0);
    EXPECT_TRUE(IsIncompleteFile(box.Files.Items(box.Files.IndexOf("\\g.bin"))));
    // Fetching it fails at once with the reason, not after every attempt.
    waits_.clear();
    box.DownloadItem("\\", "g.bin", -1);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(waits_.empty());
    EXPECT_FALSE(finished_.back().ok);
    EXPECT_NE(finished_.back().error.find("is incomplete"), std::string::npos);
    prompt_.shown.clear();
    box.AddLocal("\\", MakeLocal("g.bin", "fine"), true);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(prompt_.shown.empty());
    ASSERT_TRUE(WaitForMails(servers_->maildir1, 4, 20000)); // the half mail gone, g.bin in
    EXPECT_EQ(FetchFresh(box, "\\g.bin"), "fine");
    EXPECT_EQ(CountMails(servers_->maildir1), 4); // f.bin's two parts, its stray, g.bin
}

TEST_F(ReliabilityTest, PermanentRefusalsEndTheOperationAtOnce) {
    struct Case {
        const char* what;
        std::function<void(TMailFolder&)> setup;
        bool upload;
        const char* reason; // in the error reported
    };
    fake::FakeServer sized;
    sized.SendLine("220 fake ESMTP")
        .Reply("EHLO *", "250-fake\r\n250-SIZE 1000\r\n250 8BITMIME")
        .Expect("QUIT")
        .SendLine("221 bye")
        .Close();
    sized.Start();
    const Case cases[] = {
        {"a recipient the server refuses (5xx)",
         [&](TMailFolder& b) { b.Address = "someone@elsewhere.example"; }, true, "5."},
        {"a part over the SIZE the server names",
         [&](TMailFolder& b) {
             b.SmtpPort = sized.Port();
             b.SmtpAuth = false;
         },
         true, "1000 bytes"},
        {"TLS on a port that speaks plain text",
         [&](TMailFolder& b) { b.PopSsl = true; }, false, "SSL"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        waits_.clear();
        finished_.clear();
        prompt_.shown.clear();
        TMailFolder& box = Box("Box");
        c.setup(box);
        if (c.upload)
            box.AddLocal("\\", MakeLocal("x.bin", Random(5000, 3)), true);
        else
            box.QueueRefresh();
        ASSERT_TRUE(RunUntilIdle());
        EXPECT_TRUE(waits_.empty()); // one attempt, no wait
        EXPECT_EQ(Shown("Login Error"), 0);
        ASSERT_EQ(finished_.size(), 1u);
        EXPECT_FALSE(finished_[0].ok);
        EXPECT_NE(finished_[0].error.find(c.reason), std::string::npos) << finished_[0].error;
        folders_->DeleteFolder(folders_->IndexOf(&box));
    }
    EXPECT_EQ(sized.Error(), "");
    // The SIZE check came before any mail was begun.
    for (const auto& line : sized.Received()) EXPECT_EQ(line.rfind("MAIL", 0), std::string::npos);
}

TEST_F(ReliabilityTest, AGreetingMustArriveWithinTheConnectTimeOut) {
    // A plain client on the implicit-TLS port waits for a greeting that never comes.
    config_.ConnectTimeoutMs = 300;
    config_.ReadTimeoutMs = 60000;
    TMailFolder& box = Box("Work");
    box.PopPort = static_cast<uint16_t>(servers_->pop3sPort);
    const auto start = std::chrono::steady_clock::now();
    box.QueueRefresh();
    ASSERT_TRUE(RunUntilIdle());
    // Five attempts of 0.3 s each (the waits between them are shortened), not of 60 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_FALSE(box.Opened);
    ASSERT_FALSE(finished_.empty());
    EXPECT_NE(finished_.back().error.find("10060"), std::string::npos) << finished_.back().error;
}
