// POP3 and IMAP4 against the local test mail servers, plain and implicit TLS (verified
// against the test CA): login with the password that holds a blank, count, header fetch,
// message fetch, size, delete (POP3: DELE takes effect at QUIT only; IMAP4: \Deleted flag,
// then EXPUNGE), IMAP4 subject lists asked for ahead against single header fetches, and a
// 5 MiB attachment sent over SMTP and fetched back by both readers.
//
// The second account's inbox is shared with other tests running at the same time, so these
// tests never empty it: they put mails with unique subjects there, find them by subject,
// and remove only their own. The IMAP4 flag and expunge steps run in a folder of their own.
#include "IdIMAP4.h"
#include "IdMessage.h"
#include "IdPOP3.h"
#include "IdSMTP.h"
#include "IdSSLOpenSSL.h"
#include "support/MailServers.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace {

std::string UniqueToken(const char* what) {
  static std::mt19937_64 rng(std::random_device{}());
  return std::string("rd-") + what + "-" + std::to_string(rng() % 1000000000000ULL);
}

// Client settings in the engine's order: port, host, password, user, then transport and mode.
template <class Client>
void Configure(Client& c, TIdSSLIOHandlerSocketOpenSSL& tls, const TestServers& s, bool useTls,
               int plainPort, int tlsPort, const TestServers::Account& acc) {
  c.Port = static_cast<uint16_t>(useTls ? tlsPort : plainPort);
  c.Host = s.host;
  c.Password = acc.pass;
  c.Username = acc.user;
  if (useTls) {
    c.SetIOHandler(&tls);
    c.SetUseTLS(utUseImplicitTLS);
  } else {
    c.SetUseTLS(utNoTLSSupport);
    c.SetIOHandler(nullptr);
  }
  c.ConnectTimeout = 10000;
  c.ReadTimeout = 60000;
}

std::string MailText(const TestServers& s, const std::string& subject, const std::string& body) {
  return "From: \"Tavrel\" <" + s.acc2.address + ">\r\nTo: \"Tavrel\" <" + s.acc2.address +
         ">\r\nSubject: " + subject + "\r\nDate: Wed, 5 Mar 2008 14:03:09 +0100\r\n\r\n" + body;
}

// A raw IMAP4 dialogue of the test's own (not the client under test) that puts mails into a
// folder of the second account, creating the folder first.
void AppendMails(const TestServers& s, const std::string& folder, const std::vector<std::string>& mails) {
  TestLineSocket sock;
  ASSERT_TRUE(sock.Connect(s.host, s.imapPort));
  ASSERT_TRUE(sock.ReadLine().has_value());
  auto command = [&](const std::string& tag, const std::string& line, const std::string& data = {}) {
    EXPECT_TRUE(sock.SendLine(line));
    if (!data.empty()) {
      EXPECT_TRUE(sock.Send(data + "\r\n"));
    }
    for (;;) {
      auto reply = sock.ReadLine();
      if (!reply) return std::string("closed");
      if (reply->rfind(tag + " ", 0) == 0) return reply->substr(tag.size() + 1, 2);
    }
  };
  ASSERT_EQ(command("a1", "a1 LOGIN " + s.acc2.user + " \"" + s.acc2.pass + "\""), "OK");
  if (folder != "INBOX") command("a2", "a2 CREATE \"" + folder + "\"");  // NO when it exists
  int tag = 3;
  for (const auto& m : mails) {
    const std::string t = "a" + std::to_string(tag++);
    ASSERT_EQ(command(t, t + " APPEND \"" + folder + "\" {" + std::to_string(m.size()) + "+}", m), "OK");
  }
  command("z", "z LOGOUT");
}

// Subject -> message number for every message of the session.
std::map<std::string, int> PopSubjects(TIdPOP3& pop) {
  std::map<std::string, int> out;
  const int n = pop.CountMessages();
  for (int i = n; i >= 1; --i) {
    TIdMessage m;
    if (pop.FetchHeader(i, m)) out[m.Subject] = i;
  }
  return out;
}

std::map<std::string, int> ImapSubjects(TIdIMAP4& imap) {
  std::map<std::string, int> out;
  for (int i = imap.MessageCount(); i >= 1; --i) {
    TIdMessage m;
    if (imap.FetchHeader(i, m)) out[m.Subject] = i;
  }
  return out;
}

