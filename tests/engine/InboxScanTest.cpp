// Reading the inbox in batches with the subject cache, against the real local servers: the
// table must be the one a header-by-header reading gives, whatever another client did to
// the mailbox in between; deletes of a folder share one connection and one scan.
#include "EngineFixture.h"
#include "IdIMAP4.h"
#include "IdMessage.h"
#include "IdPOP3.h"
#include "StoredMail.h"
#include "MaildirWrite.h"
#include "TcpGate.h"

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
using Lines = std::vector<std::string>;

// A mail written straight into the Maildir's new/ (as a delivery would), owned like it.
void Deliver(const std::string& maildir, const std::string& subject) {
    static int serial = 0;
    const std::string text = "From: t@tavrel.test\r\nTo: t@tavrel.test\r\nSubject: " + subject +
                             "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain\r\n\r\nx\r\n";
    const std::string size = std::to_string(text.size());
    const int n = ++serial;
    const std::string name = std::to_string(1700000000 + n) + ".M" + std::to_string(n) +
                             "P" + std::to_string(::getpid()) + ".test,S=" + size + ",W=" + size;
    ASSERT_TRUE(DeliverToMaildir(maildir, name, text));
}

// A client of the test's own, logged in as the first account.
template <class Client>
void ConnectAsFirstUser(Client& c, const TestServers& s, int port) {
    c.Host = s.host;
    c.Port = static_cast<uint16_t>(port);
    c.Username = s.acc1.user;
    c.Password = s.acc1.pass;
    c.Connect();
}

std::string File(const std::string& path, uint32_t size = 1) {
    return PartSubject(path, 1, 1, size, 1000 + size, 32, "45000.5", "45000.5");
}

// The subjects of the inbox read header by header, highest number first: what the
// one-at-a-time reading collects.
Lines OneAtATime(const TestServers& s, bool imap) {
    Lines out;
    TIdMessage msg;
    if (imap) {
        TIdIMAP4 c;
        ConnectAsFirstUser(c, s, s.imapPort);
        EXPECT_TRUE(c.SelectMailbox("INBOX"));
        for (int n = c.MessageCount(); n >= 1; --n)
            if (c.FetchHeader(n, msg)) out.push_back(msg.Subject);
        c.Disconnect();
    } else {
        TIdPOP3 c;
        ConnectAsFirstUser(c, s, s.pop3Port);
        for (int n = c.CountMessages(); n >= 1; --n)
            if (c.FetchHeader(n, msg)) out.push_back(msg.Subject);
        c.Disconnect();
    }
    return out;
}

// Another client deletes the mails whose subject contains any of the texts.
void DeleteByOtherClient(const TestServers& s, const Lines& texts) {
    TIdPOP3 c;
    ConnectAsFirstUser(c, s, s.pop3Port);
    TIdMessage msg;
    for (int n = c.CountMessages(); n >= 1; --n) {
        c.FetchHeader(n, msg);
        for (const auto& t : texts)
            if (msg.Subject.find(t) != std::string::npos) {
                c.DeleteMessage(n);
                break;
            }
    }
    c.Disconnect();
}

// Every entry of a table, in table order, with what it was read from.
Lines Table(const TExFiles& files) {
    Lines out;
    for (int i = 0; i < files.Count(); ++i) {
        const TExFile& e = files.Items(i);
        // An implicit folder (no mail of its own) is dated when the table is built.
        std::string row = e.Path + "|" + std::to_string(e.Size) + "|" + std::to_string(e.Hash) +
                          "|" + (e.Implicit ? "implicit" : e.Created) + "|" +
                          (e.IsFolder ? "folder" : "file");
        if (e.Parts)
            for (const auto& p : *e.Parts) row += "|" + p;
        out.push_back(row);
    }
    return out;
}

Lines TableOf(const Lines& subjects) {
    TExFiles t;
    for (const auto& s : subjects) t.AddSubject(s);
    return Table(t);
}

// Subjects of the mails left in the Maildir, sorted.
Lines SubjectsOnDisk(const std::string& maildir) {
    Lines out;
    for (const auto& f : MailFiles(maildir)) {
        std::string text = EngineTest::ReadFile(f);
        size_t p = text.find("\nSubject: ");
        if (p == std::string::npos) continue;
        p += 10;
        out.push_back(text.substr(p, text.find('\r', p) - p));
    }
    std::sort(out.begin(), out.end());
    return out;
}

Lines Collapsed(const Lines& status) {
    Lines shown;
    for (const auto& s : status)
        if (shown.empty() || shown.back() != s) shown.push_back(s);
    return shown;
}
} // namespace

