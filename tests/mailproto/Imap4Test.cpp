// IMAP4 dialogue against scripted fake servers: tags, LOGIN quoting and refusal, SELECT
// refused, FETCH answers without literal, unexpected BYE, absurd literal sizes and counts,
// servers that break off mid-reply.
#include "IdIMAP4.h"
#include "IdMessage.h"
#include "support/FakeServer.h"

#include <gtest/gtest.h>

#include "ErrorOf.h"

namespace {

using Lines = std::vector<std::string>;

struct Imap : TIdIMAP4 {
  explicit Imap(uint16_t port) {
    Host = "127.0.0.1";
    Port = port;
    Username = "user1";
    Password = "secret pass";
    ConnectTimeout = 3000;
    ReadTimeout = 3000;
  }
};

const char* const kWrongState =
    "Unable to execute command, wrong connection state;Current connection state: ";
const char* const kBye =
    "Server has gracefully disconnected you, possibly because the connection was idle for too "
    "long.";

fake::FakeServer& LoggedIn(fake::FakeServer& srv) {
  return srv.SendLine("* OK [CAPABILITY IMAP4rev1] ready")
      .Reply("C1 LOGIN user1 \"secret pass\"", "C1 OK Logged in")
      .Reply("C2 CAPABILITY", "* CAPABILITY IMAP4rev1 IDLE UIDPLUS\r\nC2 OK done");
}

fake::FakeServer& Selected(fake::FakeServer& srv, int exists) {
  return LoggedIn(srv).Reply("C3 SELECT \"INBOX\"",
                             "* FLAGS (\\Answered \\Deleted \\Seen)\r\n"
                             "* OK [PERMANENTFLAGS (\\Deleted \\Seen \\*)] Flags permitted.\r\n"
                             "* " + std::to_string(exists) + " EXISTS\r\n"
                             "* 1 RECENT\r\n"
                             "* OK [UNSEEN 2] First unseen.\r\n"
                             "* OK [UIDVALIDITY 1700000000] UIDs valid\r\n"
                             "C3 OK [READ-WRITE] Select completed.");
}

// A literal: "{n}" CR LF and the bytes.
std::string Literal(const std::string& bytes) {
  return "{" + std::to_string(bytes.size()) + "}\r\n" + bytes;
}

const std::string kHeader =
    "From: \"Tavrel\" <me@b.test>\r\nSubject: =?UTF-8?Q?ExFile:\\Gr=C3=BC=C3=9Fe\\?=\r\n\r\n";

// ---------------------------------------------------------------------------
// Helpers of the command syntax
// ---------------------------------------------------------------------------

TEST(Imap4Syntax, QuoteString) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Tavrel1", "Tavrel1"},
      {"secret pass", "\"secret pass\""},
      {"", "\"\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"p(x)", "\"p(x)\""},
      {"50%", "\"50%\""},
      {"a*", "\"a*\""},
      {"{3}", "\"{3}\""},
      {"tab\there", "\"tab\there\""},
      {"gr\xC3\xBC\xC3\x9F", "\"gr\xC3\xBC\xC3\x9F\""},
      {"a]b", "a]b"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(TIdIMAP4::QuoteString(in), out) << in;
}

TEST(Imap4Syntax, MailboxNamesInModifiedUtf7) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"INBOX", "INBOX"},
      {"Tom & Jerry", "Tom &- Jerry"},
      {"Entw\xC3\xBC" "rfe", "Entw&APw-rfe"},
      {"~peter/mail/\xE5\x8F\xB0\xE5\x8C\x97/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
       "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},
      {"\xF0\x9F\x98\x80", "&2D3eAA-"},  // outside the BMP: a surrogate pair
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(TIdIMAP4::EncodeMailboxName(in), out) << in;
}

// ---------------------------------------------------------------------------
// Connect, login, select
// ---------------------------------------------------------------------------

TEST(Imap4Session, TagsQuotingAndSelectedMailbox) {
  fake::FakeServer srv;
  Selected(srv, 3).Reply("C4 LOGOUT", "* BYE Logging out\r\nC4 OK Logout completed.").Close();
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  EXPECT_EQ(imap.ConnectionState(), TIdIMAP4::csAuthenticated);
  EXPECT_EQ(imap.GreetingBanner(), "[CAPABILITY IMAP4rev1] ready");
  EXPECT_EQ(imap.Capabilities(), (Lines{"IMAP4rev1", "IDLE", "UIDPLUS"}));
  ASSERT_TRUE(imap.SelectMailbox("INBOX"));
  EXPECT_EQ(imap.ConnectionState(), TIdIMAP4::csSelected);
  EXPECT_EQ(imap.MessageCount(), 3);
  const auto& box = imap.MailBox();
  EXPECT_EQ(box.Name, "INBOX");
  EXPECT_EQ(box.RecentMsgs, 1);
  EXPECT_EQ(box.FirstUnseenMsg, 2);
  EXPECT_EQ(box.UIDValidity, 1700000000);
  EXPECT_EQ(box.Flags, (Lines{"\\Answered", "\\Deleted", "\\Seen"}));
  EXPECT_EQ(box.ChangeableFlags, (Lines{"\\Deleted", "\\Seen", "\\*"}));
  EXPECT_FALSE(box.ReadOnly);
  imap.Disconnect();
  EXPECT_FALSE(imap.IsConnected());
  EXPECT_EQ(imap.ConnectionState(), TIdIMAP4::csNonAuthenticated);
  EXPECT_TRUE(imap.Capabilities().empty());
  ASSERT_TRUE(srv.WaitDone(5000));
  EXPECT_EQ(srv.Error(), "");
}

TEST(Imap4Session, PasswordOfLettersAndDigitsIsSentAsAnAtom) {
  fake::FakeServer srv;
  srv.SendLine("* OK ready")
      .Reply("C1 LOGIN user1 Tavrel1", "C1 OK")
      .Reply("C2 CAPABILITY", "C2 OK");
  srv.Start();
  Imap imap(srv.Port());
  imap.Password = "Tavrel1";
  imap.Connect();
  EXPECT_EQ(srv.Error(), "");
}

