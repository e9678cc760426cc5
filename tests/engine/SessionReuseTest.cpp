// Operations of one kind queued back to back share one login: uploads one SMTP session,
// downloads one reader session. Anything else, or an empty queue, closes it.
#include "EngineFixture.h"
#include "FakeServer.h"
#include "FakeSmtp.h"
#include "FileUtil.h"
#include "StoredMail.h"
#include "TcpGate.h"

#include <map>

TEST_F(EngineTest, UploadsInARowShareOneSmtpSession) {
    TcpGate gate(static_cast<uint16_t>(servers_->smtpPort), [](int) { return true; });
    TMailFolder& box = AddBox("Work");
    box.SmtpPort = gate.Port();
    const size_t P = PartSizeFor(box.MaxAttachSize);
    const std::string three = Random(2 * P + 7, 21);
    box.AddLocal("\\", MakeLocal("three.bin", three), true);
    box.AddLocal("\\", MakeLocal("empty.bin", ""), true);
    MakeLocal("dir/small.txt", "small");
    box.AddLocal("\\", (local_ / "dir").string(), true);
    ASSERT_TRUE(RunUntilIdle());
    // three.bin: 3 mails, empty.bin: 1, dir\: 1, dir\small.txt: 1.
    ASSERT_TRUE(WaitForMails(servers_->maildir1, 6, 20000));
    EXPECT_EQ(gate.Connections(), 1);
    EXPECT_TRUE(waits_.empty());
    // With the queue empty the session is closed.
    EXPECT_TRUE(dispatcher_.PumpUntil([&] { return gate.Open() == 0; }, 5000));

    box.Files.Clear();
    box.QueueRefresh();
    ASSERT_TRUE(RunUntilIdle());
    box.DownloadItem("\\", "three.bin", -1);
    ASSERT_TRUE(RunUntilIdle());
    const std::string back = ReadFile(box.CachePathOf("\\three.bin"));
    EXPECT_EQ(back.size(), three.size());
    EXPECT_TRUE(back == three);
    EXPECT_GE(box.Files.IndexOf("\\dir\\small.txt"), 0);
}

TEST_F(EngineTest, AnSmtpSessionCarriesAtMostFiftyMails) {
    TcpGate gate(static_cast<uint16_t>(servers_->smtpPort), [](int) { return true; });
    TMailFolder& box = AddBox("Work");
    box.SmtpPort = gate.Port();
    for (int i = 1; i <= 51; ++i)
        box.AddLocal("\\", MakeLocal("f" + std::to_string(i) + ".txt", std::to_string(i)), true);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(gate.Connections(), 2); // many providers refuse more mails on one connection
    EXPECT_TRUE(waits_.empty());
    EXPECT_TRUE(WaitForMails(servers_->maildir1, 51, 20000));
}

TEST_F(EngineTest, ASessionTheServerEndedIsReplacedWithoutAFailedAttempt) {
    // The first connection goes to a server that takes one mail and then says goodbye
    // ("421") in the same packet as its "250"; the next ones go to the real server.
    fake::FakeServer goodbye;
    OneMailTaken(goodbye)
        .Send("250 ok\r\n421 4.4.2 fake: closing the connection\r\n")
        .Close();
    goodbye.Start();
    const auto real = static_cast<uint16_t>(servers_->smtpPort);
    TcpGate gate([&](int n) { return n == 1 ? goodbye.Port() : real; });
    TMailFolder& box = AddBox("Work");
    box.SmtpPort = gate.Port();
    box.AddLocal("\\", MakeLocal("first.txt", "first"), true);
    box.AddLocal("\\", MakeLocal("second.txt", "second"), true);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(goodbye.WaitDone(5000));
    EXPECT_EQ(goodbye.Error(), "");
    EXPECT_TRUE(waits_.empty()); // no attempt failed
    EXPECT_EQ(gate.Connections(), 2);
    ASSERT_TRUE(WaitForMails(servers_->maildir1, 1, 20000));
    box.Files.Clear();
    box.QueueRefresh();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_GE(box.Files.IndexOf("\\second.txt"), 0);
    EXPECT_LT(box.Files.IndexOf("\\first.txt"), 0); // it went to the fake server
}