TEST_F(EngineTest, CachedSubjectsFollowAMailboxChangedByAnotherClient) {
    for (bool imap : {false, true}) {
        SCOPED_TRACE(imap ? "IMAP4" : "POP3");
        ClearMailbox(servers_->maildir1);
        Deliver(servers_->maildir1, FolderSubject("\\c\\", "45000.5"));
        for (uint32_t i = 0; i < 30; ++i)
            Deliver(servers_->maildir1, File("\\c\\f" + std::to_string(i) + ".txt", i + 1));
        // The same path stored twice: the newest mail decides the entry.
        Deliver(servers_->maildir1, File("\\c\\dup.txt", 100));
        Deliver(servers_->maildir1, File("\\c\\dup.txt", 200));
        Deliver(servers_->maildir1, "An ordinary mail");
        TMailFolder& box = AddBox(imap ? "I" : "P", {.imap = imap});
        box.QueueRefresh();
        ASSERT_TRUE(RunUntilIdle());
        ASSERT_TRUE(box.Opened);
        EXPECT_EQ(Table(box.Files), TableOf(OneAtATime(*servers_, imap)));

        // Another client removes mails (the newest dup.txt among them) and new ones arrive,
        // so that the message numbers of the known mails move.
        DeleteByOtherClient(*servers_, {"\\c\\f3.txt<", "\\c\\f17.txt<", "|Size:200|", "\\c\\f29.txt<"});
        Deliver(servers_->maildir1, File("\\c\\new.txt", 7));
        Deliver(servers_->maildir1, File("\\c\\f5.txt", 55));
        status_.clear();
        progress_.clear();
        box.QueueRefresh();
        ASSERT_TRUE(RunUntilIdle());
        ASSERT_TRUE(box.Opened);
        const Lines now = OneAtATime(*servers_, imap);
        EXPECT_EQ(Table(box.Files), TableOf(now));
        EXPECT_EQ(box.Files.IndexOf("\\c\\f3.txt"), -1);
        ASSERT_GE(box.Files.IndexOf("\\c\\dup.txt"), 0);
        EXPECT_EQ(box.Files.Items(box.Files.IndexOf("\\c\\dup.txt")).Size, 100u);
        ASSERT_GE(box.Files.IndexOf("\\c\\f5.txt"), 0);
        EXPECT_EQ(box.Files.Items(box.Files.IndexOf("\\c\\f5.txt")).Size, 55u);

        EXPECT_EQ(Collapsed(status_),
                  (Lines{"Connect...", "List all file/folder structure from mail server", ""}));
        const int32_t n = static_cast<int32_t>(now.size());
        ASSERT_FALSE(progress_.empty());
        EXPECT_EQ(progress_.back(), std::make_pair(0, 0));
        EXPECT_NE(std::find(progress_.begin(), progress_.end(), std::make_pair(n, n)),
                  progress_.end());
        for (auto& [pos, max] : progress_) EXPECT_LE(pos, max);
        folders_->DeleteFolder(folders_->IndexOf(&box));
    }
}

TEST_F(EngineTest, ChangedUidValidityDropsTheCachedSubjects) {
    auto uids = [this](int64_t& validity) {
        TIdIMAP4 c;
        ConnectAsFirstUser(c, *servers_, servers_->imapPort);
        EXPECT_TRUE(c.SelectMailbox("INBOX"));
        validity = c.MailBox().UIDValidity;
        std::vector<std::string> ids;
        EXPECT_TRUE(c.FetchUids(c.MessageCount(), ids));
        c.Disconnect();
        return ids;
    };
    for (bool imap : {false, true}) {
        SCOPED_TRACE(imap ? "IMAP4" : "POP3");
        ClearMailbox(servers_->maildir1);
        for (const char* name : {"a1", "a2", "a3"})
            Deliver(servers_->maildir1, File(std::string("\\v\\") + name + ".txt"));
        TMailFolder& box = AddBox(imap ? "I" : "P", {.imap = imap});
        box.QueueRefresh();
        ASSERT_TRUE(RunUntilIdle());
        ASSERT_GE(box.Files.IndexOf("\\v\\a1.txt"), 0);
        int64_t before = 0, after = 0;
        const Lines idsBefore = uids(before);

        // The mailbox starts afresh (no index, no uid list): the same UIDs name other mails.
        ClearMailbox(servers_->maildir1);
        for (const char* name : {"b1", "b2", "b3"})
            Deliver(servers_->maildir1, File(std::string("\\v\\") + name + ".txt"));
        const Lines idsAfter = uids(after);
        ASSERT_NE(before, after);
        ASSERT_EQ(idsBefore, idsAfter);

        box.QueueRefresh();
        ASSERT_TRUE(RunUntilIdle());
        EXPECT_EQ(Table(box.Files), TableOf(OneAtATime(*servers_, imap)));
        EXPECT_EQ(box.Files.IndexOf("\\v\\a1.txt"), -1);
        EXPECT_GE(box.Files.IndexOf("\\v\\b1.txt"), 0);
        folders_->DeleteFolder(folders_->IndexOf(&box));
    }
}