TEST(Imap4Session, PreauthSkipsLogin) {
  fake::FakeServer srv;
  srv.SendLine("* PREAUTH welcome").Reply("C1 CAPABILITY", "* CAPABILITY IMAP4rev1\r\nC1 OK");
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  EXPECT_EQ(imap.ConnectionState(), TIdIMAP4::csAuthenticated);
  EXPECT_EQ(imap.Capabilities(), (Lines{"IMAP4rev1"}));
}

TEST(Imap4Session, CapabilitiesNamedByTheLoginAnswerAreNotAskedFor) {
  fake::FakeServer srv;
  srv.SendLine("* OK ready")
      .Reply("C1 LOGIN *", "C1 OK [CAPABILITY IMAP4rev1 SASL-IR IDLE MOVE] Logged in")
      .Reply("C2 SELECT \"INBOX\"", "* 0 EXISTS\r\nC2 OK [READ-WRITE] done");
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  EXPECT_EQ(imap.Capabilities(), (Lines{"IMAP4rev1", "SASL-IR", "IDLE", "MOVE"}));
  EXPECT_TRUE(imap.SelectMailbox("INBOX"));
  EXPECT_EQ(srv.Error(), "");
}

TEST(Imap4Session, RefusedLoginOrGreetingRaisesTheServerText) {
  struct Case {
    const char* name;
    std::function<void(fake::FakeServer&)> script;
    std::string error;
    Lines received;
  };
  const std::vector<Case> cases = {
      {"LOGIN NO",
       [](fake::FakeServer& s) {
         s.SendLine("* OK ready")
             .Reply("C1 LOGIN *", "C1 NO [AUTHENTICATIONFAILED] Authentication failed.")
             .Reply("C2 LOGOUT", "* BYE\r\nC2 OK")
             .Close();
       },
       "[AUTHENTICATIONFAILED] Authentication failed.",
       {"C1 LOGIN user1 \"secret pass\"", "C2 LOGOUT"}},
      {"LOGIN BAD",
       [](fake::FakeServer& s) {
         s.SendLine("* OK ready").Reply("C1 LOGIN *", "C1 BAD Syntax error").Reply("C2 LOGOUT", "C2 OK").Close();
       },
       "Syntax error",
       {"C1 LOGIN user1 \"secret pass\"", "C2 LOGOUT"}},
      {"greeting BYE",
       [](fake::FakeServer& s) { s.SendLine("* BYE Too many connections").Close(); },
       "Too many connections",
       {}},
      {"closed during greeting", [](fake::FakeServer& s) { s.Send("* OK [CAPA").Close(); },
       "Connection Closed Gracefully.", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::FakeServer srv;
    c.script(srv);
    srv.Start();
    Imap imap(srv.Port());
    EXPECT_EQ(ErrorOf([&] { imap.Connect(); }), c.error);
    EXPECT_FALSE(imap.IsConnected());
    EXPECT_EQ(imap.ConnectionState(), TIdIMAP4::csNonAuthenticated);
    ASSERT_TRUE(srv.WaitDone(5000));
    EXPECT_EQ(srv.Received(), c.received);
  }
}

TEST(Imap4Session, LineBreakInPasswordIsNeverSent) {
  fake::FakeServer srv;
  srv.SendLine("* OK ready").Reply("C1 LOGOUT", "* BYE\r\nC1 OK").Close();
  srv.Start();
  Imap imap(srv.Port());
  imap.Password = "x\r\nC2 DELETE INBOX";
  EXPECT_NE(ErrorOf([&] { imap.Connect(); }), "<no error>");
  EXPECT_FALSE(imap.IsConnected());
  ASSERT_TRUE(srv.WaitDone(5000));
  EXPECT_EQ(srv.Received(), (Lines{"C1 LOGOUT"}));
}

TEST(Imap4Session, SelectRefusedLeavesAuthenticatedState) {
  fake::FakeServer srv;
  LoggedIn(srv).Reply("C3 SELECT \"Missing\"", "C3 NO Mailbox doesn't exist: Missing");
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  EXPECT_FALSE(imap.SelectMailbox("Missing"));
  EXPECT_EQ(imap.ConnectionState(), TIdIMAP4::csAuthenticated);
  EXPECT_EQ(imap.LastResult().Code, "NO");
  EXPECT_EQ(imap.LastResult().Text, "Mailbox doesn't exist: Missing");
  TIdMessage msg;
  EXPECT_EQ(ErrorOf([&] { imap.FetchHeader(1, msg); }), std::string(kWrongState) + "Authenticated.");
  EXPECT_EQ(ErrorOf([&] { imap.MailboxSize(); }), std::string(kWrongState) + "Authenticated.");
}

TEST(Imap4Session, CommandsBeforeLoginRaiseTheWrongStateError) {
  Imap imap(1);
  EXPECT_EQ(ErrorOf([&] { imap.SelectMailbox("INBOX"); }),
            std::string(kWrongState) + "Non Authenticated.");
  TIdMessage msg;
  EXPECT_EQ(ErrorOf([&] { imap.FetchHeader(0, msg); }),
            "Number parameter (relative message number or UID) is invalid; Must be 1 or greater.");
  EXPECT_EQ(ErrorOf([&] { imap.Disconnect(); }), "Not Connected");
}

TEST(Imap4Session, AbsurdExistsCountIsRefused) {
  fake::FakeServer srv;
  LoggedIn(srv).Reply("C3 SELECT \"INBOX\"", "* 99999999999 EXISTS\r\nC3 OK [READ-WRITE] done");
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  EXPECT_EQ(ErrorOf([&] { imap.SelectMailbox("INBOX"); }),
            "'99999999999' is not a valid integer value");
  EXPECT_EQ(imap.ConnectionState(), TIdIMAP4::csAuthenticated);
}

// ---------------------------------------------------------------------------
// FETCH
// ---------------------------------------------------------------------------

TEST(Imap4Fetch, HeaderFromLiteral) {
  fake::FakeServer srv;
  Selected(srv, 2).Reply("C4 FETCH 2 (RFC822.HEADER)",
                         "* 2 FETCH (RFC822.HEADER " + Literal(kHeader) + ")\r\nC4 OK Fetch completed.");
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  ASSERT_TRUE(imap.SelectMailbox("INBOX"));
  TIdMessage msg;
  ASSERT_TRUE(imap.FetchHeader(2, msg));
  EXPECT_EQ(msg.Subject, "ExFile:\\Gr\xC3\xBC\xC3\x9F" "e\\");
  EXPECT_EQ(srv.Error(), "");
}

TEST(Imap4Fetch, AnswersWithoutUsableLiteralReturnFalseAndStayInStep) {
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"NIL", "* 1 FETCH (RFC822.HEADER NIL)\r\nC4 OK done"},
      {"quoted", "* 1 FETCH (RFC822.HEADER \"Subject: x\")\r\nC4 OK done"},
      {"empty literal", "* 1 FETCH (RFC822.HEADER {0}\r\n)\r\nC4 OK done"},
      {"no answer at all", "C4 OK done"},
      {"refused", "C4 BAD Invalid messageset"},
      {"answer for another message only",
       "* 2 FETCH (RFC822.HEADER " + Literal(kHeader) + ")\r\nC4 OK done"},
  };
  for (const auto& [name, reply] : cases) {
    SCOPED_TRACE(name);
    fake::FakeServer srv;
    Selected(srv, 2).Reply("C4 FETCH 1 (RFC822.HEADER)", reply).Reply(
        "C5 FETCH 1 (RFC822.HEADER)", "* 1 FETCH (RFC822.HEADER " + Literal(kHeader) + ")\r\nC5 OK");
    srv.Start();
    Imap imap(srv.Port());
    imap.Connect();
    ASSERT_TRUE(imap.SelectMailbox("INBOX"));
    TIdMessage msg;
    EXPECT_FALSE(imap.FetchHeader(1, msg));
    EXPECT_TRUE(imap.FetchHeader(1, msg));  // the next command still reads its own answer
    EXPECT_EQ(msg.Subject, "ExFile:\\Gr\xC3\xBC\xC3\x9F" "e\\");
  }
}