// Removes the messages with these subjects from the inbox over POP3.
void PopDelete(TIdPOP3& pop, const std::vector<std::string>& subjects) {
  pop.Connect();
  auto found = PopSubjects(pop);
  for (const auto& s : subjects)
    if (found.count(s)) pop.DeleteMessage(found[s]);
  pop.Disconnect();
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
  for (const auto& l : lines)
    if (l == line) return true;
  return false;
}

// ---------------------------------------------------------------------------
// POP3
// ---------------------------------------------------------------------------

TEST(Pop3RealServer, CountFetchSizeAndDeleteAtQuit) {
  const TestServers* s = LoadTestServers();
  if (!s) GTEST_SKIP() << TestServersProblem();
  TIdPOP3 pop;  // one client and transport for all sessions, as the engine keeps them
  TIdSSLIOHandlerSocketOpenSSL tls;
  tls.SSLOptions.RootCertFile = s->caFile;
  for (bool useTls : {false, true}) {
    SCOPED_TRACE(useTls ? "TLS" : "plain");
    Configure(pop, tls, *s, useTls, s->pop3Port, s->pop3sPort, s->acc2);
    const std::string token = UniqueToken(useTls ? "pop3s" : "pop3");
    const std::string subjA = "ExFile:\\" + token + "\\a.txt<1/1>";
    const std::string subjB = "ExFile:\\" + token + "\\b.txt<1/1>";
    AppendMails(*s, "INBOX",
                {MailText(*s, subjA, "first line\r\n.a line starting with a dot\r\n..two dots\r\n.\r\nend\r\n"),
                 MailText(*s, subjB, "b\r\n")});

    pop.Connect();
    EXPECT_FALSE(pop.Capabilities().empty());
    const int count = pop.CountMessages();
    EXPECT_GE(count, 2);
    const int64_t size = pop.MailboxSize();
    EXPECT_GT(size, 0);
    auto found = PopSubjects(pop);
    ASSERT_EQ(found.count(subjA), 1u);
    ASSERT_EQ(found.count(subjB), 1u);
    const int a = found[subjA], b = found[subjB];

    TIdMessage msg;
    ASSERT_TRUE(pop.FetchMessage(a, msg));
    EXPECT_EQ(msg.Subject, subjA);
    EXPECT_EQ(msg.Body, (std::vector<std::string>{"first line", ".a line starting with a dot",
                                                  "..two dots", ".", "end"}));
    EXPECT_FALSE(pop.FetchMessage(count + 1, msg));  // refused: false, message kept
    EXPECT_EQ(msg.Subject, subjA);

    // DELE marks only; the numbers of the session stay as they were.
    EXPECT_TRUE(pop.DeleteMessage(a));
    ASSERT_TRUE(pop.FetchHeader(b, msg));
    EXPECT_EQ(msg.Subject, subjB);
    EXPECT_EQ(pop.CountMessages(), count - 1);

    // A session broken off without QUIT commits nothing.
    pop.CloseConnection();
    pop.Connect();
    found = PopSubjects(pop);
    EXPECT_EQ(found.count(subjA), 1u);
    ASSERT_TRUE(pop.DeleteMessage(found[subjA]));
    pop.Disconnect();  // QUIT commits

    pop.Connect();
    found = PopSubjects(pop);
    EXPECT_EQ(found.count(subjA), 0u);
    EXPECT_EQ(found.count(subjB), 1u);
    pop.Disconnect();
    PopDelete(pop, {subjB});
  }
}

