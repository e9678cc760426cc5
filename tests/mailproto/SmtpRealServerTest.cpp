// SMTP against the local test mail server: AUTH LOGIN and no authentication, plain and
// implicit TLS (verified against the test CA); the mail must arrive in the mailbox. A
// pipelined session of several mails with refused ones in the middle.
#include "IdMessage.h"
#include "IdSMTP.h"
#include "IdSSLOpenSSL.h"
#include "support/MailServers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>

namespace {

std::string UniqueToken(const char* what) {
  static std::mt19937_64 rng(std::random_device{}());
  return std::string("smtp-") + what + "-" + std::to_string(rng() % 1000000000000ULL);
}

// Configures the client the way the engine does: port, host, password, user, then the
// transport and the TLS mode.
void Configure(TIdSMTP& smtp, TIdSSLIOHandlerSocketOpenSSL& tls, const TestServers& s, bool useTls,
               const TestServers::Account& acc) {
  smtp.Port = static_cast<uint16_t>(useTls ? s.smtpsPort : s.smtpPort);
  smtp.Host = s.host;
  smtp.Password = acc.pass;
  smtp.Username = acc.user;
  if (useTls) {
    smtp.SetIOHandler(&tls);
    smtp.SetUseTLS(utUseImplicitTLS);
  } else {
    smtp.SetUseTLS(utNoTLSSupport);
    smtp.SetIOHandler(nullptr);
  }
  smtp.ConnectTimeout = 10000;
  smtp.ReadTimeout = 30000;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

TEST(SmtpRealServer, SendsAndMailArrives) {
  const TestServers* s = LoadTestServers();
  if (!s) GTEST_SKIP() << TestServersProblem();
  struct Case {
    const char* name;
    bool tls;
    TIdSMTPAuthenticationType auth;
  };
  const Case cases[] = {
      {"plain-login", false, atDefault},
      {"plain-none", false, atNone},
      {"tls-login", true, atDefault},
      {"tls-none", true, atNone},
  };
  TIdSMTP smtp;  // one client and transport for all sessions, as the engine keeps them
  TIdSSLIOHandlerSocketOpenSSL tls;
  tls.SSLOptions.RootCertFile = s->caFile;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Configure(smtp, tls, *s, c.tls, s->acc1);
    smtp.AuthType = c.auth;
    const std::string token = UniqueToken(c.name);
    const std::string payload = std::string("payload ") + token + std::string(3000, 'p');

    TIdMessage msg;
    msg.From.Add(s->acc1.address, "Tavrel");
    msg.Recipients.Add(s->acc1.address, "Tavrel");
    msg.Subject = "ExFile:\\tests\\" + token + ".bin";
    msg.Body = {"Please do not delete this mail.", ".a line starting with a dot"};
    auto& a = msg.AddAttachmentMemory(payload);
    a.FileName = "\\tests\\" + token + ".bin";
    a.ContentType = "Stream";
    a.ContentTransfer = "base64";

    int64_t lastProgress = 0;
    smtp.OnWork = [&](TIdTCPConnection&, TWorkMode, int64_t n) { lastProgress = n; };
    smtp.Connect();
    EXPECT_TRUE(smtp.Login());
    EXPECT_EQ(smtp.DidAuthenticate(), true);
    smtp.SendMessage(msg);
    smtp.Disconnect();
    EXPECT_FALSE(smtp.Connected());
    EXPECT_GT(lastProgress, 4000);

    auto file = WaitForMailContaining(s->maildir1, token, 20000);
    ASSERT_TRUE(file.has_value()) << "mail did not arrive";
    const std::string text = ReadFile(*file);
    EXPECT_NE(text.find("Subject: ExFile:\\tests\\" + token + ".bin"), std::string::npos);
    EXPECT_NE(text.find("\n.a line starting with a dot"), std::string::npos);  // unstuffed again
    EXPECT_EQ(text.find("X-Mailer"), std::string::npos);
  }
}

// A part-like mail carrying token in its subject and its attachment, to the given recipients.
void TokenMail(TIdMessage& msg, const std::string& from, const std::vector<std::string>& to,
               const std::string& token) {
  msg.Clear();
  msg.From.Add(from, "Tavrel");
  for (const auto& r : to) msg.Recipients.Add(r, "Tavrel");
  msg.Subject = "ExFile:\\tests\\" + token + ".bin";
  msg.Body = {"Please do not delete this mail."};
  auto& a = msg.AddAttachmentMemory(token + std::string(2000, 'q'));
  a.FileName = "\\tests\\" + token + ".bin";
  a.ContentType = "Stream";
  a.ContentTransfer = "base64";
}

TEST(SmtpRealServer, PipelinedSessionWithRefusalsInTheMiddle) {
  const TestServers* s = LoadTestServers();
  if (!s) GTEST_SKIP() << TestServersProblem();
  TIdSMTP smtp;
  TIdSSLIOHandlerSocketOpenSSL tls;
  Configure(smtp, tls, *s, false, s->acc1);
  const std::string self = s->acc1.address;
  const std::string outside = "nobody@outside.example";  // refused at RCPT
  smtp.Connect();
  ASSERT_TRUE(smtp.Login());
  ASSERT_TRUE(smtp.Pipelining()) << "the test server offers PIPELINING";

  auto refusalOf = [&](TIdMessage& msg) -> std::string {
    try {
      smtp.SendMessage(msg);
    } catch (const EIdSMTPReplyError& e) {
      EXPECT_GE(e.NumericCode, 500);
      EXPECT_FALSE(smtp.DataSent());
      return e.what();
    }
    ADD_FAILURE() << "not refused";
    return "";
  };

  // Stored, refused, stored, on one session; the refusal is the recipient's, not the
  // "no valid recipients" of the DATA that came after it.
  std::vector<std::string> stored, refused;
  TIdMessage msg;
  for (int i = 0; i < 3; ++i) {
    stored.push_back(UniqueToken("piped"));
    TokenMail(msg, self, {self}, stored.back());
    smtp.SendMessage(msg);
    EXPECT_TRUE(smtp.DataSent());
  }
  refused.push_back(UniqueToken("refused"));
  TokenMail(msg, self, {outside}, refused.back());
  const std::string pipelined = refusalOf(msg);
  EXPECT_NE(pipelined.find(outside), std::string::npos) << pipelined;
  EXPECT_TRUE(smtp.Connected());
  // The same refusal without pipelining reads the same.
  smtp.PipeLine = false;
  EXPECT_EQ(refusalOf(msg), pipelined);
  smtp.PipeLine = true;
  for (int i = 0; i < 2; ++i) {
    stored.push_back(UniqueToken("piped"));
    TokenMail(msg, self, {self}, stored.back());
    smtp.SendMessage(msg);
  }

  // One recipient taken, the next refused: the server then waits for the data, which must
  // not reach the taken one. The session ends instead.
  refused.push_back(UniqueToken("half"));
  TokenMail(msg, self, {self, outside}, refused.back());
  EXPECT_EQ(refusalOf(msg), pipelined);
  EXPECT_FALSE(smtp.Connected());
  smtp.Connect();
  ASSERT_TRUE(smtp.Login());
  stored.push_back(UniqueToken("piped"));
  TokenMail(msg, self, {self}, stored.back());
  smtp.SendMessage(msg);
  smtp.Disconnect();

  for (const auto& t : stored)
    EXPECT_TRUE(WaitForMailContaining(s->maildir1, t, 20000).has_value()) << t << " did not arrive";
  for (const auto& f : MailFiles(s->maildir1)) {
    const std::string text = ReadFile(f);
    for (const auto& t : refused) EXPECT_EQ(text.find(t), std::string::npos) << t << " was delivered";
  }
}

TEST(SmtpRealServer, WrongPasswordAndUntrustedCertificate) {
  const TestServers* s = LoadTestServers();
  if (!s) GTEST_SKIP() << TestServersProblem();
  TIdSMTP smtp;
  TIdSSLIOHandlerSocketOpenSSL tls;
  tls.SSLOptions.RootCertFile = s->caFile;
  TestServers::Account wrong = s->acc1;
  wrong.pass += "-wrong";
  Configure(smtp, tls, *s, false, wrong);
  smtp.Connect();
  try {
    smtp.Login();
    ADD_FAILURE() << "no error";
  } catch (const EIdSMTPReplyError& e) {
    EXPECT_EQ(e.NumericCode, 535);
    EXPECT_FALSE(std::string(e.what()).empty());
  }
  smtp.Disconnect();

  // The system trust store does not know the test CA.
  TIdSSLIOHandlerSocketOpenSSL systemTls;
  Configure(smtp, systemTls, *s, true, s->acc1);
  try {
    smtp.Connect();
    ADD_FAILURE() << "no error";
  } catch (const EIdOSSLError& e) {
    std::string err = e.what();
    EXPECT_EQ(err.rfind("Error connecting with SSL.\r\ncertificate verify failed", 0), 0u) << err;
  }
  EXPECT_FALSE(smtp.Connected());

  // With the check switched off the same server is accepted.
  systemTls.SSLOptions.VerifyPeer = false;
  smtp.AuthType = atNone;
  smtp.Connect();
  EXPECT_TRUE(smtp.Login());
  smtp.Disconnect();
}

}  // namespace
