// What a download keeps when the server's answers do not add up to the stored file.
#include "EngineFixture.h"
#include "FakeServer.h"
#include "FileUtil.h"
#include "MailCompose.h"
#include "StoredMail.h"
#include "TcpGate.h"

namespace {
std::string Literal(const std::string& bytes) {
    return "{" + std::to_string(bytes.size()) + "}\r\n" + bytes;
}
} // namespace

TEST_F(EngineTest, APartMailTheServerRefusesAfterSendingItAddsNothing) {
    // An IMAP4 server that sends the part's mail in full and then answers the FETCH with
    // NO: as with any fetch that did not succeed, the part counts as missing, and the
    // stored file must not appear in the cache even though the bytes would check out.
    const std::string content = "stored bytes";
    const uint32_t hash = ChecksumUpdate(0, content.data(), content.size());
    const std::string subject = PartSubject("\\f.txt", 1, 1, static_cast<uint32_t>(content.size()),
                                            hash, 32, "46000", "46000");
    TIdMessage mail;
    AddressToSelf(mail, "user1@tavrel.test");
    mail.Subject = subject;
    SetFilePart(mail, mail.AddAttachmentMemory(content), static_cast<uint32_t>(content.size()),
                "\\f.txt");
    const std::string text = mail.SaveToString();

    fake::FakeServer srv;
    srv.SendLine("* OK ready")
        .Reply("C1 LOGIN *", "C1 OK Logged in")
        .Reply("C2 CAPABILITY", "* CAPABILITY IMAP4rev1\r\nC2 OK")
        .Reply("C3 SELECT \"INBOX\"", "* 1 EXISTS\r\n* OK [UIDVALIDITY 7] ok\r\nC3 OK [READ-WRITE] ok")
        .Reply("C4 FETCH 1:1 (UID)", "* 1 FETCH (UID 9)\r\nC4 OK")
        .Expect("C5 FETCH 1 (UID BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
        .SendLine("* 1 FETCH (UID 9 BODY[HEADER.FIELDS (SUBJECT)] " + Literal("Subject: " + subject + "\r\n\r\n") +
                  ")\r\nC5 OK")
        .Reply("C6 FETCH 1 (RFC822)", "* 1 FETCH (RFC822 " + Literal(text) + ")\r\nC6 NO refused")
        .Reply("C7 LOGOUT", "* BYE bye\r\nC7 OK")
        .Close();
    srv.Start();
    // Later attempts find the server gone at once.
    TcpGate gate([&](int n) -> uint16_t { return n == 1 ? srv.Port() : 0; });
    config_.ImapPort = gate.Port();
    TMailFolder& box = AddBox("Work", {.imap = true});
    ASSERT_TRUE(box.Files.AddSubject(subject));
    prompt_.defaultAnswer = id::Cancel; // and no new password is typed
    box.DownloadItem("\\", "f.txt", -1);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_TRUE(srv.WaitDone(5000));
    EXPECT_EQ(srv.Error(), "");
    EXPECT_FALSE(box.IsLocal("\\f.txt"));
    EXPECT_FALSE(std::filesystem::exists(box.CachePathOf("\\f.txt")));
}