TEST(Imap4Fetch, UnsolicitedLinesAndLiteralsBeforeTheAnswerAreSkipped) {
  fake::FakeServer srv;
  Selected(srv, 2).Reply("C4 FETCH 1 (RFC822.HEADER)",
                         "* 1 FETCH (FLAGS (\\Seen))\r\n"
                         "* 2 FETCH (BODY[] " + Literal("C4 OK fake\r\n* 1 FETCH (RFC822.HEADER {3}\r\n") +
                             ")\r\n"
                             "* 3 EXISTS\r\n"
                             "* 1 FETCH (RFC822.HEADER " + Literal(kHeader) + ")\r\nC4 OK done");
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  ASSERT_TRUE(imap.SelectMailbox("INBOX"));
  TIdMessage msg;
  ASSERT_TRUE(imap.FetchHeader(1, msg));
  EXPECT_EQ(msg.Subject, "ExFile:\\Gr\xC3\xBC\xC3\x9F" "e\\");
  EXPECT_EQ(imap.MessageCount(), 3);  // the new EXISTS count is kept
}

TEST(Imap4Fetch, MessageWithAttachmentUidFlagsAndProgress) {
  const std::string mail =
      "From: \"Tavrel\" <me@b.test>\r\n"
      "Subject: ExFile:\\a.txt<1/1>\r\n"
      "Content-Type: multipart/mixed; boundary=\"XyZ=_1\"\r\n"
      "MIME-Version: 1.0\r\n\r\n"
      "--XyZ=_1\r\n"
      "Content-Type: Stream;\r\n        name=\"a.txt\"\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment;\r\n        filename=\"a.txt\"\r\n\r\n"
      "aGVsbG8ud29ybGQK\r\n\r\n"
      "--XyZ=_1--\r\n";
  fake::FakeServer srv;
  Selected(srv, 1).Reply("C4 FETCH 1 (RFC822)",
                         "* 1 FETCH (UID 42 RFC822 " + Literal(mail) + " FLAGS (\\Seen \\Recent))\r\nC4 OK");
  srv.Start();
  Imap imap(srv.Port());
  std::vector<int64_t> progress;
  imap.OnWorkForPart = [&](TIdTCPConnection&, TWorkMode mode, int64_t count) {
    EXPECT_EQ(mode, wmRead);
    progress.push_back(count);
  };
  imap.Connect();
  ASSERT_TRUE(imap.SelectMailbox("INBOX"));
  EXPECT_TRUE(progress.empty());  // only the message text reports here
  TIdMessage msg;
  ASSERT_TRUE(imap.FetchMessage(1, msg));
  EXPECT_EQ(msg.Subject, "ExFile:\\a.txt<1/1>");
  ASSERT_NE(msg.FirstAttachment(), nullptr);
  EXPECT_EQ(msg.FirstAttachment()->ReadAll(), "hello.world\n");
  EXPECT_EQ(msg.UID, "42");
  EXPECT_EQ(msg.Flags, (Lines{"\\Seen", "\\Recent"}));
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), static_cast<int64_t>(mail.size()));
}