TEST_F(EngineTest, FolderDeleteTakesExactlyItsMailsInOneScan) {
    for (bool imap : {false, true}) {
        SCOPED_TRACE(imap ? "IMAP4" : "POP3");
        ClearMailbox(servers_->maildir1);
        Lines keep = {File("\\gone.txt"), FolderSubject("\\gone2\\", "45000.5"),
                      File("\\gone2\\f.txt"), File("\\keep\\gone\\f.txt"), "An ordinary mail"};
        Deliver(servers_->maildir1, FolderSubject("\\gone\\", "45000.5"));
        for (int i = 0; i < 120; ++i) {
            Deliver(servers_->maildir1, File("\\gone\\f" + std::to_string(i) + ".txt"));
            if (i % 40 == 0) Deliver(servers_->maildir1, keep[static_cast<size_t>(i / 40)]);
        }
        Deliver(servers_->maildir1, FolderSubject("\\gone\\sub\\", "45000.5"));
        Deliver(servers_->maildir1, File("\\gone\\sub\\x.txt"));
        for (size_t k = 3; k < keep.size(); ++k) Deliver(servers_->maildir1, keep[k]);
        std::sort(keep.begin(), keep.end());

        TcpGate gate(static_cast<uint16_t>(imap ? servers_->imapPort : servers_->pop3Port),
                     [](int) { return true; });
        Stop();
        config_.ImapPort = gate.Port();
        TMailFolder& box = AddBox(imap ? "I" : "P", {.imap = imap});
        box.PopPort = gate.Port();
        box.QueueRefresh();
        ASSERT_TRUE(RunUntilIdle());
        ASSERT_GE(box.Files.IndexOf("\\gone\\sub\\x.txt"), 0);
        const int connectionsBefore = gate.Connections();

        box.DeleteItem("\\", "gone\\", true);
        Lines queued;
        for (int i = 0; i < box.Ops.Count(); ++i) {
            ASSERT_EQ(box.Ops.Get(i).Kind, opDelete);
            queued.push_back(box.Ops.Get(i).Path + box.Ops.Get(i).Name);
        }
        ASSERT_EQ(queued.size(), 123u); // 121 files, the folder below and the folder
        Lines finished;
        folders_->OnOperationFinished = [&](TMailFolder*, const TExOp& op, bool ok) {
            finished.push_back(op.Path + op.Name + (ok ? "" : " failed"));
        };
        status_.clear();
        ASSERT_TRUE(RunUntilIdle());
        EXPECT_EQ(finished, queued); // each in queue order, each with its own success
        EXPECT_EQ(gate.Connections() - connectionsBefore, 1);
        EXPECT_EQ(Collapsed(status_), (Lines{"Connect...", "Locate mail should be deleted...",
                                         "Delete...", ""}));
        // File entries marked to be dropped are gone from the table (folder entries stay
        // until the next refresh).
        for (int i = 0; i < box.Files.Count(); ++i) {
            if (!box.Files.Items(i).IsFolder) {
                EXPECT_NE(box.Files.Items(i).Path.rfind("\\gone\\", 0), 0u) << box.Files.Items(i).Path;
            }
        }
        EXPECT_EQ(SubjectsOnDisk(servers_->maildir1), keep);
        folders_->OnOperationFinished = nullptr;
        folders_->DeleteFolder(folders_->IndexOf(&box));
        Stop();
    }
}

TEST_F(EngineTest, BatchedDeletesWhoseConnectionFailsAreRetriedOneByOne) {
    ClearMailbox(servers_->maildir1);
    Deliver(servers_->maildir1, FolderSubject("\\d\\", "45000.5"));
    for (const char* f : {"a", "b", "c"}) Deliver(servers_->maildir1, File(std::string("\\d\\") + f));
    Deliver(servers_->maildir1, File("\\other"));
    // Connection 2, the batch's, is dropped at once.
    TcpGate gate(static_cast<uint16_t>(servers_->pop3Port), [](int n) { return n != 2; });
    TMailFolder& box = AddBox("P");
    box.PopPort = gate.Port();
    prompt_.defaultAnswer = id::No;
    box.QueueRefresh();
    ASSERT_TRUE(RunUntilIdle());
    box.DeleteItem("\\", "d\\", true);
    Lines queued;
    for (int i = 0; i < box.Ops.Count(); ++i) queued.push_back(box.Ops.Get(i).Path + box.Ops.Get(i).Name);
    ASSERT_EQ(queued.size(), 4u);
    ASSERT_EQ(queued.back(), "\\d\\");
    Lines finished;
    folders_->OnOperationFinished = [&](TMailFolder*, const TExOp& op, bool ok) {
        finished.push_back(op.Path + op.Name + (ok ? "" : " failed"));
    };
    ASSERT_TRUE(RunUntilIdle());
    // The failed batch was the first delete's first attempt; its second attempt and then a
    // batch of the other three did the work.
    EXPECT_EQ(finished, queued);
    EXPECT_EQ(waits_, std::vector<int>{1});
    EXPECT_EQ(Shown("Login Error"), 1);
    EXPECT_EQ(gate.Connections(), 4);
    EXPECT_EQ(SubjectsOnDisk(servers_->maildir1), Lines{File("\\other")});
}
