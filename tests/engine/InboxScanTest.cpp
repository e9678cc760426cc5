// Reading the inbox in batches with the subject cache, against the real local servers: the
// table must be the one a header-by-header reading gives, whatever another client did to
// the mailbox in between; deletes of a folder share one connection and one scan.
#include "EngineFixture.h"
#include "InboxHelpers.h"
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
using namespace inbox;


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
