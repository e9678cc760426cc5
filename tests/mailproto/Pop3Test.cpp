// POP3 dialogue against scripted fake servers: what a real server will not say (CAPA
// refused, greetings without a timestamp, stuffed dots, odd STAT and LIST answers,
// refusals, broken connections).
#include "IdMessage.h"
#include "IdPOP3.h"
#include "support/FakeServer.h"

#include <gtest/gtest.h>

#include "ErrorOf.h"

namespace {

using Lines = std::vector<std::string>;

struct Pop3 : TIdPOP3 {
  explicit Pop3(uint16_t port) {
    Host = "127.0.0.1";
    Port = port;
    Username = "user1";
    Password = "secret pass";
    ConnectTimeout = 3000;
    ReadTimeout = 3000;
  }
};

// Greeting, CAPA refused, USER and PASS accepted.
fake::FakeServer& LoggedIn(fake::FakeServer& srv, const std::string& greeting = "+OK ready") {
  return srv.SendLine(greeting)
      .Reply("CAPA", "-ERR unknown command")
      .Reply("USER user1", "+OK")
      .Reply("PASS secret pass", "+OK logged in");
}

std::string Joined(const Lines& lines) {
  std::string s;
  for (const auto& l : lines) s += l + "\r\n";
  return s;
}

// ---------------------------------------------------------------------------
// Connect and login
// ---------------------------------------------------------------------------

TEST(Pop3Session, GreetingWithoutBracketsAndCapaRefusedStillLogsIn) {
  fake::FakeServer srv;
  LoggedIn(srv, "+OK POP3 server ready").Reply("STAT", "+OK 0 0").Reply("QUIT", "+OK bye").Close();
  srv.Start();
  Pop3 pop(srv.Port());
  pop.Connect();
  EXPECT_EQ(pop.APOPTimestamp(), "");
  EXPECT_TRUE(pop.Capabilities().empty());
  EXPECT_EQ(pop.CountMessages(), 0);
  pop.Disconnect();
  EXPECT_FALSE(pop.IsConnected());
  ASSERT_TRUE(srv.WaitDone(5000));
  EXPECT_EQ(srv.Error(), "");
  EXPECT_EQ(srv.Received(), (Lines{"CAPA", "USER user1", "PASS secret pass", "STAT", "QUIT"}));
}

TEST(Pop3Session, GreetingTimestampAndCapabilities) {
  fake::FakeServer srv;
  srv.SendLine("+OK hello <1896.697170952@dbc.mtview.ca.us> there <other>")
      .Reply("CAPA", "+OK list follows\r\nUSER\r\nTOP\r\n..dotted\r\n.")
      .Reply("USER user1", "+OK")
      .Reply("PASS secret pass", "+OK");
  srv.Start();
  Pop3 pop(srv.Port());
  pop.Connect();
  EXPECT_EQ(pop.APOPTimestamp(), "<1896.697170952@dbc.mtview.ca.us>");
  EXPECT_EQ(pop.Capabilities(), (Lines{"USER", "TOP", ".dotted"}));
}

TEST(Pop3Session, ApopSendsTheDigestOfTimestampAndPassword) {
  fake::FakeServer srv;
  srv.SendLine("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>")
      .Reply("CAPA", "-ERR")
      .Reply("APOP mrose c4c9334bac560ecc979e58001b3e22fb", "+OK maildrop has 1 message");
  srv.Start();
  Pop3 pop(srv.Port());
  pop.AuthType = TIdPOP3::atAPOP;
  pop.Username = "mrose";
  pop.Password = "tanstaaf";
  pop.Connect();
  EXPECT_EQ(srv.Error(), "");
}

TEST(Pop3Session, RefusalsDuringConnectRaiseTheServerTextAndClose) {
  struct Case {
    const char* name;
    std::function<void(fake::FakeServer&)> script;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"greeting", [](fake::FakeServer& s) { s.SendLine("-ERR too busy"); }, "too busy"},
      {"user",
       [](fake::FakeServer& s) {
         s.SendLine("+OK").Reply("CAPA", "-ERR").Reply("USER user1", "-ERR no such user");
       },
       "no such user"},
      {"pass",
       [](fake::FakeServer& s) {
         s.SendLine("+OK").Reply("CAPA", "-ERR").Reply("USER user1", "+OK").Reply(
             "PASS secret pass", "-ERR [AUTH] Authentication failed.");
       },
       "[AUTH] Authentication failed."},
      {"no status code",
       [](fake::FakeServer& s) { s.SendLine("HELLO there"); }, "HELLO there"},
      {"closed right after connect", [](fake::FakeServer& s) { s.Close(); },
       "Connection Closed Gracefully."},
      {"closed during CAPA",
       [](fake::FakeServer& s) { s.SendLine("+OK").Expect("CAPA").Send("+OK\r\nUSER\r\n").Close(); },
       "Connection Closed Gracefully."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::FakeServer srv;
    c.script(srv);
    srv.Start();
    Pop3 pop(srv.Port());
    EXPECT_EQ(ErrorOf([&] { pop.Connect(); }), c.error);
    EXPECT_FALSE(pop.IsConnected());
    EXPECT_TRUE(srv.WaitDone(5000));
  }
}

TEST(Pop3Session, LineBreakInPasswordIsNeverSent) {
  fake::FakeServer srv;
  srv.SendLine("+OK").Reply("CAPA", "-ERR");
  srv.Start();
  Pop3 pop(srv.Port());
  pop.Password = "x\r\nDELE 1";
  EXPECT_NE(ErrorOf([&] { pop.Connect(); }), "<no error>");
  EXPECT_FALSE(pop.IsConnected());
  ASSERT_TRUE(srv.WaitDone(5000));
  EXPECT_EQ(srv.Received(), (Lines{"CAPA"}));
}

TEST(Pop3Session, QuitRefusedStillCloses) {
  fake::FakeServer srv;
  LoggedIn(srv).Reply("QUIT", "-ERR cannot commit");
  srv.Start();
  Pop3 pop(srv.Port());
  pop.Connect();
  EXPECT_EQ(ErrorOf([&] { pop.Disconnect(); }), "cannot commit");
  EXPECT_FALSE(pop.IsConnected());
}

// ---------------------------------------------------------------------------
// STAT, LIST, DELE
// ---------------------------------------------------------------------------

TEST(Pop3Commands, StatCount) {
  struct Case {
    std::string reply;
    int count;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"+OK 2 320", 2, ""},
      {"+OK 0 0", 0, ""},
      {"+OK", 0, ""},
      {"+OK 7", 7, ""},
      {"+OK abc 12", 0, "'abc' is not a valid integer value"},
      {"+OK -3 12", 0, "'-3' is not a valid integer value"},
      {"+OK 99999999999 1", 0, "'99999999999' is not a valid integer value"},
      {"+OK 123456789012345678901234567890", 0,
       "'123456789012345678901234567890' is not a valid integer value"},
      {"-ERR mailbox locked", 0, "mailbox locked"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    fake::FakeServer srv;
    LoggedIn(srv).Reply("STAT", c.reply);
    srv.Start();
    Pop3 pop(srv.Port());
    pop.Connect();
    int n = -1;
    std::string err = ErrorOf([&] { n = pop.CountMessages(); });
    if (c.error.empty()) {
      EXPECT_EQ(err, "<no error>");
      EXPECT_EQ(n, c.count);
    } else {
      EXPECT_EQ(err, c.error);
    }
  }
}

TEST(Pop3Commands, MailboxSize) {
  struct Case {
    const char* name;
    std::function<void(fake::FakeServer&)> list;
    int64_t size;
  };
  const std::vector<Case> cases = {
      {"sum", [](fake::FakeServer& s) { s.Reply("LIST", "+OK\r\n1 120\r\n2 3000\r\n."); }, 3120},
      {"empty", [](fake::FakeServer& s) { s.Reply("LIST", "+OK 0 messages\r\n."); }, 0},
      {"not a number counts 0",
       [](fake::FakeServer& s) { s.Reply("LIST", "+OK\r\n1 abc\r\n2 5\r\n3\r\n."); }, 5},
      {"sizes beyond 32 bits",
       [](fake::FakeServer& s) { s.Reply("LIST", "+OK\r\n1 4294967296\r\n2 1\r\n."); }, 4294967297},
      {"refused", [](fake::FakeServer& s) { s.Reply("LIST", "-ERR no"); }, -1},
      {"closed mid-list",
       [](fake::FakeServer& s) { s.Expect("LIST").Send("+OK\r\n1 120\r\n").Close(); }, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::FakeServer srv;
    c.list(LoggedIn(srv));
    srv.Start();
    Pop3 pop(srv.Port());
    pop.Connect();
    EXPECT_EQ(pop.MailboxSize(), c.size);
  }
}

TEST(Pop3Commands, EmptyLineEndsListButTheSessionStaysInStep) {
  fake::FakeServer srv;
  LoggedIn(srv).Reply("LIST", "+OK\r\n1 10\r\n\r\n2 20\r\n.").Reply("STAT", "+OK 2 30");
  srv.Start();
  Pop3 pop(srv.Port());
  pop.Connect();
  EXPECT_EQ(pop.MailboxSize(), 10);
  EXPECT_EQ(pop.CountMessages(), 2);
}

TEST(Pop3Commands, DeleteAndItsRefusal) {
  fake::FakeServer srv;
  LoggedIn(srv)
      .Reply("DELE 3", "+OK message 3 deleted")
      .Reply("DELE 9", "-ERR no such message")
      .Reply("QUIT", "+OK");
  srv.Start();
  Pop3 pop(srv.Port());
  pop.Connect();
  EXPECT_TRUE(pop.DeleteMessage(3));
  EXPECT_EQ(ErrorOf([&] { pop.DeleteMessage(9); }), "no such message");
  pop.Disconnect();
  ASSERT_TRUE(srv.WaitDone(5000));
  EXPECT_EQ(srv.Error(), "");
}

// ---------------------------------------------------------------------------
// TOP and RETR
// ---------------------------------------------------------------------------

TEST(Pop3Fetch, HeaderLinesAreUnstuffedAndFoldedSubjectsJoined) {
  fake::FakeServer srv;
  LoggedIn(srv).Reply("TOP 2 0", "+OK\r\n" + Joined({"From: \"Tavrel\" <a@b.test>",
                                                     "Subject: ExFile:\\a.txt",
                                                     "..X-Dotted: .value",
                                                     "X-Long: first",
                                                     " second",
                                                     "",
                                                     "..body line the server should not send",
                                                     "Subject: not a header"}) +
                                         ".");
  srv.Start();
  Pop3 pop(srv.Port());
  pop.Connect();
  TIdMessage msg;
  msg.Subject = "old";
  ASSERT_TRUE(pop.FetchHeader(2, msg));
  EXPECT_EQ(msg.Subject, "ExFile:\\a.txt");
  EXPECT_EQ(msg.Headers.Values(".X-Dotted"), ".value");
  EXPECT_EQ(msg.Headers.Values("X-Long"), "first second");
  ASSERT_EQ(msg.From.Count(), 1u);
  EXPECT_EQ(msg.From[0].Address, "a@b.test");
  EXPECT_TRUE(msg.Body.empty());
}

TEST(Pop3Fetch, TopRefusedRaisesAndClearsTheMessage) {
  fake::FakeServer srv;
  LoggedIn(srv).Reply("TOP 5 0", "-ERR no such message").Reply("STAT", "+OK 4 100");
  srv.Start();
  Pop3 pop(srv.Port());
  pop.Connect();
  TIdMessage msg;
  msg.Subject = "old";
  EXPECT_EQ(ErrorOf([&] { pop.FetchHeader(5, msg); }), "no such message");
  EXPECT_EQ(msg.Subject, "");
  EXPECT_EQ(pop.CountMessages(), 4);
}

TEST(Pop3Fetch, RetrRefusedReturnsFalseAndKeepsTheMessage) {
  fake::FakeServer srv;
  LoggedIn(srv).Reply("RETR 4", "-ERR message 4 already deleted").Reply("STAT", "+OK 3 90");
  srv.Start();
  Pop3 pop(srv.Port());
  pop.Connect();
  TIdMessage msg;
  msg.Subject = "earlier";
  EXPECT_FALSE(pop.FetchMessage(4, msg));
  EXPECT_EQ(msg.Subject, "earlier");
  EXPECT_EQ(pop.CountMessages(), 3);
}

TEST(Pop3Fetch, RetrParsesAttachmentAndReportsTwoTransfers) {
  // "hello.world\n" in base64 with a line that starts with a dot on the wire.
  const std::string mail = Joined({
      "From: \"Tavrel\" <me@b.test>",
      "Subject: ExFile:\\a.txt<1/1>",
      "Content-Type: multipart/mixed; boundary=\"XyZ=_1\"",
      "MIME-Version: 1.0",
      "",
      "This is a multi-part message in MIME format",
      "",
      "--XyZ=_1",
      "Content-Type: text/plain",
      "Content-Transfer-Encoding: 7bit",
      "",
      "..a body line with a stuffed dot",
      "",
      "--XyZ=_1",
      "Content-Type: Stream;",
      "        name=\"a.txt\"",
      "Content-Transfer-Encoding: base64",
      "Content-Disposition: attachment;",
      "        filename=\"a.txt\"",
      "",
      "aGVsbG8ud29ybGQK",
      "",
      "--XyZ=_1--",
      "",
  });
  fake::FakeServer srv;
  LoggedIn(srv).Reply("RETR 1", "+OK 500 octets\r\n" + mail + ".").Reply("STAT", "+OK 1 500");
  srv.Start();
  Pop3 pop(srv.Port());
  std::vector<int64_t> reads;
  pop.OnWork = [&](TIdTCPConnection&, TWorkMode mode, int64_t count) {
    if (mode == wmRead) reads.push_back(count);
  };
  pop.Connect();
  reads.clear();
  TIdMessage msg;
  ASSERT_TRUE(pop.FetchMessage(1, msg));
  EXPECT_EQ(msg.Subject, "ExFile:\\a.txt<1/1>");
  TIdAttachment* att = msg.FirstAttachment();
  ASSERT_NE(att, nullptr);
  EXPECT_EQ(att->ReadAll(), "hello.world\n");
  EXPECT_EQ(att->FileName, "a.txt");
  bool sawStuffedLine = false;
  for (const auto& p : msg.Parts)
    if (auto* t = dynamic_cast<TIdText*>(p.get()))
      for (const auto& l : t->Body) sawStuffedLine |= l == ".a body line with a stuffed dot";
  EXPECT_TRUE(sawStuffedLine);
  // The header and the body are two transfers: the count starts again at 0.
  ASSERT_GE(reads.size(), 2u);
  std::size_t restarts = 0;
  for (std::size_t i = 1; i < reads.size(); ++i) restarts += reads[i] < reads[i - 1];
  EXPECT_EQ(restarts, 1u);
  EXPECT_EQ(pop.CountMessages(), 1);  // still in step
}

TEST(Pop3Fetch, AStopFromTheWorkHandlerLeavesAtOnce) {
  // The server sends the start of the mail and then nothing: reading the rest to keep the
  // session in step would wait for the read time-out instead of ending.
  struct TStop {};
  fake::FakeServer srv;
  LoggedIn(srv).Reply("RETR 1", "+OK 900 octets\r\nSubject: a\r\n\r\nbody");
  srv.Start();
  Pop3 pop(srv.Port());
  pop.Connect();
  pop.OnWork = [](TIdTCPConnection&, TWorkMode mode, int64_t count) {
    if (mode == wmRead && count > 0) throw TStop{};
  };
  TIdMessage msg;
  EXPECT_THROW(pop.FetchMessage(1, msg), TStop);
}

TEST(Pop3Fetch, RetrEndingInsideTheHeader) {
  fake::FakeServer srv;
  // The announced size is not trusted for anything (no buffer is sized by it).
  LoggedIn(srv)
      .Reply("RETR 1", "+OK 999999999999999999 octets\r\nSubject: only a header\r\n.")
      .Reply("STAT", "+OK 1 20");
  srv.Start();
  Pop3 pop(srv.Port());
  pop.Connect();
  TIdMessage msg;
  ASSERT_TRUE(pop.FetchMessage(1, msg));
  EXPECT_EQ(msg.Subject, "only a header");
  EXPECT_EQ(pop.CountMessages(), 1);
}

TEST(Pop3Fetch, ServerBreakingOffMidReplyGivesACleanError) {
  struct Case {
    const char* name;
    std::function<void(fake::FakeServer&)> script;
    std::function<void(TIdPOP3&, TIdMessage&)> call;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"RETR closed",
       [](fake::FakeServer& s) {
         s.Expect("RETR 1").Send("+OK\r\nSubject: x\r\n\r\nYWJj\r\n").Close();
       },
       [](TIdPOP3& p, TIdMessage& m) { p.FetchMessage(1, m); }, "Connection Closed Gracefully."},
      {"TOP reset",
       [](fake::FakeServer& s) { s.Expect("TOP 1 0").Send("+OK\r\nSubject: x\r\n").Reset(); },
       [](TIdPOP3& p, TIdMessage& m) { p.FetchHeader(1, m); }, ""},
      {"overlong line",
       [](fake::FakeServer& s) {
         s.Expect("RETR 1").Send("+OK\r\nSubject: x\r\n\r\n" + std::string(16385, 'A') + "\r\n");
       },
       [](TIdPOP3& p, TIdMessage& m) { p.FetchMessage(1, m); }, "Max line length exceeded."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::FakeServer srv;
    c.script(LoggedIn(srv));
    srv.Start();
    Pop3 pop(srv.Port());
    pop.Connect();
    TIdMessage msg;
    std::string err = ErrorOf([&] { c.call(pop, msg); });
    if (c.error.empty())
      EXPECT_NE(err, "<no error>");  // a reset gives a socket error or a close
    else
      EXPECT_EQ(err, c.error);
    if (c.error != "Max line length exceeded.") {
      EXPECT_FALSE(pop.IsConnected());
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Batches: header fetches, deletions and the unique-id listing
// ---------------------------------------------------------------------------

namespace {

// Greeting, CAPA with PIPELINING, USER and PASS accepted.
fake::FakeServer& LoggedInPipelining(fake::FakeServer& srv) {
  return srv.SendLine("+OK ready")
      .Reply("CAPA", "+OK\r\nTOP\r\nUIDL\r\nPIPELINING\r\n.")
      .Reply("USER user1", "+OK")
      .Reply("PASS secret pass", "+OK logged in");
}

std::string TopReply(const std::string& subject) {
  return "+OK\r\nFrom: a@b.example\r\nSubject: " + subject + "\r\n\r\n.";
}

// Outcomes as "n:subject" for a read header, "n!error" for a refused one.
Lines Outcomes(TIdPOP3& pop, const std::vector<int>& numbers) {
  Lines out;
  TIdMessage msg;
  pop.FetchSubjects(numbers, msg, [&](int n, TIdSubjectResult& r) {
    out.push_back(std::to_string(n) + (r.State == TIdSubjectResult::srRead ? ":" + r.Subject
                                                                             : "!" + r.Error));
  });
  return out;
}

}  // namespace

TEST(Pop3Batch, WithoutPipeliningEachCommandWaitsForItsReply) {
  fake::FakeServer srv;
  LoggedIn(srv)
      .Expect("TOP 3 0").ExpectQuiet(200).SendLine(TopReply("three"))
      .Expect("TOP 2 0").ExpectQuiet(200).SendLine("-ERR no such message")
      .Expect("TOP 1 0").ExpectQuiet(200).SendLine(TopReply("one"))
      .Expect("DELE 3").ExpectQuiet(200).SendLine("+OK")
      .Expect("DELE 1").ExpectQuiet(200).SendLine("-ERR locked")
      .Reply("QUIT", "+OK bye").Close();
  srv.Start();
  Pop3 pop(srv.Port());
  pop.Connect();
  EXPECT_FALSE(pop.CanPipeline());
  EXPECT_EQ(Outcomes(pop, {3, 2, 1}), (Lines{"3:three", "2!no such message", "1:one"}));
  EXPECT_EQ(pop.DeleteMessages({3, 1}), (std::vector<bool>{true, false}));
  pop.Disconnect();
  EXPECT_TRUE(srv.WaitDone(5000));
  EXPECT_EQ(srv.Error(), "");
}

TEST(Pop3Batch, PipelinedRefusalInTheMiddleAffectsOnlyItsCommand) {
  // The server reads the whole window before it answers: a client that waited for each
  // reply would stall here.
  fake::FakeServer srv;
  LoggedInPipelining(srv)
      .Expect("TOP 4 0").Expect("TOP 3 0").Expect("TOP 2 0").Expect("TOP 1 0")
      .SendLine(TopReply("four"))
      .SendLine("-ERR message 3 is gone")
      // A line without a status code counts as a refusal of that command alone.
      .SendLine("what?")
      .SendLine(TopReply("one"))
      .Expect("DELE 4").Expect("DELE 2").Expect("DELE 1")
      .SendLine("+OK").SendLine("-ERR cannot").SendLine("+OK")
      .Reply("STAT", "+OK 4 400")
      .Reply("QUIT", "+OK bye").Close();
  srv.Start();
  Pop3 pop(srv.Port());
  pop.Connect();
  EXPECT_TRUE(pop.CanPipeline());
  EXPECT_EQ(Outcomes(pop, {4, 3, 2, 1}),
            (Lines{"4:four", "3!message 3 is gone", "2!what?", "1:one"}));
  EXPECT_EQ(pop.DeleteMessages({4, 2, 1}), (std::vector<bool>{true, false, true}));
  EXPECT_EQ(pop.CountMessages(), 4);  // the replies stayed matched to their commands
  pop.Disconnect();
  EXPECT_TRUE(srv.WaitDone(5000));
  EXPECT_EQ(srv.Error(), "");
}

TEST(Pop3Batch, ConnectionLostInAWindowClosesAndRaises) {
  fake::FakeServer srv;
  LoggedInPipelining(srv)
      .Expect("TOP 2 0").Expect("TOP 1 0")
      .SendLine(TopReply("two"))
      .Close();
  srv.Start();
  Pop3 pop(srv.Port());
  pop.Connect();
  Lines got;
  TIdMessage msg;
  EXPECT_EQ(ErrorOf([&] {
              pop.FetchSubjects({2, 1}, msg, [&](int n, TIdSubjectResult& r) {
                got.push_back(std::to_string(n) + ":" + r.Subject);
              });
            }),
            "Connection Closed Gracefully.");
  EXPECT_EQ(got, Lines{"2:two"});
  EXPECT_FALSE(pop.Connected());
}

TEST(Pop3Batch, PipelinedRetrHandsOnEachMessageInOrderAndStopsByDroppingTheRest) {
  auto retr = [](const std::string& subject) {
    return "+OK\r\nSubject: " + subject + "\r\n\r\n..a line that began with a dot\r\n.";
  };
  fake::FakeServer srv;
  LoggedInPipelining(srv)
      .Expect("RETR 3").Expect("RETR 1").Expect("RETR 2")
      .SendLine(retr("three")).SendLine("-ERR no such message").SendLine(retr("two"))
      .Expect("RETR 2").Expect("RETR 3")
      .SendLine(retr("two again"));
  srv.Start();
  Pop3 pop(srv.Port());
  pop.Connect();
  Lines got;
  TIdMessage msg;
  auto each = [&](int n, bool fetched) {
    got.push_back(std::to_string(n) + (fetched ? ":" + msg.Subject + "/" + msg.Body.at(0) : "-"));
    return got.size() != 4;
  };
  pop.FetchMessages({3, 1, 2}, msg, each);
  EXPECT_EQ(got, (Lines{"3:three/.a line that began with a dot", "1-",
                        "2:two/.a line that began with a dot"}));
  EXPECT_TRUE(pop.Connected());
  pop.FetchMessages({2, 3}, msg, each); // stops after the first: RETR 3 is left unanswered
  EXPECT_EQ(got.size(), 4u);
  EXPECT_FALSE(pop.Connected());
  EXPECT_EQ(srv.Error(), "");
}

TEST(Pop3Batch, UniqueIdListingKeepsOnlyTrustworthyIds) {
  struct Case {
    const char* name;
    std::string listing;  // the data lines of the UIDL reply
    Lines ids;            // for messages 1 .. 4
  } cases[] = {
      {"plain", "1 aaa\r\n2 bbb\r\n3 ccc\r\n4 ddd", {"aaa", "bbb", "ccc", "ddd"}},
      {"missing and out of range", "1 aaa\r\n3 ccc\r\n5 eee\r\n0 zzz", {"aaa", "", "ccc", ""}},
      {"named twice", "1 aaa\r\n2 bbb\r\n2 bbx\r\n4 ddd", {"aaa", "", "", "ddd"}},
      {"invalid ids", "1 " + std::string(71, 'a') + "\r\n2 b\x01" "b\r\n3 \r\nx 9\r\n4 ok",
       {"", "", "", "ok"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::FakeServer srv;
    LoggedIn(srv).Reply("UIDL", "+OK\r\n" + c.listing + "\r\n.").Reply("QUIT", "+OK").Close();
    srv.Start();
    Pop3 pop(srv.Port());
    pop.Connect();
    std::vector<std::string> ids;
    EXPECT_TRUE(pop.ListUniqueIds(4, ids));
    EXPECT_EQ(ids, c.ids);
    pop.Disconnect();
    EXPECT_TRUE(srv.WaitDone(5000));
  }
  fake::FakeServer refused;
  LoggedIn(refused).Reply("UIDL", "-ERR not here").Reply("QUIT", "+OK").Close();
  refused.Start();
  Pop3 pop(refused.Port());
  pop.Connect();
  std::vector<std::string> ids;
  EXPECT_FALSE(pop.ListUniqueIds(2, ids));
  EXPECT_EQ(ids, (Lines{"", ""}));
  pop.Disconnect();
}

TEST(Pop3Batch, PipelineWindowIsBounded) {
  const int total = 300;
  const int window = static_cast<int>(TIdPOP3::kPipelineWindow);
  fake::FakeServer srv;
  LoggedInPipelining(srv);
  for (int n = total; n > total - window; --n) srv.Expect("TOP " + std::to_string(n) + " 0");
  srv.ExpectQuiet(200);  // a full window waits for replies
  for (int n = total; n > total - window; --n) srv.SendLine(TopReply("s" + std::to_string(n)));
  for (int n = total - window; n >= 1; --n) srv.Expect("TOP " + std::to_string(n) + " 0");
  for (int n = total - window; n >= 1; --n) srv.SendLine(TopReply("s" + std::to_string(n)));
  srv.Reply("QUIT", "+OK").Close();
  srv.Start();
  Pop3 pop(srv.Port());
  pop.Connect();
  std::vector<int> numbers;
  Lines expected;
  for (int n = total; n >= 1; --n) {
    numbers.push_back(n);
    expected.push_back(std::to_string(n) + ":s" + std::to_string(n));
  }
  EXPECT_EQ(Outcomes(pop, numbers), expected);
  pop.Disconnect();
  EXPECT_TRUE(srv.WaitDone(5000));
  EXPECT_EQ(srv.Error(), "");
}