TEST_F(EngineTest, AKeptSessionServesOnlyTheSameSettings) {
    const auto smtp = static_cast<uint16_t>(servers_->smtpPort);
    TcpGate gateA(smtp, [](int) { return true; }), gateB(smtp, [](int) { return true; }),
        gateC(smtp, [](int) { return true; });
    TMailFolder& a = AddBox("A");
    TMailFolder& b = AddBox("B", {.second = 1});
    a.SmtpPort = gateA.Port();
    b.SmtpPort = gateB.Port();
    // Another mailbox next: a session of its own.
    a.AddLocal("\\", MakeLocal("a1.txt", "a1"), true);
    a.AddLocal("\\", MakeLocal("a2.txt", "a2"), true);
    b.AddLocal("\\", MakeLocal("b1.txt", "b1"), true);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(gateA.Connections(), 1);
    EXPECT_EQ(gateB.Connections(), 1);
    // Settings changed between two uploads in a row: the second one connects anew.
    folders_->OnOperationFinished = [&](TMailFolder* m, const TExOp&, bool) {
        if (m == &a) a.SmtpPort = gateC.Port();
    };
    a.AddLocal("\\", MakeLocal("a3.txt", "a3"), true);
    a.AddLocal("\\", MakeLocal("a4.txt", "a4"), true);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(gateA.Connections(), 2);
    EXPECT_EQ(gateC.Connections(), 1);
    EXPECT_TRUE(waits_.empty());
    EXPECT_TRUE(WaitForMails(servers_->maildir1, 4, 20000));
    EXPECT_TRUE(WaitForMails(servers_->maildir2, 1, 20000));
}

TEST_F(EngineTest, AMailAKeptSessionRefusesGoesOutOnANewOne) {
    // A provider's limit of mails a connection: the second mail's MAIL FROM is refused
    // and the connection closed.
    fake::FakeServer limited;
    OneMailTaken(limited)
        .SendLine("250 ok")
        .Reply("RSET", "250 ok")
        .Reply("MAIL FROM*", "421 4.7.0 fake: too many mails on one connection")
        .Close();
    limited.Start();
    const auto real = static_cast<uint16_t>(servers_->smtpPort);
    TcpGate gate([&](int n) { return n == 1 ? limited.Port() : real; });
    TMailFolder& box = AddBox("Work");
    box.SmtpPort = gate.Port();
    const size_t P = PartSizeFor(box.MaxAttachSize);
    const std::string two = Random(P + 9, 31);
    box.AddLocal("\\", MakeLocal("two.bin", two), true); // part 1 to the fake, part 2 resent
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(limited.WaitDone(5000));
    EXPECT_EQ(limited.Error(), "");
    EXPECT_TRUE(waits_.empty()); // no attempt failed
    EXPECT_EQ(gate.Connections(), 2);
    ASSERT_TRUE(WaitForMails(servers_->maildir1, 1, 20000));
    EXPECT_EQ(CountMails(servers_->maildir1), 1); // part 2, sent once
}

namespace {
// Stores three files, refreshes, then downloads them one by one through a gate in front of
// the reader's server: one connection for the refresh, one for all three downloads.
void DownloadsShareOneSession(EngineTest& t, bool imap) {
    const auto port = static_cast<uint16_t>(imap ? t.servers_->imapPort : t.servers_->pop3Port);
    TcpGate gate(port, [](int) { return true; });
    if (imap) t.config_.ImapPort = gate.Port();
    Account a;
    a.imap = imap;
    TMailFolder& box = t.AddBox("Work", a);
    if (!imap) box.PopPort = gate.Port();
    const size_t P = PartSizeFor(box.MaxAttachSize);
    const std::map<std::string, std::string> files = {
        {"a.bin", EngineTest::Random(10, 1)},
        {"b.bin", EngineTest::Random(2 * P + 3, 2)},
        {"c.bin", EngineTest::Random(P, 3)},
    };
    for (auto& [name, content] : files) box.AddLocal("\\", t.MakeLocal(name, content), true);
    ASSERT_TRUE(t.RunUntilIdle());
    ASSERT_TRUE(WaitForMails(t.servers_->maildir1, 5, 20000));
    box.QueueRefresh();
    ASSERT_TRUE(t.RunUntilIdle());
    ASSERT_TRUE(box.Opened);
    ASSERT_EQ(gate.Connections(), 1);

    for (auto& [name, content] : files) box.DownloadItem("\\", name, -1);
    ASSERT_TRUE(t.RunUntilIdle());
    for (auto& [name, content] : files) {
        EXPECT_TRUE(EngineTest::ReadFile(box.CachePathOf("\\" + name)) == content) << name;
        EXPECT_TRUE(box.IsLocal("\\" + name)) << name;
    }
    EXPECT_EQ(gate.Connections(), 2);
    EXPECT_TRUE(t.waits_.empty());
    EXPECT_TRUE(t.dispatcher_.PumpUntil([&] { return gate.Open() == 0; }, 5000));

    // A delete in between ends the run: the next download logs in again and still finds
    // its mails by their new numbers.
    box.DownloadItem("\\", "a.bin", -1);
    box.DeleteItem("\\", "b.bin", true);
    box.DownloadItem("\\", "c.bin", -1);
    ASSERT_TRUE(t.RunUntilIdle());
    EXPECT_EQ(gate.Connections(), 5);
    EXPECT_LT(box.Files.IndexOf("\\b.bin"), 0);
    EXPECT_TRUE(EngineTest::ReadFile(box.CachePathOf("\\c.bin")) == files.at("c.bin"));
    EXPECT_TRUE(t.waits_.empty());
}
} // namespace