TEST(Imap4Fetch, AbsurdLiteralSizesGiveACleanError) {
  struct Case {
    const char* name;
    std::string reply;
    bool whole;
  };
  const std::vector<Case> cases = {
      {"header over its bound", "* 1 FETCH (RFC822.HEADER {16777217}", false},
      {"message over its bound", "* 1 FETCH (RFC822 {99999999999999}", true},
      {"more digits than any number", "* 1 FETCH (RFC822 {123456789012345678901234567890}", true},
      {"skipped literal over its bound", "* 7 FETCH (BODY[] {99999999999999}", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::FakeServer srv;
    Selected(srv, 1).Expect("C4 FETCH *").SendLine(c.reply);
    srv.Start();
    Imap imap(srv.Port());
    imap.Connect();
    ASSERT_TRUE(imap.SelectMailbox("INBOX"));
    TIdMessage msg;
    std::string err = ErrorOf([&] { c.whole ? imap.FetchMessage(1, msg) : imap.FetchHeader(1, msg); });
    EXPECT_NE(err.find("The server announced a literal of"), std::string::npos) << err;
    EXPECT_FALSE(imap.IsConnected());
  }
}

TEST(Imap4Fetch, ServerBreakingOffMidReplyGivesACleanError) {
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"inside the literal", "* 1 FETCH (RFC822 {5000}\r\nSubject: x\r\n\r\nabc"},
      {"after the literal", "* 1 FETCH (RFC822 " + Literal("Subject: x\r\n\r\nbody\r\n")},
      {"before the tagged line", "* 1 FETCH (RFC822 " + Literal("Subject: x\r\n\r\n") + ")\r\n"},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    fake::FakeServer srv;
    Selected(srv, 1).Expect("C4 FETCH 1 (RFC822)").Send(bytes).Close();
    srv.Start();
    Imap imap(srv.Port());
    imap.Connect();
    ASSERT_TRUE(imap.SelectMailbox("INBOX"));
    TIdMessage msg;
    EXPECT_EQ(ErrorOf([&] { imap.FetchMessage(1, msg); }), "Connection Closed Gracefully.");
    EXPECT_FALSE(imap.IsConnected());
  }
}

TEST(Imap4Fetch, UnexpectedByeRaisesAndDisconnects) {
  const std::vector<std::pair<const char*, std::function<void(fake::FakeServer&)>>> cases = {
      {"in the answer",
       [](fake::FakeServer& s) {
         s.Reply("C4 FETCH 1 (RFC822.HEADER)", "* BYE Disconnected for inactivity.").Close();
       }},
      {"while idle, before the next command",
       [](fake::FakeServer& s) { s.SendLine("* BYE Disconnected for inactivity."); }},
  };
  for (const auto& [name, script] : cases) {
    SCOPED_TRACE(name);
    fake::FakeServer srv;
    script(Selected(srv, 1));
    srv.Start();
    Imap imap(srv.Port());
    imap.Connect();
    ASSERT_TRUE(imap.SelectMailbox("INBOX"));
    TIdMessage msg;
    EXPECT_EQ(ErrorOf([&] { imap.FetchHeader(1, msg); }), kBye);
    EXPECT_EQ(imap.ConnectionState(), TIdIMAP4::csUnexpectedlyDisconnected);
    EXPECT_FALSE(imap.IsConnected());
    EXPECT_EQ(ErrorOf([&] { imap.FetchHeader(1, msg); }), std::string(kWrongState) + ".");
  }
}

// ---------------------------------------------------------------------------
// Size, delete, expunge, logout
// ---------------------------------------------------------------------------

TEST(Imap4Mailbox, MailboxSize) {
  const std::vector<std::tuple<const char*, int, std::string, int64_t>> cases = {
      {"sum", 2, "* 1 FETCH (RFC822.SIZE 120)\r\n* 2 FETCH (RFC822.SIZE 3000)\r\nC4 OK", 3120},
      {"beyond 32 bits", 2,
       "* 1 FETCH (RFC822.SIZE 4294967296)\r\n* 2 FETCH (UID 9 RFC822.SIZE 1)\r\nC4 OK", 4294967297},
      {"not a FETCH answer", 2, "* 1 FETCH (RFC822.SIZE 120)\r\n* 1 EXPUNGE\r\nC4 OK", -1},
      {"size missing", 1, "* 1 FETCH (RFC822.SIZE abc)\r\nC4 OK", -1},
      {"fewer answers than messages", 2, "* 1 FETCH (RFC822.SIZE 120)\r\nC4 OK", -1},
      {"refused", 2, "C4 BAD Invalid messageset", -1},
  };
  for (const auto& [name, exists, reply, size] : cases) {
    SCOPED_TRACE(name);
    fake::FakeServer srv;
    Selected(srv, exists).Reply("C4 FETCH 1:* (UID RFC822.SIZE)", reply);
    srv.Start();
    Imap imap(srv.Port());
    imap.Connect();
    ASSERT_TRUE(imap.SelectMailbox("INBOX"));
    EXPECT_EQ(imap.MailboxSize(), size);
  }
}

TEST(Imap4Mailbox, DeleteFlagsAndExpunge) {
  fake::FakeServer srv;
  Selected(srv, 3)
      .Reply("C4 STORE 3,1 +FLAGS.SILENT (\\Deleted)", "C4 OK Store completed.")
      .Reply("C5 STORE 2 +FLAGS.SILENT (\\Deleted)", "C5 NO [READ-ONLY] Mailbox is read-only.")
      .Reply("C6 EXPUNGE", "* 3 EXPUNGE\r\n* 1 EXPUNGE\r\nC6 OK Expunge completed.");
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  ASSERT_TRUE(imap.SelectMailbox("INBOX"));
  EXPECT_FALSE(imap.DeleteMessages({}));
  EXPECT_EQ(ErrorOf([&] { imap.DeleteMessages({2, 0}); }),
            "Number parameter (relative message number or UID) is invalid; Must be 1 or greater.");
  EXPECT_TRUE(imap.DeleteMessages({3, 1}));
  EXPECT_FALSE(imap.DeleteMessages({2}));
  EXPECT_TRUE(imap.ExpungeMailbox());
  EXPECT_EQ(imap.MessageCount(), 1);
  EXPECT_EQ(srv.Error(), "");
}

TEST(Imap4Mailbox, LogoutAnsweredByByeAndCloseOnly) {
  fake::FakeServer srv;
  LoggedIn(srv).Reply("C3 LOGOUT", "* BYE Logging out").Close();
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  EXPECT_EQ(ErrorOf([&] { imap.Disconnect(); }), "<no error>");
  EXPECT_FALSE(imap.IsConnected());
}

