// SMTP dialogue against scripted fake servers: greeting and HELO fallback, AUTH LOGIN
// choice, the MAIL/RCPT/DATA exchange with RSET on refusals, pipelined where the server
// offers it, QUIT, broken connections.
#include "IdMessage.h"
#include "IdSMTP.h"
#include "support/FakeServer.h"

#include <gtest/gtest.h>

#include "ErrorOf.h"

#include <algorithm>
#include <chrono>
#include <functional>

namespace {

using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

const char* const kUserB64 = "dXNlckBleGFtcGxlLm9yZw==";  // user@example.org
const char* const kPassB64 = "cGFzcyB3b3Jk";              // pass word

struct Smtp : TIdSMTP {
  explicit Smtp(uint16_t port) {
    Host = "127.0.0.1";
    Port = port;
    HeloName = "client.test";
    Username = "user@example.org";
    Password = "pass word";
    ConnectTimeout = 3000;
    ReadTimeout = 3000;
  }
};

// Greeting plus an EHLO answer offering the given capability lines.
fake::FakeServer& Greet(fake::FakeServer& srv, const Lines& caps) {
  std::string reply = caps.empty() ? "250 fake.test" : "250-fake.test";
  for (std::size_t i = 0; i < caps.size(); ++i)
    reply += "\r\n250" + std::string(i + 1 == caps.size() ? " " : "-") + caps[i];
  return srv.SendLine("220 fake.test ESMTP").Reply("EHLO client.test", reply);
}

void FillMessage(TIdMessage& msg) {
  msg.From.Add("me@example.org", "Tavrel");
  msg.Recipients.Add("me@example.org", "Tavrel");
  msg.CCList.Add("cc@example.org");
  msg.BccList.Add("bcc@example.org");
  msg.Subject = "ExFile:\\docs\\a.txt";
  msg.Body = {"first line", ".", ".hidden", "last"};
  msg.ExtraHeaders.SetValue("X-Mailer", "someone else");
}

// ---------------------------------------------------------------------------
// Greeting
// ---------------------------------------------------------------------------

TEST(SmtpGreeting, EhloRefusedFallsBackToHeloAndOffersNoLogin) {
  fake::FakeServer srv;
  srv.SendLine("220 old server")
      .Reply("EHLO client.test", "500 Command unrecognized")
      .Reply("HELO client.test", "250 old server")
      .Reply("QUIT", "221 bye");
  srv.Start();
  Smtp smtp(srv.Port());
  smtp.Connect();
  EXPECT_TRUE(smtp.Capabilities().empty());
  EXPECT_FALSE(smtp.Login());  // no capabilities: nothing is sent
  smtp.Disconnect();
  EXPECT_FALSE(smtp.Connected());
  EXPECT_TRUE(srv.WaitDone(3000));
  EXPECT_EQ(srv.Error(), "");
  EXPECT_EQ(srv.Received(), (Lines{"EHLO client.test", "HELO client.test", "QUIT"}));
}

TEST(SmtpGreeting, FailuresCloseTheConnection) {
  struct Case {
    const char* name;
    std::function<void(fake::FakeServer&)> script;
    const char* error;
  };
  const Case cases[] = {
      {"greeting refused", [](fake::FakeServer& s) { s.SendLine("554 5.3.2 no service").Reply("QUIT", "221 bye"); },
       "5.3.2 no service"},
      {"HELO refused",
       [](fake::FakeServer& s) {
         s.SendLine("220 hi").Reply("EHLO *", "502 no").Reply("HELO *", "501-bad\r\n501 name");
         s.Reply("QUIT", "221 bye");
       },
       "bad\r\nname"},
      {"closed right after connect", [](fake::FakeServer& s) { s.Close(); }, "Connection Closed Gracefully."},
      {"overlong greeting", [](fake::FakeServer& s) { s.Send("220 " + std::string(16381, 'x')); },
       "Max line length exceeded."},
      {"broken off inside a multi-line reply",
       [](fake::FakeServer& s) { s.SendLine("220 hi").Expect("EHLO *").Send("250-fake\r\n250-AUTH LO").Close(); },
       "Connection Closed Gracefully."},
      {"invalid reply code", [](fake::FakeServer& s) { s.SendLine("hello there").Reply("QUIT", "221 bye"); }, "Reply Code is not valid: hell"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::FakeServer srv;
    c.script(srv);
    srv.Start();
    Smtp smtp(srv.Port());
    EXPECT_EQ(ErrorOf([&] { smtp.Connect(); }), c.error);
    EXPECT_FALSE(smtp.Connected());
  }
}

TEST(SmtpGreeting, SilentServerTimesOutWithoutHanging) {
  fake::FakeServer srv;  // accepts and says nothing
  srv.Start();
  Smtp smtp(srv.Port());
  smtp.ReadTimeout = 300;
  auto t0 = Clock::now();
  EXPECT_EQ(ErrorOf([&] { smtp.Connect(); }), "Socket Error # 10060\r\nConnection timed out.");
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(3));
  EXPECT_FALSE(smtp.Connected());
}

// ---------------------------------------------------------------------------
// Login
// ---------------------------------------------------------------------------

TEST(SmtpLogin, LoginOnlyWhenOffered) {
  struct Case {
    Lines caps;
    bool login;
  };
  const Case cases[] = {
      {{"AUTH PLAIN CRAM-MD5"}, false},
      {{"AUTH LOGIN PLAIN"}, true},
      {{"AUTH=LOGIN"}, true},                          // the older form
      {{"SIZE 1000", "AUTH=PLAIN LOGIN", "8BITMIME"}, true},
      {{"AUTHLOGIN"}, false},
      {{"X-AUTH LOGIN"}, false},
      {{"PIPELINING"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caps[0]);
    fake::FakeServer srv;
    Greet(srv, c.caps);
    if (c.login)
      srv.Reply("AUTH LOGIN", "334 VXNlcm5hbWU6").Reply(kUserB64, "334 UGFzc3dvcmQ6").Reply(kPassB64, "235 2.7.0 ok");
    srv.Reply("QUIT", "221 bye");
    srv.Start();
    Smtp smtp(srv.Port());
    smtp.Connect();
    EXPECT_EQ(smtp.Capabilities(), c.caps);
    EXPECT_EQ(smtp.Login(), c.login);
    EXPECT_EQ(smtp.Login(), c.login);  // an authenticated session does not log in again
    smtp.Disconnect();
    EXPECT_TRUE(srv.WaitDone(3000));
    EXPECT_EQ(srv.Error(), "");
    EXPECT_EQ(srv.Received().size(), c.login ? 5u : 2u);
  }
}

TEST(SmtpLogin, NoneAndEmptyUserSendNothing) {
  for (bool none : {true, false}) {
    fake::FakeServer srv;
    Greet(srv, {"AUTH LOGIN"}).Reply("QUIT", "221 bye");
    srv.Start();
    Smtp smtp(srv.Port());
    if (none) smtp.AuthType = atNone;
    else smtp.Username.clear();
    smtp.Connect();
    EXPECT_EQ(smtp.Login(), none);
    smtp.Disconnect();
    EXPECT_TRUE(srv.WaitDone(3000));
    EXPECT_EQ(srv.Received(), (Lines{"EHLO client.test", "QUIT"}));
  }
}

TEST(SmtpLogin, RefusedPasswordRaisesServerTextAndKeepsConnection) {
  fake::FakeServer srv;
  Greet(srv, {"AUTH LOGIN"})
      .Reply("AUTH LOGIN", "334 VXNlcm5hbWU6")
      .Reply(kUserB64, "334 UGFzc3dvcmQ6")
      .Reply(kPassB64, "535 5.7.8 Authentication credentials invalid")
      .Reply("QUIT", "221 bye");
  srv.Start();
  Smtp smtp(srv.Port());
  smtp.Connect();
  try {
    smtp.Login();
    ADD_FAILURE() << "no error";
  } catch (const EIdSMTPReplyError& e) {
    EXPECT_STREQ(e.what(), "5.7.8 Authentication credentials invalid");
    EXPECT_EQ(e.NumericCode, 535);
  }
  EXPECT_TRUE(smtp.Connected());
  EXPECT_FALSE(smtp.DidAuthenticate());
  smtp.Disconnect();
  EXPECT_TRUE(srv.WaitDone(3000));
  EXPECT_EQ(srv.Error(), "");
}

TEST(SmtpLogin, SaslIsNotConfigured) {
  TIdSMTP smtp;
  smtp.AuthType = atSASL;
  EXPECT_EQ(ErrorOf([&] { smtp.Login(); }), "Need SASL mechanisms to login with it!!");
}

// ---------------------------------------------------------------------------
// Sending
// ---------------------------------------------------------------------------

TEST(SmtpSend, DialogueDataAndProgress) {
  fake::FakeServer srv;
  Greet(srv, {"AUTH LOGIN"})
      .Reply("RSET", "250 flushed")
      .Reply("MAIL FROM: <me@example.org>", "250 2.1.0 ok")
      .Reply("RCPT TO:<me@example.org>", "251 2.1.5 will forward")
      .Reply("RCPT TO:<cc@example.org>", "250 ok")
      .Reply("RCPT TO:<bcc@example.org>", "250 ok")
      .Reply("DATA", "354 go ahead")
      .ReadUntil(".")
      .SendLine("250 2.0.0 queued")
      .Reply("QUIT", "221 bye");
  srv.Start();
  Smtp smtp(srv.Port());
  smtp.AuthType = atNone;
  std::vector<int64_t> progress;
  smtp.OnWork = [&](TIdTCPConnection&, TWorkMode m, int64_t n) {
    EXPECT_EQ(m, wmWrite);
    progress.push_back(n);
  };
  TIdMessage msg;
  FillMessage(msg);
  smtp.Connect();
  EXPECT_TRUE(smtp.Login());
  smtp.SendMessage(msg);
  EXPECT_FALSE(progress.empty());
  smtp.Disconnect();
  ASSERT_TRUE(srv.WaitDone(3000));
  EXPECT_EQ(srv.Error(), "");

  const Lines data = srv.DataLines();
  std::size_t headerEnd = 0;
  while (headerEnd < data.size() && !data[headerEnd].empty()) ++headerEnd;
  ASSERT_LT(headerEnd, data.size());
  Lines header(data.begin(), data.begin() + headerEnd);
  for (const auto& h : header) EXPECT_NE(h.rfind("X-Mailer", 0), 0u) << h;  // MailAgent empty
  EXPECT_NE(std::find(header.begin(), header.end(), "Subject: ExFile:\\docs\\a.txt"), header.end());
  // Body lines beginning with "." carry one more on the wire.
  Lines body(data.begin() + headerEnd, data.end());
  EXPECT_NE(std::find(body.begin(), body.end(), ".."), body.end());
  EXPECT_NE(std::find(body.begin(), body.end(), "..hidden"), body.end());
  EXPECT_EQ(std::find(body.begin(), body.end(), ".hidden"), body.end());
  // Progress covers the body's wire bytes, from the empty line after the header on.
  int64_t bodyBytes = 0;
  for (const auto& l : body) bodyBytes += static_cast<int64_t>(l.size()) + 2;
  EXPECT_EQ(progress.back(), bodyBytes);
}

TEST(SmtpSend, RefusalsSendRsetExceptForMailFrom) {
  struct Case {
    const char* stage;  // the command that is refused
    bool rset;
  };
  const Case cases[] = {{"MAIL", false}, {"RCPT", true}, {"DATA", true}, {".", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stage);
    const std::string refusal = "554 5.7.1 refused at " + std::string(c.stage);
    const std::string stage = c.stage;
    fake::FakeServer srv;
    Greet(srv, {}).Reply("RSET", "250 ok");
    srv.Reply("MAIL FROM: <me@example.org>", stage == "MAIL" ? refusal : "250 ok");
    if (stage != "MAIL") {
      srv.Reply("RCPT TO:<me@example.org>", stage == "RCPT" ? refusal : "250 ok");
      if (stage != "RCPT") {
        srv.Reply("RCPT TO:<cc@example.org>", "250 ok").Reply("RCPT TO:<bcc@example.org>", "250 ok");
        srv.Reply("DATA", stage == "DATA" ? refusal : "354 go");
        if (stage == ".") srv.ReadUntil(".").SendLine(refusal);
      }
    }
    if (c.rset) srv.Reply("RSET", "250 reset");
    srv.Reply("QUIT", "221 bye");
    srv.Start();

    Smtp smtp(srv.Port());
    smtp.AuthType = atNone;
    TIdMessage msg;
    FillMessage(msg);
    smtp.Connect();
    try {
      smtp.SendMessage(msg);
      ADD_FAILURE() << "no error";
    } catch (const EIdSMTPReplyError& e) {
      EXPECT_EQ(e.what(), refusal.substr(4));
      EXPECT_EQ(e.NumericCode, 554);
    }
    // The RSET (if any) was answered before the error reached us.
    Lines got = srv.Received();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back() == "RSET", c.rset) << got.back();
    EXPECT_TRUE(smtp.Connected());
    smtp.Disconnect();
    EXPECT_TRUE(srv.WaitDone(3000));
    EXPECT_EQ(srv.Error(), "");
  }
}

TEST(SmtpSend, ConnectionBrokenDuringDataIsAnErrorAndDropsTheSession) {
  fake::FakeServer srv;
  Greet(srv, {})
      .Reply("RSET", "250 ok")
      .Reply("MAIL FROM: <me@example.org>", "250 ok")
      .Reply("RCPT TO:<me@example.org>", "250 ok")
      .Reply("DATA", "354 go")
      .Reset();
  srv.Start();
  Smtp smtp(srv.Port());
  smtp.AuthType = atNone;
  TIdMessage msg;
  msg.From.Add("me@example.org", "Tavrel");
  msg.Recipients.Add("me@example.org", "Tavrel");
  msg.Body = {"x"};
  auto& a = msg.AddAttachmentMemory(std::string(4 << 20, '\x5a'));
  a.FileName = "\\big.bin";
  a.ContentType = "Stream";
  a.ContentTransfer = "base64";
  smtp.Connect();
  std::string err = ErrorOf([&] { smtp.SendMessage(msg); });
  EXPECT_EQ(err.rfind("Socket Error # ", 0), 0u) << err;
  EXPECT_FALSE(smtp.Connected());
}

// ---------------------------------------------------------------------------
// Pipelining
// ---------------------------------------------------------------------------

// The commands of FillMessage's envelope. The server reads all of them before it answers:
// a client that waited for each reply would wait for ever (and time out).
fake::FakeServer& PipelinedEnvelope(fake::FakeServer& srv, const Lines& replies) {
  srv.Expect("RSET")
      .Expect("MAIL FROM: <me@example.org>")
      .Expect("RCPT TO:<me@example.org>")
      .Expect("RCPT TO:<cc@example.org>")
      .Expect("RCPT TO:<bcc@example.org>")
      .Expect("DATA");
  std::string all;
  for (const auto& r : replies) all += r + "\r\n";
  return srv.Send(all);
}

const Lines kEnvelopeTaken = {"250 reset", "250 2.1.0 ok", "250 ok", "251 forward", "250 ok", "354 go"};

TEST(SmtpPipelining, EnvelopeInOneWriteAndTheMailsBytesAsWithout) {
  // The same mail to a server without PIPELINING (one command at a time: nothing more
  // comes while a reply is due) and, twice on one session, to one with it.
  fake::FakeServer plain;
  Greet(plain, {"SIZE 1000000"}).Expect("RSET").ExpectQuiet(150).SendLine("250 ok");
  plain.Expect("MAIL FROM: <me@example.org>").ExpectQuiet(150).SendLine("250 ok");
  plain.Reply("RCPT TO:<me@example.org>", "250 ok")
      .Reply("RCPT TO:<cc@example.org>", "250 ok")
      .Reply("RCPT TO:<bcc@example.org>", "250 ok")
      .Reply("DATA", "354 go")
      .ReadUntil(".")
      .SendLine("250 queued")
      .Reply("QUIT", "221 bye");
  fake::FakeServer piped;
  Greet(piped, {"SIZE 1000000", "PIPELINING", "8BITMIME"});
  for (int i = 0; i < 2; ++i) PipelinedEnvelope(piped, kEnvelopeTaken).ReadUntil(".").SendLine("250 queued");
  piped.Reply("QUIT", "221 bye");
  plain.Start();
  piped.Start();

  TIdMessage msg;
  FillMessage(msg);
  msg.SetDate(1700000000);
  std::vector<Lines> data;
  for (fake::FakeServer* srv : {&plain, &piped}) {
    Smtp smtp(srv->Port());
    smtp.AuthType = atNone;
    smtp.Connect();
    EXPECT_EQ(smtp.Pipelining(), srv == &piped);
    const int mails = srv == &piped ? 2 : 1;
    for (int i = 0; i < mails; ++i) {
      smtp.SendMessage(msg);
      EXPECT_TRUE(smtp.DataSent());
    }
    smtp.Disconnect();
    ASSERT_TRUE(srv->WaitDone(3000));
    EXPECT_EQ(srv->Error(), "");
    data.push_back(srv->DataLines());
  }
  ASSERT_FALSE(data[0].empty());
  const Lines once = data[0];
  Lines twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(data[1], twice);
}

TEST(SmtpPipelining, OffOrNotOfferedWaitsForEachReply) {
  for (bool offered : {false, true}) {
    SCOPED_TRACE(offered ? "offered, switched off" : "not offered");
    fake::FakeServer srv;
    Greet(srv, offered ? Lines{"PIPELINING"} : Lines{"8BITMIME"}).Reply("RSET", "250 ok");
    srv.Expect("MAIL FROM: <me@example.org>").ExpectQuiet(150).SendLine("250 ok");
    srv.Expect("RCPT TO:<me@example.org>").ExpectQuiet(150).SendLine("250 ok");
    srv.Expect("DATA").ExpectQuiet(150).SendLine("354 go").ReadUntil(".").SendLine("250 ok");
    srv.Reply("QUIT", "221 bye");
    srv.Start();
    Smtp smtp(srv.Port());
    smtp.AuthType = atNone;
    smtp.PipeLine = !offered;
    TIdMessage msg;
    msg.From.Add("me@example.org");
    msg.Recipients.Add("me@example.org");
    msg.Body = {"x"};
    smtp.Connect();
    EXPECT_FALSE(smtp.Pipelining());
    smtp.SendMessage(msg);
    smtp.Disconnect();
    ASSERT_TRUE(srv.WaitDone(3000));
    EXPECT_EQ(srv.Error(), "");
  }
}

TEST(SmtpPipelining, RefusalFailsThatMailOnlyWithTheFirstRefusalsText) {
  struct Case {
    const char* name;
    Lines replies;      // to RSET, MAIL, the three RCPT, DATA
    const char* error;  // what the mail fails with
    int code;
    bool rset;          // RSET after it (a transaction was open)
    bool keeps;         // the session stays usable
  };
  const Case cases[] = {
      {"MAIL refused", {"250 ok", "550 5.7.1 sender refused", "503 5.5.1 need MAIL", "503 5.5.1 need MAIL",
                        "503 5.5.1 need MAIL", "503 5.5.1 need MAIL"},
       "5.7.1 sender refused", 550, false, true},
      {"every RCPT refused", {"250 ok", "250 ok", "554 5.7.1 <me@example.org>: Relay access denied",
                              "554 5.7.1 <cc@example.org>: Relay access denied", "550 5.1.1 unknown",
                              "554 5.5.1 Error: no valid recipients"},
       "5.7.1 <me@example.org>: Relay access denied", 554, true, true},
      {"one RCPT refused, DATA taken", {"250 ok", "250 ok", "250 ok", "550-5.1.1 no such\r\n550 5.1.1 user", "250 ok", "354 go"},
       "5.1.1 no such\r\n5.1.1 user", 550, false, false},
      {"DATA refused", {"250 ok", "250 ok", "250 ok", "250 ok", "250 ok", "451 4.3.0 try later"},
       "4.3.0 try later", 451, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::FakeServer srv;
    Greet(srv, {"PIPELINING"});
    PipelinedEnvelope(srv, c.replies);
    if (c.rset) srv.Reply("RSET", "250 reset");
    // The session is in step: the next mail goes through on it.
    if (c.keeps) PipelinedEnvelope(srv, kEnvelopeTaken).ReadUntil(".").SendLine("250 queued").Reply("QUIT", "221 bye");
    srv.Start();

    Smtp smtp(srv.Port());
    smtp.AuthType = atNone;
    TIdMessage msg;
    FillMessage(msg);
    smtp.Connect();
    try {
      smtp.SendMessage(msg);
      ADD_FAILURE() << "no error";
    } catch (const EIdSMTPReplyError& e) {
      EXPECT_EQ(e.what(), std::string(c.error));
      EXPECT_EQ(e.NumericCode, c.code);
    }
    EXPECT_FALSE(smtp.DataSent());  // nothing of the mail went out
    EXPECT_EQ(smtp.Connected(), c.keeps);
    if (c.keeps) {
      smtp.SendMessage(msg);
      EXPECT_TRUE(smtp.DataSent());
      smtp.Disconnect();
    }
    ASSERT_TRUE(srv.WaitDone(3000));
    EXPECT_EQ(srv.Error(), "");
    // No line of the mail reached the server after a refusal.
    EXPECT_EQ(srv.DataLines().empty(), !c.keeps) << srv.DataLines().size();
    const Lines got = srv.Received();
    EXPECT_EQ(std::count(got.begin(), got.end(), "RSET"), (c.keeps ? 2 : 1) + (c.rset ? 1 : 0));
  }
}

TEST(SmtpPipelining, ServerEndingTheSessionBeforeData) {
  struct Case {
    const char* name;
    std::function<void(fake::FakeServer&)> script;  // after the envelope's commands arrived
    const char* error;
  };
  const Case cases[] = {
      // A kept session the server ends: its reason, not the closed connection, is reported.
      {"421 to MAIL, then closed",
       [](fake::FakeServer& s) { s.Send("250 ok\r\n421 4.7.0 too many mails this session\r\n").Close(); },
       "4.7.0 too many mails this session"},
      {"closed before any reply", [](fake::FakeServer& s) { s.Close(); }, "Connection Closed Gracefully."},
      {"garbled reply", [](fake::FakeServer& s) { s.Send("250 ok\r\nhello\r\n"); }, "Reply Code is not valid: hell"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::FakeServer srv;
    Greet(srv, {"PIPELINING"})
        .Expect("RSET")
        .Expect("MAIL FROM: <me@example.org>")
        .Expect("RCPT TO:<me@example.org>")
        .Expect("RCPT TO:<cc@example.org>")
        .Expect("RCPT TO:<bcc@example.org>")
        .Expect("DATA");
    c.script(srv);
    srv.Start();
    Smtp smtp(srv.Port());
    smtp.AuthType = atNone;
    TIdMessage msg;
    FillMessage(msg);
    smtp.Connect();
    EXPECT_EQ(ErrorOf([&] { smtp.SendMessage(msg); }), c.error);
    EXPECT_FALSE(smtp.DataSent());  // the engine may send it again on a new session
    EXPECT_FALSE(smtp.Connected());  // out of step with the server: never used again
    EXPECT_FALSE(smtp.DidAuthenticate());
  }
}

TEST(SmtpDisconnect, QuitRefusedStillCloses) {
  fake::FakeServer srv;
  Greet(srv, {}).Reply("QUIT", "500 what");
  srv.Start();
  Smtp smtp(srv.Port());
  smtp.Connect();
  EXPECT_EQ(ErrorOf([&] { smtp.Disconnect(); }), "what");
  EXPECT_FALSE(smtp.Connected());
}

}  // namespace