TEST_F(EngineTest, DownloadsInARowShareOneSessionOverPop3) { DownloadsShareOneSession(*this, false); }
TEST_F(EngineTest, DownloadsInARowShareOneSessionOverImap4) { DownloadsShareOneSession(*this, true); }

TEST_F(EngineTest, AReaderSessionTheServerEndedIsReplacedWithoutAFailedAttempt) {
    for (bool imap : {false, true}) {
        SCOPED_TRACE(imap ? "IMAP4" : "POP3");
        ClearMailbox(servers_->maildir1);
        const auto port = static_cast<uint16_t>(imap ? servers_->imapPort : servers_->pop3Port);
        TcpGate gate(port, [](int) { return true; });
        config_.ImapPort = gate.Port();
        TMailFolder& box = AddBox(imap ? "I" : "P", {.imap = imap});
        if (!imap) box.PopPort = gate.Port();
        box.AddLocal("\\", MakeLocal("one.txt", "one"), true);
        box.AddLocal("\\", MakeLocal("two.txt", "two"), true);
        ASSERT_TRUE(RunUntilIdle());
        ASSERT_TRUE(WaitForMails(servers_->maildir1, 2, 20000));
        box.QueueRefresh();
        ASSERT_TRUE(RunUntilIdle());
        // The server ends the session kept after the first download. The second is queued
        // only then: queued with the first, it would have been fetched along with it.
        folders_->OnOperationFinished = [&](TMailFolder*, const TExOp& op, bool) {
            if (op.Kind != opDownload || op.Name != "\\one.txt") return;
            gate.CutAll();
            box.DownloadItem("\\", "two.txt", -1);
        };
        box.DownloadItem("\\", "one.txt", -1);
        ASSERT_TRUE(RunUntilIdle());
        folders_->OnOperationFinished = nullptr;
        EXPECT_EQ(ReadFile(box.CachePathOf("\\two.txt")), "two");
        EXPECT_EQ(gate.Connections(), 3); // refresh, first download, second download
        EXPECT_TRUE(waits_.empty());
        Stop(); // the next round's mailbox reads the engine settings afresh
    }
}

TEST_F(EngineTest, ADownloadOnANewLoginReadsTheMessageNumbersAgain) {
    // Another client deletes a mail between two downloads that do not follow each other:
    // the second finds its mail by the numbers of its own session, with no failed attempt.
    for (bool imap : {false, true}) {
        SCOPED_TRACE(imap ? "IMAP4" : "POP3");
        ClearMailbox(servers_->maildir1);
        const auto port = static_cast<uint16_t>(imap ? servers_->imapPort : servers_->pop3Port);
        TcpGate gate(port, [](int) { return true; });
        config_.ImapPort = gate.Port();
        TMailFolder& box = AddBox(imap ? "I" : "P", {.imap = imap});
        if (!imap) box.PopPort = gate.Port();
        // "one.txt" is delivered first, so its mail comes before the others.
        box.AddLocal("\\", MakeLocal("one.txt", "one.txt"), true);
        ASSERT_TRUE(RunUntilIdle());
        ASSERT_TRUE(WaitForMails(servers_->maildir1, 1, 20000));
        for (const char* name : {"two.txt", "three.txt"})
            box.AddLocal("\\", MakeLocal(name, name), true);
        ASSERT_TRUE(RunUntilIdle());
        ASSERT_TRUE(WaitForMails(servers_->maildir1, 3, 20000));
        box.QueueRefresh();
        ASSERT_TRUE(RunUntilIdle());
        box.DownloadItem("\\", "two.txt", -1);
        ASSERT_TRUE(RunUntilIdle());
        // The queue is empty: the session of that download ends.
        ASSERT_TRUE(dispatcher_.PumpUntil([&] { return gate.Open() == 0; }, 5000));
        int removed = 0;
        for (const char* sub : {"/new", "/cur"})
            for (const auto& e : std::filesystem::directory_iterator(servers_->maildir1 + sub))
                if (ReadFile(e.path().string()).find("ExFile:\\one.txt<") != std::string::npos)
                    removed += std::filesystem::remove(e.path()) ? 1 : 0;
        ASSERT_EQ(removed, 1);
        box.DownloadItem("\\", "three.txt", -1);
        ASSERT_TRUE(RunUntilIdle());
        EXPECT_EQ(ReadFile(box.CachePathOf("\\three.txt")), "three.txt");
        EXPECT_TRUE(waits_.empty());
        Stop();
    }
}
