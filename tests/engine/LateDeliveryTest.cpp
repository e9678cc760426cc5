// The server puts a mail it took into the inbox some time later. A delete queued right
// after a store must not report done while the stored mail is still on its way: it would
// come back when it arrives.
#include "EngineFixture.h"
#include "FakeSmtp.h"
#include "InboxHelpers.h"

TEST_F(EngineTest, ADeleteRightAfterAStoreWaitsForTheStoredMailToArrive) {
    // An SMTP server that takes the mail and keeps it; the test hands it to the inbox.
    fake::FakeServer smtp;
    OneMailTaken(smtp)
        .SendLine("250 ok: queued")
        .Reply("QUIT", "221 bye");
    smtp.Start();
    std::mutex lock;
    bool delivered = false;
    auto deliver = [&] {
        std::lock_guard<std::mutex> hold(lock);
        if (delivered) return;
        delivered = true;
        std::string text;
        for (std::string line : smtp.DataLines()) {
            if (line == ".") break;
            if (line.rfind("..", 0) == 0) line.erase(0, 1);
            text += line + "\r\n";
        }
        inbox::DeliverText(servers_->maildir1, text);
    };
    // The mail arrives once the delete has had its first look.
    config_.OnRetryWait = [&](int ms) {
        waits_.push_back(ms);
        deliver();
    };
    TMailFolder& box = AddBox("Work");
    box.SmtpPort = smtp.Port();
    box.AddLocal("\\", MakeLocal("late.txt", "late"), true);
    box.DeleteItem("\\", "late.txt", true);
    ASSERT_TRUE(RunUntilIdle());
    ASSERT_TRUE(smtp.WaitDone(5000)) << smtp.Error();
    deliver(); // where the delete did not wait, the mail arrives after it said done
    EXPECT_FALSE(waits_.empty());
    EXPECT_EQ(box.Files.IndexOf("\\late.txt"), -1);
    EXPECT_EQ(MailFiles(servers_->maildir1), std::vector<std::string>{}) << "the deleted file came back";
}