TEST(Imap4Mailbox, LogoutFailingStillCloses) {
  fake::FakeServer srv;
  LoggedIn(srv).Expect("C3 LOGOUT").Close();
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  EXPECT_EQ(ErrorOf([&] { imap.Disconnect(); }), "Connection Closed Gracefully.");
  EXPECT_FALSE(imap.IsConnected());
}

}  // namespace

// ---------------------------------------------------------------------------
// Subjects in ranges, UID listing
// ---------------------------------------------------------------------------

namespace {

std::string HeaderWith(const std::string& subject) {
  return "From: a@b.test\r\nSubject: " + subject + "\r\n\r\n";
}

// Outcomes as "n:subject/uid" (read), "n-" (not read), "n!error".
Lines SubjectOutcomes(TIdIMAP4& imap, const std::vector<int>& numbers) {
  Lines out;
  TIdMessage msg;
  imap.FetchSubjects(numbers, msg, [&](int n, TIdSubjectResult& r) {
    std::string s = std::to_string(n);
    if (r.State == TIdSubjectResult::srRead) s += ":" + r.Subject + "/" + r.Uid;
    else if (r.State == TIdSubjectResult::srNotRead) s += "-";
    else s += "!" + r.Error;
    out.push_back(s);
  });
  return out;
}

}  // namespace