TEST(Pop3RealServer, WrongPasswordRaisesTheServerText) {
  const TestServers* s = LoadTestServers();
  if (!s) GTEST_SKIP() << TestServersProblem();
  TIdPOP3 pop;
  TIdSSLIOHandlerSocketOpenSSL tls;
  TestServers::Account wrong = s->acc2;
  wrong.pass += "x";
  Configure(pop, tls, *s, false, s->pop3Port, s->pop3sPort, wrong);
  try {
    pop.Connect();
    ADD_FAILURE() << "no error";
  } catch (const EIdReplyError& e) {
    EXPECT_EQ(e.Code, "-ERR");
    EXPECT_NE(std::string(e.what()).find("Authentication failed"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(pop.IsConnected());
}

// ---------------------------------------------------------------------------
// IMAP4
// ---------------------------------------------------------------------------

TEST(Imap4RealServer, CountFetchSizeFlagAndExpunge) {
  const TestServers* s = LoadTestServers();
  if (!s) GTEST_SKIP() << TestServersProblem();
  // A folder of its own (its name needs modified UTF-7), so that the expunge touches
  // nothing of other tests.
  const std::string folder = "Tavrel-T\xC3\xABst";
  const std::string folderWire = "Tavrel-T&AOs-st";
  TIdIMAP4 imap;
  TIdSSLIOHandlerSocketOpenSSL tls;
  tls.SSLOptions.RootCertFile = s->caFile;
  for (bool useTls : {false, true}) {
    SCOPED_TRACE(useTls ? "TLS" : "plain");
    Configure(imap, tls, *s, useTls, s->imapPort, s->imapsPort, s->acc2);
    const std::string token = UniqueToken(useTls ? "imaps" : "imap");
    const std::string subjA = "ExFile:\\" + token + "\\a.txt<1/1>";
    const std::string subjB = "ExFile:\\" + token + "\\b.txt<1/1>";
    const std::string bodyA = "first line\r\n.a line starting with a dot\r\nend\r\n";
    AppendMails(*s, folderWire, {MailText(*s, subjA, bodyA), MailText(*s, subjB, "b\r\n")});

    imap.Connect();
    EXPECT_EQ(imap.ConnectionState(), TIdIMAP4::csAuthenticated);
    EXPECT_FALSE(imap.Capabilities().empty());
    ASSERT_TRUE(imap.SelectMailbox(folder));
    EXPECT_GE(imap.MessageCount(), 2);
    EXPECT_GT(imap.MailboxSize(), 0);
    auto found = ImapSubjects(imap);
    ASSERT_EQ(found.count(subjA), 1u);
    ASSERT_EQ(found.count(subjB), 1u);

    TIdMessage msg;
    int64_t lastPart = 0;
    imap.OnWorkForPart = [&](TIdTCPConnection&, TWorkMode, int64_t n) { lastPart = n; };
    ASSERT_TRUE(imap.FetchMessage(found[subjA], msg));
    EXPECT_EQ(msg.Subject, subjA);
    EXPECT_EQ(msg.Body, (std::vector<std::string>{"first line", ".a line starting with a dot", "end"}));
    EXPECT_TRUE(HasLine(msg.Flags, "\\Seen"));  // the flags the answer names
    EXPECT_GE(lastPart, static_cast<int64_t>(MailText(*s, subjA, bodyA).size()));
    EXPECT_FALSE(imap.FetchHeader(imap.MessageCount() + 5, msg));  // BAD: false, no error

    // Flagged only: still listed by the next session; EXPUNGE then removes it, and only it.
    EXPECT_TRUE(imap.DeleteMessages({found[subjA]}));
    imap.Disconnect();
    EXPECT_FALSE(imap.IsConnected());

    imap.Connect();
    ASSERT_TRUE(imap.SelectMailbox(folder));
    found = ImapSubjects(imap);
    ASSERT_EQ(found.count(subjA), 1u);
    const int before = imap.MessageCount();
    EXPECT_TRUE(imap.ExpungeMailbox());
    EXPECT_EQ(imap.MessageCount(), before - 1);
    found = ImapSubjects(imap);
    EXPECT_EQ(found.count(subjA), 0u);
    ASSERT_EQ(found.count(subjB), 1u);
    EXPECT_TRUE(imap.DeleteMessages({found[subjB]}));
    EXPECT_TRUE(imap.ExpungeMailbox());
    imap.Disconnect();
  }
}

TEST(Imap4RealServer, SubjectListsAskedForAheadMatchSingleHeaderFetches) {
  const TestServers* s = LoadTestServers();
  if (!s) GTEST_SKIP() << TestServersProblem();
  const std::string folder = UniqueToken("list");
  // Plain, encoded (the decoded text must be the same as from the whole header) and
  // folded subjects.
  std::vector<std::string> mails;
  for (int i = 1; i <= 30; ++i) {
    std::string subject = "ExFile:\\" + folder + "\\f" + std::to_string(i) + ".bin<1/1>";
    if (i % 3 == 1) subject = "=?UTF-8?Q?ExFile:\\Gr=C3=BC=C3=9Fe" + std::to_string(i) + "?=";
    if (i % 3 == 2) subject += "\r\n |Size:" + std::string(100, '7');
    mails.push_back(MailText(*s, subject, "body " + std::to_string(i) + "\r\n"));
  }
  AppendMails(*s, folder, mails);
  TIdIMAP4 imap;
  TIdSSLIOHandlerSocketOpenSSL tls;
  Configure(imap, tls, *s, false, s->imapPort, s->imapsPort, s->acc2);
  imap.Connect();
  ASSERT_TRUE(imap.SelectMailbox(folder));
  ASSERT_EQ(imap.MessageCount(), 30);
  EXPECT_GT(imap.MailboxSize(), 0);
  std::vector<std::string> uids, again;
  ASSERT_TRUE(imap.FetchUids(30, uids));  // from the size listing

  // Three lists, newest first, each one's successor asked for ahead, as a scan does.
  std::map<int, TIdSubjectResult> listed;
  TIdMessage msg;
  auto sink = [&](int n, TIdSubjectResult& r) { listed[n] = r; };
  auto range = [](int from, int to) {
    std::vector<int> v;
    for (int n = from; n >= to; --n) v.push_back(n);
    return v;
  };
  imap.FetchSubjects(range(30, 21), msg, sink, range(20, 11));
  imap.FetchSubjects(range(20, 11), msg, sink, range(10, 1));
  imap.FetchSubjects(range(10, 1), msg, sink);
  ASSERT_EQ(listed.size(), 30u);

  // The same session, one command at a time: the whole header of each message.
  ASSERT_TRUE(imap.SelectMailbox(folder));
  ASSERT_TRUE(imap.FetchUids(30, again));
  EXPECT_EQ(uids, again);
  for (int n = 1; n <= 30; ++n) {
    SCOPED_TRACE(n);
    const TIdSubjectResult& r = listed[n];
    ASSERT_EQ(r.State, TIdSubjectResult::srRead) << r.Error;
    ASSERT_TRUE(imap.FetchHeader(n, msg));
    EXPECT_EQ(r.Subject, msg.Subject);
    EXPECT_EQ(r.Uid, uids[static_cast<size_t>(n - 1)]);
  }
  EXPECT_EQ(listed[1].Subject, "ExFile:\\Gr\xC3\xBC\xC3\x9F" "e1");
  EXPECT_NE(listed[2].Subject.find("|Size:777"), std::string::npos) << listed[2].Subject;

  // A list asked for ahead and then not wanted is read past before the next command.
  imap.FetchSubjects(range(30, 30), msg, sink, range(29, 1));
  EXPECT_TRUE(imap.DeleteMessages(range(30, 1)));
  EXPECT_TRUE(imap.ExpungeMailbox());
  EXPECT_EQ(imap.MessageCount(), 0);
  imap.Disconnect();
}

TEST(Imap4RealServer, EmptyMailboxAndRefusals) {
  const TestServers* s = LoadTestServers();
  if (!s) GTEST_SKIP() << TestServersProblem();
  const std::string folder = UniqueToken("empty");
  AppendMails(*s, folder, {});
  TIdIMAP4 imap;
  TIdSSLIOHandlerSocketOpenSSL tls;
  Configure(imap, tls, *s, false, s->imapPort, s->imapsPort, s->acc2);
  imap.Connect();
  ASSERT_TRUE(imap.SelectMailbox(folder));
  EXPECT_EQ(imap.MessageCount(), 0);
  EXPECT_EQ(imap.MailboxSize(), 0);
  EXPECT_FALSE(imap.SelectMailbox("no-such-folder-" + folder));
  EXPECT_EQ(imap.LastResult().Code, "NO");
  EXPECT_EQ(imap.ConnectionState(), TIdIMAP4::csAuthenticated);
  imap.Disconnect();

  // A wrong password is a failed login carrying the server's words.
  imap.Password += "x";
  try {
    imap.Connect();
    ADD_FAILURE() << "no error";
  } catch (const EIdReplyError& e) {
    EXPECT_EQ(e.Code, "NO");
    EXPECT_NE(std::string(e.what()).find("Authentication failed"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(imap.IsConnected());
  EXPECT_EQ(imap.ConnectionState(), TIdIMAP4::csNonAuthenticated);
}

// ---------------------------------------------------------------------------
// Round trip: TIdMessage -> TIdSMTP -> server -> TIdPOP3 / TIdIMAP4
// ---------------------------------------------------------------------------

TEST(MailRoundTrip, FiveMiBAttachmentComesBackUnchanged) {
  const TestServers* s = LoadTestServers();
  if (!s) GTEST_SKIP() << TestServersProblem();
  std::string data(5u << 20, '\0');
  std::mt19937 rng(12345);
  for (char& c : data) c = static_cast<char>(rng() & 0xFF);
  const std::string token = UniqueToken("roundtrip");
  const std::string subject = "ExFile:\\" + token + "\\big.bin<1/1>Size=5242880";

  {
    TIdMessage out;
    out.From.Add(s->acc2.address, "Tavrel");
    out.Recipients.Add(s->acc2.address, "Tavrel");
    out.Subject = subject;
    out.Body = {"This mail stores a file part.", "Please do not delete it."};
    auto& a = out.AddAttachmentMemory(data);
    a.FileName = "\\" + token + "\\big.bin";
    a.ContentType = "Stream";
    a.ContentTransfer = "base64";
    TIdSMTP smtp;
    TIdSSLIOHandlerSocketOpenSSL tls;
    Configure(smtp, tls, *s, false, s->smtpPort, s->smtpsPort, s->acc2);
    smtp.AuthType = atDefault;
    smtp.Connect();
    ASSERT_TRUE(smtp.Login());
    smtp.SendMessage(out);
    smtp.Disconnect();
  }
  ASSERT_TRUE(WaitForMailContaining(s->maildir2, token, 30000).has_value()) << "mail did not arrive";

  TIdSSLIOHandlerSocketOpenSSL tls;
  tls.SSLOptions.RootCertFile = s->caFile;
  {
    SCOPED_TRACE("POP3 over TLS");
    TIdPOP3 pop;
    Configure(pop, tls, *s, true, s->pop3Port, s->pop3sPort, s->acc2);
    pop.Connect();
    auto found = PopSubjects(pop);
    ASSERT_EQ(found.count(subject), 1u);
    TIdMessage in;
    ASSERT_TRUE(pop.FetchMessage(found[subject], in));
    EXPECT_EQ(in.Subject, subject);
    TIdAttachment* att = in.FirstAttachment();
    ASSERT_NE(att, nullptr);
    EXPECT_EQ(att->FileName, "big.bin");
    EXPECT_EQ(att->Size(), data.size());
    EXPECT_TRUE(att->ReadAll() == data);
    pop.Disconnect();
  }
  {
    SCOPED_TRACE("IMAP4 over TLS");
    TIdIMAP4 imap;
    Configure(imap, tls, *s, true, s->imapPort, s->imapsPort, s->acc2);
    imap.Connect();
    ASSERT_TRUE(imap.SelectMailbox("INBOX"));
    auto found = ImapSubjects(imap);
    ASSERT_EQ(found.count(subject), 1u);
    TIdMessage in;
    int64_t lastPart = 0;
    imap.OnWorkForPart = [&](TIdTCPConnection&, TWorkMode, int64_t n) { lastPart = n; };
    ASSERT_TRUE(imap.FetchMessage(found[subject], in));
    EXPECT_EQ(in.Subject, subject);
    TIdAttachment* att = in.FirstAttachment();
    ASSERT_NE(att, nullptr);
    EXPECT_TRUE(att->ReadAll() == data);
    EXPECT_GT(lastPart, static_cast<int64_t>(data.size()) * 4 / 3);  // base64 on the wire
    imap.Disconnect();
  }
  TIdPOP3 pop;
  Configure(pop, tls, *s, false, s->pop3Port, s->pop3sPort, s->acc2);
  PopDelete(pop, {subject});
}

}  // namespace