TEST(Imap4Batch, RangeAnswersAreMatchedByNumber) {
  fake::FakeServer srv;
  Selected(srv, 5)
      .Expect("C4 FETCH 1:4 (UID BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
      .Send("* 2 FETCH (UID 12 BODY[HEADER.FIELDS (SUBJECT)] " + Literal(HeaderWith("two")) + ")\r\n"
            "* 1 FETCH (FLAGS (\\Seen))\r\n"  // a flag update, no header
            "* 1 FETCH (BODY[HEADER.FIELDS (\"Subject\")] " + Literal(HeaderWith("one")) + " UID 11)\r\n"
            "* 9 FETCH (UID 19 BODY[HEADER.FIELDS (SUBJECT)] " + Literal(HeaderWith("nine")) + ")\r\n"
            "* 2 FETCH (UID 12 BODY[HEADER.FIELDS (SUBJECT)] " + Literal(HeaderWith("again")) + ")\r\n"
            "* 3 FETCH (UID 13 BODY[HEADER.FIELDS (SUBJECT)] NIL)\r\n"
            "C4 OK Fetch completed.\r\n")
      .Expect("C5 FETCH 5 (UID BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
      .SendLine("* 5 FETCH (UID 15 BODY[HEADER.FIELDS (SUBJECT)] " + Literal(HeaderWith("five")) + ")\r\nC5 OK");
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  ASSERT_TRUE(imap.SelectMailbox("INBOX"));
  // Message 4 gets no answer (unknown, not empty), 3 an empty one, 9 was not asked for, 2
  // counts once.
  EXPECT_EQ(SubjectOutcomes(imap, {4, 3, 2, 1}),
            (Lines{"4!The server sent no header for message 4.", "3-", "2:two/12", "1:one/11"}));
  EXPECT_EQ(SubjectOutcomes(imap, {5}), (Lines{"5:five/15"}));
  EXPECT_EQ(srv.Error(), "");
}

TEST(Imap4Batch, DataLongerThanItsLiteralEndsTheSession) {
  // Bytes added to a header on the way keep the announced size: the literal then ends
  // early, and what follows it is no FETCH item. The subject read would be wrong, and so
  // would every answer after it: the session ends with an error instead.
  const std::string header = HeaderWith("ExFile:\\a.bin<1/1>|Size:1|Hash:1|Attri:0|Time:1;2");
  const std::string grown = header.substr(0, 20) + "GARBAGE" + header.substr(20);
  fake::FakeServer srv;
  Selected(srv, 1)
      .Expect("C4 FETCH 1 (UID BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
      .Send("* 1 FETCH (UID 11 BODY[HEADER.FIELDS (SUBJECT)] {" + std::to_string(header.size()) + "}\r\n" + grown +
            ")\r\nC4 OK Fetch completed.\r\n");
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  ASSERT_TRUE(imap.SelectMailbox("INBOX"));
  EXPECT_EQ(ErrorOf([&] { SubjectOutcomes(imap, {1}); }),
            "The server's answer did not have the size it announced.");
  EXPECT_FALSE(imap.IsConnected());
}

TEST(Imap4Batch, DataLongerThanItsLiteralIsSeenAlsoWhenABlankFollows) {
  // The literal ends early just before a blank of the header: what follows starts like the
  // next item but the line does not end as a FETCH answer does.
  const std::string header = HeaderWith("ExFile:\\a.bin<1/1>|Size:1|Hash:1|Attri:0|Time:1;2");
  const size_t blank = header.find(' ');
  const std::string grown = "XY" + header;  // the literal now ends two bytes before the blank
  ASSERT_EQ(grown[blank + 2], ' ');
  fake::FakeServer srv;
  Selected(srv, 1)
      .Expect("C4 FETCH 1 (UID BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
      .Send("* 1 FETCH (UID 11 BODY[HEADER.FIELDS (SUBJECT)] {" + std::to_string(blank + 2) + "}\r\n" + grown +
            ")\r\nC4 OK Fetch completed.\r\n");
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  ASSERT_TRUE(imap.SelectMailbox("INBOX"));
  EXPECT_EQ(ErrorOf([&] { SubjectOutcomes(imap, {1}); }),
            "The server's answer did not have the size it announced.");
}

TEST(Imap4Batch, RefusedRangeIsFetchedOneAtATime) {
  fake::FakeServer srv;
  Selected(srv, 3)
      .Reply("C4 FETCH 1:3 (UID BODY.PEEK[HEADER.FIELDS (SUBJECT)])", "C4 BAD Error in IMAP command")
      .Reply("C5 FETCH 3 (RFC822.HEADER)",
             "* 3 FETCH (RFC822.HEADER " + Literal(HeaderWith("three")) + ")\r\nC5 OK")
      .Reply("C6 FETCH 2 (RFC822.HEADER)", "C6 NO Message is gone")
      .Reply("C7 FETCH 1 (RFC822.HEADER)",
             "* 1 FETCH (RFC822.HEADER " + Literal(HeaderWith("one")) + ")\r\nC7 OK");
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  ASSERT_TRUE(imap.SelectMailbox("INBOX"));
  // A header the server refuses is unknown (an error), not a mail without a header.
  EXPECT_EQ(SubjectOutcomes(imap, {3, 2, 1}),
            (Lines{"3:three/", "2!The server refused the header of message 2: NO Message is gone",
                   "1:one/"}));
  EXPECT_EQ(srv.Error(), "");
}

TEST(Imap4Batch, SubjectCommandsAreBoundedByTheirLength) {
  // Consecutive numbers make one range however many they are; scattered ones are split so
  // that no command's set is longer than kMaxSetLength.
  std::vector<int> many, scattered;
  for (int n = 2500; n >= 1; --n) many.push_back(n);
  for (int n = 1; n < 6000; n += 2) scattered.push_back(n);
  auto setOf = [](int from, int to) {
    std::string s;
    for (int n = from; n <= to; n += 2) s += (s.empty() ? "" : ",") + std::to_string(n);
    return s;
  };
  const std::string first = setOf(1, 2999), second = setOf(3001, 5999);
  ASSERT_GT(first.size() + second.size(), TIdIMAP4::kMaxSetLength);
  ASSERT_LE(first.size(), TIdIMAP4::kMaxSetLength);
  ASSERT_LE(second.size(), TIdIMAP4::kMaxSetLength);
  const std::string item = " (UID BODY.PEEK[HEADER.FIELDS (SUBJECT)])";
  fake::FakeServer srv;
  Selected(srv, 6000)
      .Reply("C4 FETCH 1:2500" + item, "* 2500 FETCH (UID 99 BODY[HEADER.FIELDS (SUBJECT)] " +
                                           Literal(HeaderWith("last")) + ")\r\nC4 OK")
      .Reply("C5 FETCH " + first + item, "C5 OK")
      .Reply("C6 FETCH " + second + item, "* 5999 FETCH (UID 5 BODY[HEADER.FIELDS (SUBJECT)] " +
                                              Literal(HeaderWith("odd")) + ")\r\nC6 OK");
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  ASSERT_TRUE(imap.SelectMailbox("INBOX"));
  const Lines a = SubjectOutcomes(imap, many);
  ASSERT_EQ(a.size(), many.size());
  EXPECT_EQ(a.front(), "2500:last/99");
  const Lines b = SubjectOutcomes(imap, scattered);
  ASSERT_EQ(b.size(), scattered.size());
  EXPECT_EQ(b.front(), "1!The server sent no header for message 1.");
  EXPECT_EQ(b.back(), "5999:odd/5");
  EXPECT_EQ(srv.Error(), "");
}

TEST(Imap4Batch, SelectAndSizeGoOutTogether) {
  struct Case {
    const char* name;
    std::string select, size;  // the answers, sent once both commands came
    bool selected;
    int64_t bytes;
    Lines uids;                // FetchUids right after, without a command
    std::string error = "<no error>";
  };
  const std::vector<Case> cases = {
      {"sizes", "* 2 EXISTS\r\n* OK [UIDVALIDITY 5] ok\r\nC3 OK [READ-WRITE] done",
       "* 1 FETCH (UID 4 RFC822.SIZE 10)\r\n* 2 FETCH (UID 6 RFC822.SIZE 32)\r\nC4 OK", true, 42, {"4", "6"}},
      {"empty mailbox", "* 0 EXISTS\r\nC3 OK [READ-WRITE] done", "C4 BAD Invalid messageset", true, 0, {}},
      {"refused", "C3 NO Mailbox does not exist", "C4 BAD No mailbox selected", false, -1, {}},
      {"mail arrived meanwhile", "* 1 EXISTS\r\nC3 OK [READ-WRITE] done",
       "* 1 FETCH (UID 4 RFC822.SIZE 10)\r\n* 2 EXISTS\r\n* 2 FETCH (UID 6 RFC822.SIZE 32)\r\nC4 OK",
       true, 10, {"4"}},
      // An EXISTS line damaged on the way: the count would leave mails out of every scan.
      {"count lost", "* OK [UIDVALIDITY 5] ok\r\nC3 OK [READ-WRITE] done",
       "* 1 FETCH (UID 4 RFC822.SIZE 10)\r\nC4 OK", true, -1, {},
       "The server listed more messages than it announced."},
      {"count too low", "* 1 EXISTS\r\nC3 OK [READ-WRITE] done",
       "* 1 FETCH (UID 4 RFC822.SIZE 10)\r\n* 2 FETCH (UID 6 RFC822.SIZE 32)\r\nC4 OK", true, -1, {},
       "The server listed more messages than it announced."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::FakeServer srv;
    LoggedIn(srv)
        .Expect("C3 SELECT \"INBOX\"")
        .Expect("C4 FETCH 1:* (UID RFC822.SIZE)")
        .Send(c.select + "\r\n" + c.size + "\r\n")
        .Reply("C5 LOGOUT", "* BYE bye\r\nC5 OK");  // in step with the server
    srv.Start();
    Imap imap(srv.Port());
    imap.Connect();
    int64_t bytes = 7;
    EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(imap.SelectMailboxAndSize("INBOX", bytes), c.selected); }), c.error)
        << srv.Error();
    EXPECT_EQ(bytes, c.bytes);
    EXPECT_EQ(imap.ConnectionState(), c.selected ? TIdIMAP4::csSelected : TIdIMAP4::csAuthenticated);
    if (!c.uids.empty()) {
      std::vector<std::string> uids;
      EXPECT_TRUE(imap.FetchUids(static_cast<int>(c.uids.size()), uids));
      EXPECT_EQ(uids, c.uids);
    }
    imap.Disconnect();
    ASSERT_TRUE(srv.WaitDone(3000));
    EXPECT_EQ(srv.Error(), "");
  }
}

// Outcomes of FetchSubjects with the next list written ahead.
Lines SubjectOutcomesAhead(TIdIMAP4& imap, const std::vector<int>& numbers, const std::vector<int>& next) {
  Lines out;
  TIdMessage msg;
  imap.FetchSubjects(
      numbers, msg,
      [&](int n, TIdSubjectResult& r) {
        out.push_back(std::to_string(n) + (r.State == TIdSubjectResult::srRead ? ":" + r.Subject + "/" + r.Uid
                                                                               : "!" + r.Error));
      },
      next);
  return out;
}

TEST(Imap4Batch, TheNextListIsAskedForAhead) {
  const std::string item = " (UID BODY.PEEK[HEADER.FIELDS (SUBJECT)])";
  auto answer = [](int n, const std::string& subject) {
    return "* " + std::to_string(n) + " FETCH (UID 1" + std::to_string(n) +
           " BODY[HEADER.FIELDS (SUBJECT)] " + Literal(HeaderWith(subject)) + ")\r\n";
  };
  fake::FakeServer srv;
  // Both commands arrive before any answer (a client that waited would wait for ever);
  // the server runs them at once: the second one's answers, and its end, come early.
  Selected(srv, 6)
      .Expect("C4 FETCH 4:6" + item)
      .Expect("C5 FETCH 1:3" + item)
      .Send(answer(6, "six") + answer(3, "three") + answer(5, "five") + answer(2, "two") + answer(1, "one") +
            "C5 OK done\r\n" + answer(4, "four") + "C4 OK done\r\n")
      // Asked ahead, then not asked for: its answers are read and dropped before the next
      // command goes out.
      .Expect("C6 FETCH 2" + item)
      .Expect("C7 FETCH 1" + item)
      .Send(answer(2, "two") + "C6 OK\r\n" + answer(1, "one") + "* 1 FETCH (UID 11 RFC822.SIZE 5)\r\nC7 OK\r\n")
      .Reply("C8 FETCH 1:* (UID RFC822.SIZE)",
             "* 1 FETCH (UID 11 RFC822.SIZE 1)\r\n* 2 FETCH (UID 12 RFC822.SIZE 2)\r\n"
             "* 3 FETCH (UID 13 RFC822.SIZE 3)\r\n* 4 FETCH (UID 14 RFC822.SIZE 4)\r\n"
             "* 5 FETCH (UID 15 RFC822.SIZE 5)\r\n* 6 FETCH (UID 16 RFC822.SIZE 6)\r\nC8 OK");
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  ASSERT_TRUE(imap.SelectMailbox("INBOX"));
  EXPECT_EQ(SubjectOutcomesAhead(imap, {6, 5, 4}, {3, 2, 1}), (Lines{"6:six/16", "5:five/15", "4:four/14"}));
  EXPECT_EQ(SubjectOutcomesAhead(imap, {3, 2, 1}, {}), (Lines{"3:three/13", "2:two/12", "1:one/11"}));
  EXPECT_EQ(SubjectOutcomesAhead(imap, {2}, {1}), (Lines{"2:two/12"}));
  EXPECT_EQ(imap.MailboxSize(), 21);
  EXPECT_EQ(srv.Error(), "");
}

TEST(Imap4Batch, BrokenConnectionWithTheNextListOnItsWayIsAnError) {
  fake::FakeServer srv;
  Selected(srv, 2)
      .Expect("C4 FETCH 2 (UID BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
      .Expect("C5 FETCH 1 (UID BODY.PEEK[HEADER.FIELDS (SUBJECT)])")
      .Send("* 2 FETCH (UID 12 BODY[HEADER.FIELDS (SUBJECT)] {30}\r\nSubject: x")
      .Close();
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  ASSERT_TRUE(imap.SelectMailbox("INBOX"));
  EXPECT_EQ(ErrorOf([&] { SubjectOutcomesAhead(imap, {2}, {1}); }), "Connection Closed Gracefully.");
  EXPECT_FALSE(imap.IsConnected());
}

TEST(Imap4Batch, UidsComeWithTheMailboxSize) {
  struct Case {
    const char* name;
    std::string sizes;     // the answer to FETCH 1:* (UID RFC822.SIZE)
    std::string between;   // a command after it, "" for none
    int count;             // FetchUids(count)
    std::string uidFetch;  // the FETCH of the UIDs sent then, "" for none
    Lines uids;
  };
  const std::string three =
      "* 1 FETCH (UID 7 RFC822.SIZE 10)\r\n* 2 FETCH (RFC822.SIZE 20 UID 8)\r\n"
      "* 3 FETCH (UID 12 RFC822.SIZE 30)\r\nC4 OK";
  const std::vector<Case> cases = {
      {"right after it", three, "", 3, "", {"7", "8", "12"}},
      {"another command came between", three, "C5 EXPUNGE", 3, "C6 FETCH 1:3 (UID)", {"7", "9", "12"}},
      {"a UID missing", "* 1 FETCH (UID 7 RFC822.SIZE 10)\r\n* 2 FETCH (RFC822.SIZE 20)\r\n"
                        "* 3 FETCH (UID 12 RFC822.SIZE 30)\r\nC4 OK",
       "", 3, "C5 FETCH 1:3 (UID)", {"7", "9", "12"}},
      {"another count", three, "", 2, "C5 FETCH 1:2 (UID)", {"7", "9"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::FakeServer srv;
    Selected(srv, 3).Reply("C4 FETCH 1:* (UID RFC822.SIZE)", c.sizes);
    if (!c.between.empty()) srv.Reply(c.between, c.between.substr(0, 3) + "OK");
    if (!c.uidFetch.empty()) {
      std::string reply;
      for (int n = 1; n <= c.count; ++n)
        reply += "* " + std::to_string(n) + " FETCH (UID " + c.uids[static_cast<size_t>(n - 1)] + ")\r\n";
      srv.Reply(c.uidFetch, reply + c.uidFetch.substr(0, 3) + "OK");
    }
    srv.Start();
    Imap imap(srv.Port());
    imap.Connect();
    ASSERT_TRUE(imap.SelectMailbox("INBOX"));
    EXPECT_EQ(imap.MailboxSize(), 60);
    if (!c.between.empty()) {
      EXPECT_TRUE(imap.ExpungeMailbox());
    }
    std::vector<std::string> uids;
    EXPECT_TRUE(imap.FetchUids(c.count, uids));
    EXPECT_EQ(uids, c.uids);
    imap.CloseConnection();
    ASSERT_TRUE(srv.WaitDone(3000));
    EXPECT_EQ(srv.Error(), "");
    const Lines got = srv.Received();
    EXPECT_EQ(got.back(), c.uidFetch.empty() ? "C4 FETCH 1:* (UID RFC822.SIZE)" : c.uidFetch);
  }
}

TEST(Imap4Batch, UidListing) {
  fake::FakeServer srv;
  Selected(srv, 3)
      .Reply("C4 FETCH 1:3 (UID)",
             "* 1 FETCH (UID 7)\r\n* 3 FETCH (FLAGS (\\Seen) UID 9)\r\n* 5 FETCH (UID 2)\r\n"
             "* 2 FETCH (UID x)\r\nC4 OK")
      .Reply("C5 FETCH 1:3 (UID)", "C5 NO not now");
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  ASSERT_TRUE(imap.SelectMailbox("INBOX"));
  std::vector<std::string> uids;
  EXPECT_TRUE(imap.FetchUids(3, uids));
  EXPECT_EQ(uids, (Lines{"7", "", "9"}));
  EXPECT_FALSE(imap.FetchUids(3, uids));
  EXPECT_EQ(uids, (Lines{"", "", ""}));
  EXPECT_EQ(srv.Error(), "");
}

namespace {

std::string MailWith(const std::string& subject) {
  return "From: a@b.test\r\nSubject: " + subject + "\r\n\r\nbody of " + subject + "\r\n";
}

// Outcomes of a pipelined fetch as "n:subject" (fetched) or "n-" (not fetched).
Lines MessageOutcomes(TIdIMAP4& imap, const std::vector<int>& numbers, std::size_t stopAfter = 0) {
  Lines out;
  TIdMessage msg;
  imap.FetchMessages(numbers, msg, [&](int n, bool fetched) {
    out.push_back(std::to_string(n) + (fetched ? ":" + msg.Subject : "-"));
    return stopAfter == 0 || out.size() < stopAfter;
  });
  return out;
}

}  // namespace

TEST(Imap4Batch, PipelinedMessagesAreHandedOnInTheOrderAskedForWhateverTheAnswerOrder) {
  // All data first, then the completions (as Dovecot answers a pipelined window), and
  // some of it not in the order asked for: what comes early is asked for again.
  fake::FakeServer srv;
  Selected(srv, 4)
      .Expect("C4 FETCH 3 (RFC822)").Expect("C5 FETCH 1 (RFC822)")
      .Expect("C6 FETCH 2 (RFC822)").Expect("C7 FETCH 4 (RFC822)")
      .Send("* 1 FETCH (RFC822 " + Literal(MailWith("early one")) + ")\r\n"
            "* 3 FETCH (FLAGS (\\Seen) RFC822 " + Literal(MailWith("three")) + ")\r\n"
            "* 2 FETCH (RFC822 " + Literal(MailWith("early two")) + ")\r\n"
            "C4 OK\r\nC5 OK\r\nC6 OK\r\nC7 NO Message is gone\r\n")
      // A server that answered out of order gets the rest one message at a time.
      .Reply("C8 FETCH 1 (RFC822)", "* 1 FETCH (RFC822 " + Literal(MailWith("one")) + ")\r\nC8 OK")
      .Reply("C9 FETCH 2 (RFC822)", "* 2 FETCH (RFC822 {0}\r\n)\r\nC9 OK")
      .Reply("C10 FETCH 4 (RFC822)", "C10 NO Message is gone")
      .Reply("C11 FETCH 2 (RFC822)", "* 2 FETCH (RFC822 " + Literal(MailWith("two")) + ")\r\nC11 OK");
  srv.Start();
  Imap imap(srv.Port());
  imap.Connect();
  ASSERT_TRUE(imap.SelectMailbox("INBOX"));
  // An empty literal, as FetchMessage, is not fetched; a window of one is a plain fetch.
  EXPECT_EQ(MessageOutcomes(imap, {3, 1, 2, 4}), (Lines{"3:three", "1:one", "2-", "4-"}));
  EXPECT_EQ(MessageOutcomes(imap, {2}), (Lines{"2:two"}));
  EXPECT_EQ(srv.Error(), "");
  EXPECT_EQ(imap.ConnectionState(), TIdIMAP4::csSelected);
}

TEST(Imap4Batch, StoppingOrARefusalAfterTheDataDropsTheConnection) {
  {
    fake::FakeServer srv;
    Selected(srv, 2)
        .Expect("C4 FETCH 1 (RFC822)").Expect("C5 FETCH 2 (RFC822)")
        .Send("* 1 FETCH (RFC822 " + Literal(MailWith("one")) + ")\r\nC4 OK\r\n");
    srv.Start();
    Imap imap(srv.Port());
    imap.Connect();
    ASSERT_TRUE(imap.SelectMailbox("INBOX"));
    EXPECT_EQ(MessageOutcomes(imap, {1, 2}, 1), (Lines{"1:one"}));
    EXPECT_FALSE(imap.Connected()); // the answer to C6 is still on its way
  }
  {
    fake::FakeServer srv;
    Selected(srv, 2)
        .Expect("C4 FETCH 1 (RFC822)").Expect("C5 FETCH 2 (RFC822)")
        .Send("* 1 FETCH (RFC822 " + Literal(MailWith("one")) + ")\r\nC4 NO Try later\r\n");
    srv.Start();
    Imap imap(srv.Port());
    imap.Connect();
    ASSERT_TRUE(imap.SelectMailbox("INBOX"));
    EXPECT_EQ(ErrorOf([&] { MessageOutcomes(imap, {1, 2}); }),
              "The server refused message 1 after sending it: Try later");
    EXPECT_FALSE(imap.Connected());
  }
}
