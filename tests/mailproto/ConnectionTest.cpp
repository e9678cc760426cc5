// Connection layer: settings, line reader, replies, progress, errors, time-outs and TLS,
// against scripted fake servers on 127.0.0.1.
#include "IdSSLOpenSSL.h"
#include "IdTCPConnection.h"
#include "SocketError.h"
#include "support/FakeServer.h"

#include <gtest/gtest.h>

#include "ErrorOf.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A client on the fake server's port with short time-outs, so a failing test never hangs.
struct Client : TIdTCPConnection {
  explicit Client(uint16_t port) : TIdTCPConnection(25, 465) {
    Host = "127.0.0.1";
    Port = port;
    ConnectTimeout = 3000;
    ReadTimeout = 3000;
  }
};

// ---------------------------------------------------------------------------
// Port adjustment when UseTLS changes
// ---------------------------------------------------------------------------

TEST(ConnectionSettings, PortFollowsTlsMode) {
  struct Case {
    const char* name;
    uint16_t plain, tls;
    uint16_t before;     // port the previous mailbox left
    TIdUseTLS previous;  // TLS mode the previous mailbox left
    uint16_t assigned;   // port of the new mailbox
    TIdUseTLS mode;      // TLS mode of the new mailbox
    uint16_t expected;
  };
  const Case cases[] = {
      {"smtp ssl on port 25", 25, 465, 25, utNoTLSSupport, 25, utUseImplicitTLS, 465},
      {"pop3 ssl on port 110", 110, 995, 110, utNoTLSSupport, 110, utUseImplicitTLS, 995},
      {"ssl on port 587 stays", 25, 465, 25, utNoTLSSupport, 587, utUseImplicitTLS, 587},
      {"plain mailbox on 465 after a TLS one", 25, 465, 465, utUseImplicitTLS, 465, utNoTLSSupport, 25},
      {"plain mailbox on 995 after a TLS one", 110, 995, 995, utUseImplicitTLS, 995, utNoTLSSupport, 110},
      {"ssl on the TLS port stays there", 25, 465, 25, utNoTLSSupport, 465, utUseImplicitTLS, 465},
      {"same mode again: port untouched", 25, 465, 465, utUseImplicitTLS, 25, utUseImplicitTLS, 25},
      {"plain after plain on 465", 25, 465, 25, utNoTLSSupport, 465, utNoTLSSupport, 465},
  };
  TIdSSLIOHandlerSocketOpenSSL tls;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIdTCPConnection conn(c.plain, c.tls);
    conn.SetIOHandler(&tls);
    conn.Port = c.before;
    conn.SetUseTLS(c.previous);
    // The engine's order: port first, then handler and mode (mode first when switching off).
    conn.Port = c.assigned;
    if (c.mode == utNoTLSSupport) {
      conn.SetUseTLS(utNoTLSSupport);
      conn.SetIOHandler(nullptr);
    } else {
      conn.SetIOHandler(&tls);
      conn.SetUseTLS(c.mode);
    }
    EXPECT_EQ(conn.Port, c.expected);
  }
}

TEST(ConnectionSettings, TlsModeNeedsTransportAndNoConnection) {
  TIdTCPConnection conn(25, 465);
  EXPECT_EQ(ErrorOf([&] { conn.SetUseTLS(utUseImplicitTLS); }), "SSL IOHandler is required for this setting");
  EXPECT_EQ(conn.Port, 25);

  TIdSSLIOHandlerSocketOpenSSL tls;
  conn.SetIOHandler(&tls);
  conn.SetUseTLS(utUseImplicitTLS);
  conn.SetIOHandler(nullptr);  // removing the transport falls back to no TLS
  EXPECT_EQ(conn.GetUseTLS(), utNoTLSSupport);

  fake::FakeServer srv;
  srv.Start();
  Client c(srv.Port());
  c.Connect();
  EXPECT_EQ(ErrorOf([&] { c.SetIOHandler(&tls); }), "This value can not be set while the client is connected.");
  EXPECT_EQ(ErrorOf([&] { c.SetUseTLS(utNoTLSSupport); }),
            "This value can not be set while the client is connected.");
  EXPECT_EQ(ErrorOf([&] { c.Connect(); }), "Already connected.");
}

TEST(ConnectionSettings, EmptyHostOrPortZeroAndCommandsWithoutConnection) {
  TIdTCPConnection conn(25, 465);
  EXPECT_EQ(ErrorOf([&] { conn.Connect(); }), "");  // empty host: an error without text
  conn.Host = "127.0.0.1";
  conn.Port = 0;
  EXPECT_EQ(ErrorOf([&] { conn.Connect(); }), "");
  EXPECT_FALSE(conn.Connected());
  EXPECT_EQ(ErrorOf([&] { conn.WriteLn("NOOP"); }), "Not Connected");
  EXPECT_EQ(ErrorOf([&] { conn.ReadLn(); }), "Not Connected");
  EXPECT_EQ(ErrorOf([&] { conn.SendCmd("NOOP", {250}); }), "Not Connected");
}

// ---------------------------------------------------------------------------
// Line reader
// ---------------------------------------------------------------------------

TEST(ConnectionReadLn, LineEndsAndLengthLimit) {
  const std::string max(TIdTCPConnection::kMaxLineLength, 'a');
  fake::FakeServer srv;
  srv.Send("crlf\r\nlf\nmid\rcr\r\n\r\n")  // one CR before LF is removed; inner CR stays
      .Send(max + "\r\n")                    // exactly the limit, with CR LF
      .Send(max + "\n")                      // exactly the limit, with LF
      .Send(max + "b\r\n");                  // one over the limit
  srv.Start();
  Client c(srv.Port());
  c.Connect();
  EXPECT_EQ(c.ReadLn(), "crlf");
  EXPECT_EQ(c.ReadLn(), "lf");
  EXPECT_EQ(c.ReadLn(), "mid\rcr");
  EXPECT_EQ(c.ReadLn(), "");
  EXPECT_EQ(c.ReadLn(), max);
  EXPECT_EQ(c.ReadLn(), max);
  EXPECT_EQ(ErrorOf([&] { c.ReadLn(); }), "Max line length exceeded.");
}

TEST(ConnectionReadLn, OverlongLineWithoutLineEndFailsAtOnce) {
  // 16385 characters and then silence: the reader must not wait for a line end.
  fake::FakeServer srv;
  srv.Send(std::string(16385, 'x'));
  srv.Start();
  Client c(srv.Port());
  c.ReadTimeout = 20000;
  c.Connect();
  auto t0 = Clock::now();
  EXPECT_EQ(ErrorOf([&] { c.ReadLn(); }), "Max line length exceeded.");
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
}

TEST(ConnectionReadLn, ManyLinesAcrossBufferRefills) {
  // Lines that straddle the 32768-byte refills come out whole and in order.
  std::string all;
  for (int i = 0; i < 5000; ++i) all += "line " + std::to_string(i) + std::string(i % 97, '.') + "\r\n";
  fake::FakeServer srv;
  srv.Send(all).Close();
  srv.Start();
  Client c(srv.Port());
  c.Connect();
  for (int i = 0; i < 5000; ++i) {
    std::string expected = "line " + std::to_string(i) + std::string(i % 97, '.');
    ASSERT_EQ(c.ReadLn(), expected) << "line " << i;
  }
  EXPECT_EQ(ErrorOf([&] { c.ReadLn(); }), "Connection Closed Gracefully.");
  EXPECT_FALSE(c.Connected());
}

TEST(ConnectionReadLn, ExactByteCountsAndReadable) {
  fake::FakeServer srv;
  srv.Send("abc\r\n0123456789tail\r\n").Delay(300).SendLine("late");
  srv.Start();
  Client c(srv.Port());
  c.Connect();
  EXPECT_EQ(c.ReadLn(), "abc");
  EXPECT_EQ(c.ReadString(10), "0123456789");
  EXPECT_TRUE(c.Readable(0));  // "tail" is buffered
  EXPECT_EQ(c.ReadLn(), "tail");
  EXPECT_FALSE(c.Readable(50));
  EXPECT_TRUE(c.Readable(3000));
  EXPECT_EQ(c.ReadLn(), "late");
}

// ---------------------------------------------------------------------------
// Replies
// ---------------------------------------------------------------------------

TEST(ConnectionReply, MultiLineRepliesAndCodes) {
  fake::FakeServer srv;
  srv.Send("\r\n   \r\n250-first\r\n250-second line\r\n\r\n250 last\r\n")  // empty lines skipped
      .Reply("NOOP", "  554 5.7.1 refused here  ")                          // trimmed
      .Reply("X", "abc nonsense")
      .Reply("Y", "42")
      .Reply("Z", "220")                                                    // short line
      .Close();
  srv.Start();
  Client c(srv.Port());
  c.Connect();
  const TIdReply& r = c.GetResponse({250});
  EXPECT_EQ(r.Code, "250");
  EXPECT_EQ(r.NumericCode, 250);
  EXPECT_EQ(r.Text, (std::vector<std::string>{"first", "second line", "last"}));

  try {
    c.SendCmd("NOOP", {250, 251});
    ADD_FAILURE() << "no error";
  } catch (const EIdReplyError& e) {
    EXPECT_STREQ(e.what(), "5.7.1 refused here");
    EXPECT_EQ(e.NumericCode, 554);
    EXPECT_EQ(c.LastCmdResult().EnhancedCode, "5.7.1");
  }
  EXPECT_EQ(ErrorOf([&] { c.SendCmd("X"); }), "Reply Code is not valid: abc");
  EXPECT_EQ(ErrorOf([&] { c.SendCmd("Y"); }), "Reply Code is not valid: 42");
  EXPECT_EQ(c.SendCmd("Z", {220}).Text, std::vector<std::string>{""});
}

TEST(ConnectionReply, EndlessReplyIsBounded) {
  // A server that never ends its multi-line reply must not make the client grow without end.
  fake::FakeServer srv;
  srv.Call([](fake::FakeConnection& c) {
    const std::string chunk = [] {
      std::string s;
      for (int i = 0; i < 100; ++i) s += "250-" + std::string(1000, 'z') + "\r\n";
      return s;
    }();
    for (int i = 0; i < 40; ++i) c.Write(chunk);  // about 4 MB
  });
  srv.Start();
  Client c(srv.Port());
  c.Connect();
  EXPECT_EQ(ErrorOf([&] { c.GetResponse(); }), "Reply exceeds the maximum size.");
}

// ---------------------------------------------------------------------------
// Writing and progress
// ---------------------------------------------------------------------------

TEST(ConnectionWrite, BufferedBytesAreExactAndProgressCountsThem) {
  const std::string big(100000, 'q');  // larger than the write buffer
  fake::FakeServer srv;
  srv.Expect("one").Expect("two").Call([&](fake::FakeConnection& c) {
    std::string got;
    if (!c.ReadBytes(big.size() + 2, got) || got != big + "\r\n") c.Fail("big write arrived damaged");
  });
  srv.Reply("three", "250 ok").SendLine("r1").SendLine("r22");
  srv.Start();
  Client c(srv.Port());
  std::vector<std::pair<TWorkMode, int64_t>> events;
  c.OnWork = [&](TIdTCPConnection& sender, TWorkMode m, int64_t n) {
    EXPECT_EQ(&sender, &c);
    events.emplace_back(m, n);
  };
  c.Connect();
  c.WriteLn("one");  // before the transfer: not counted
  c.BeginWork(wmWrite);
  c.WriteLn("two");
  c.WriteLn(big);
  c.EndWork(wmWrite);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), std::make_pair(wmWrite, int64_t(5 + big.size() + 2)));
  for (std::size_t i = 1; i < events.size(); ++i) EXPECT_GT(events[i].second, events[i - 1].second);

  events.clear();
  c.SendCmd("three", {250});  // outside a transfer: no events
  EXPECT_TRUE(events.empty());
  c.BeginWork(wmRead);
  c.BeginWork(wmRead);  // nested: counts on
  EXPECT_EQ(c.ReadLn(), "r1");
  c.EndWork(wmRead);
  EXPECT_EQ(c.ReadLn(), "r22");
  c.EndWork(wmRead);
  EXPECT_EQ(events, (std::vector<std::pair<TWorkMode, int64_t>>{{wmRead, 4}, {wmRead, 9}}));
  EXPECT_TRUE(srv.WaitReceived("three", 3000));
  EXPECT_EQ(srv.Error(), "");
}

// ---------------------------------------------------------------------------
// Socket errors and time-outs
// ---------------------------------------------------------------------------

TEST(ConnectionErrors, WinsockCodesAndTexts) {
  struct Case {
    int err;
    int code;
    const char* text;
  };
  const Case cases[] = {
      {ECONNREFUSED, 10061, "Connection refused."}, {ETIMEDOUT, 10060, "Connection timed out."},
      {ECONNRESET, 10054, "Connection reset by peer."}, {EHOSTUNREACH, 10065, "No route to host."},
      {ENETUNREACH, 10051, "Network is unreachable."}, {ECONNABORTED, 10053, "Software caused connection abort."},
      {ENOTCONN, 10057, "Socket is not connected."}, {ESHUTDOWN, 10058, "Cannot send or receive after socket is closed."},
      {EHOSTDOWN, 10064, "Host is down."}, {ENETDOWN, 10050, "Network is down."},
      {ENETRESET, 10052, "Net dropped connection or reset."}, {EADDRINUSE, 10048, "Address already in use."},
      {EADDRNOTAVAIL, 10049, "Cannot assign requested address."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(sockerr::WinsockCodeFromErrno(c.err), c.code);
    EXPECT_EQ(sockerr::SocketErrorMessage(c.code), "Socket Error # " + std::to_string(c.code) + "\r\n" + c.text);
  }
  EXPECT_EQ(sockerr::WinsockErrorText(11001), "Host not found.");
}

TEST(ConnectionErrors, RefusedAndClosedAndReset) {
  {
    Client c(fake::UnusedPort());
    EXPECT_EQ(ErrorOf([&] { c.Connect(); }), "Socket Error # 10061\r\nConnection refused.");
    EXPECT_FALSE(c.Connected());
  }
  {
    fake::FakeServer srv;
    srv.Close();
    srv.Start();
    Client c(srv.Port());
    c.Connect();
    EXPECT_EQ(ErrorOf([&] { c.ReadLn(); }), "Connection Closed Gracefully.");
    EXPECT_FALSE(c.Connected());
    c.Disconnect();  // harmless after the peer's close
  }
  {
    fake::FakeServer srv;
    srv.Expect("HELLO").Reset();
    srv.Start();
    Client c(srv.Port());
    c.Connect();
    try {
      c.SendCmd("HELLO");
      ADD_FAILURE() << "no error";
    } catch (const EIdSocketError& e) {
      EXPECT_STREQ(e.what(), "Socket Error # 10054\r\nConnection reset by peer.");
      EXPECT_EQ(e.LastError, 10054);
    }
    EXPECT_FALSE(c.Connected());
  }
}

TEST(ConnectionErrors, SilentServerTimesOut) {
  fake::FakeServer srv;  // accepts, never answers
  srv.Start();
  Client c(srv.Port());
  c.ReadTimeout = 300;
  c.Connect();
  auto t0 = Clock::now();
  EXPECT_EQ(ErrorOf([&] { c.ReadLn(); }), "Socket Error # 10060\r\nConnection timed out.");
  auto elapsed = Clock::now() - t0;
  EXPECT_GE(elapsed, std::chrono::milliseconds(250));
  EXPECT_LT(elapsed, std::chrono::seconds(3));
  // The stream position is unknown after a time-out: the connection is dropped, so a
  // goodbye would not wait a second time.
  EXPECT_FALSE(c.Connected());
}

TEST(ConnectionErrors, ConnectTimesOutWhenNobodyAccepts) {
  // A listener with a full backlog that never accepts: further handshakes stay unanswered.
  int lfd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(lfd, 0), 0);
  socklen_t len = sizeof a;
  ::getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ::connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers.push_back(f);
  }
  Client c(ntohs(a.sin_port));
  c.ConnectTimeout = 300;
  auto t0 = Clock::now();
  EXPECT_EQ(ErrorOf([&] { c.Connect(); }), "Socket Error # 10060\r\nConnection timed out.");
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(3));
  EXPECT_FALSE(c.Connected());
  for (int f : fillers) ::close(f);
  ::close(lfd);
}

// ---------------------------------------------------------------------------
// TLS
// ---------------------------------------------------------------------------

struct TlsClient : Client {
  TlsClient(uint16_t port, TIdSSLIOHandlerSocketOpenSSL& tls) : Client(port) {
    SetIOHandler(&tls);
    SetUseTLS(utUseImplicitTLS);
    Port = port;  // the fake server's port, not 465
  }
};

TEST(ConnectionTls, VerifiedSessionCarriesLines) {
  auto cert = fake::MakeSelfSignedCert();
  std::string ca = fake::WriteTempFile(cert.CertPem);
  fake::FakeServer srv;
  srv.UseTLS(cert.CertPem, cert.KeyPem);
  srv.SendLine("220 tls hello").Reply("PING", "250 " + std::string(16000, 'p')).Expect("QUIT").Close();
  srv.Start();

  TIdSSLIOHandlerSocketOpenSSL tls;
  tls.SSLOptions.RootCertFile = ca;
  TlsClient c(srv.Port(), tls);
  c.Connect();
  EXPECT_TRUE(tls.Active());
  EXPECT_EQ(c.ReadLn(), "220 tls hello");
  EXPECT_EQ(c.SendCmd("PING", {250}).Text[0].size(), 16000u);
  c.WriteLn("QUIT");
  EXPECT_EQ(ErrorOf([&] { c.ReadLn(); }), "Connection Closed Gracefully.");
  EXPECT_FALSE(tls.Active());
  EXPECT_TRUE(srv.WaitDone(3000));
  EXPECT_EQ(srv.Error(), "");
  std::remove(ca.c_str());
}

TEST(ConnectionTls, CertificateCheckFailures) {
  auto trusted = fake::MakeSelfSignedCert();
  auto otherName = fake::MakeSelfSignedCert("mail.example.org", "DNS:mail.example.org");
  std::string trustedCa = fake::WriteTempFile(trusted.CertPem);
  std::string otherCa = fake::WriteTempFile(otherName.CertPem);
  struct Case {
    const char* name;
    const fake::CertAndKey* serverCert;
    std::string rootFile;  // empty: system trust store
    const char* reason;    // expected in the text after the fixed first line
  };
  const Case cases[] = {
      {"self-signed, not trusted", &trusted, "", "certificate verify failed: self-signed certificate"},
      {"trusted for another name", &otherName, otherCa, "certificate verify failed: IP address mismatch"},
      {"signed by a different key", &otherName, trustedCa, "certificate verify failed"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    fake::FakeServer srv;
    srv.UseTLS(k.serverCert->CertPem, k.serverCert->KeyPem);
    srv.SendLine("220 hello");
    srv.Start();
    TIdSSLIOHandlerSocketOpenSSL tls;
    tls.SSLOptions.RootCertFile = k.rootFile;
    TlsClient c(srv.Port(), tls);
    std::string err = ErrorOf([&] { c.Connect(); });
    EXPECT_EQ(err.rfind("Error connecting with SSL.\r\n", 0), 0u) << err;
    EXPECT_NE(err.find(k.reason), std::string::npos) << err;
    EXPECT_FALSE(c.Connected());
  }
  std::remove(trustedCa.c_str());
  std::remove(otherCa.c_str());
}

TEST(ConnectionTls, VerificationOffAcceptsSelfSigned) {
  auto cert = fake::MakeSelfSignedCert("mail.example.org", "DNS:mail.example.org");
  fake::FakeServer srv;
  srv.UseTLS(cert.CertPem, cert.KeyPem);
  srv.SendLine("220 hello");
  srv.Start();
  TIdSSLIOHandlerSocketOpenSSL tls;
  tls.SSLOptions.VerifyPeer = false;
  TlsClient c(srv.Port(), tls);
  c.Connect();
  EXPECT_EQ(c.ReadLn(), "220 hello");
}

TEST(ConnectionTls, HandshakeWithNonTlsOrSilentServer) {
  TIdSSLIOHandlerSocketOpenSSL tls;
  {
    fake::FakeServer srv;  // speaks plain text
    srv.SendLine("220 plain server here").Close();
    srv.Start();
    TlsClient c(srv.Port(), tls);
    std::string err = ErrorOf([&] { c.Connect(); });
    EXPECT_EQ(err.rfind("Error connecting with SSL.", 0), 0u) << err;
    EXPECT_FALSE(c.Connected());
  }
  {
    fake::FakeServer srv;  // closes at once
    srv.Close();
    srv.Start();
    TlsClient c(srv.Port(), tls);
    std::string err = ErrorOf([&] { c.Connect(); });
    EXPECT_EQ(err.rfind("Error connecting with SSL.", 0), 0u) << err;
  }
  {
    fake::FakeServer srv;  // accepts and never answers the handshake
    srv.Start();
    TlsClient c(srv.Port(), tls);
    c.ConnectTimeout = 300;
    auto t0 = Clock::now();
    EXPECT_EQ(ErrorOf([&] { c.Connect(); }), "Socket Error # 10060\r\nConnection timed out.");
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(3));
    EXPECT_FALSE(c.Connected());
  }
}

TEST(ConnectionTls, CipherListAndRootFileErrors) {
  fake::FakeServer srv;
  srv.Start();
  TIdSSLIOHandlerSocketOpenSSL tls;
  tls.SSLOptions.CipherList = "NO-SUCH-CIPHER";
  TlsClient c(srv.Port(), tls);
  EXPECT_EQ(ErrorOf([&] { c.Connect(); }), "SetCipher failed.");
  EXPECT_FALSE(c.Connected());

  tls.SSLOptions.CipherList.clear();
  tls.SSLOptions.RootCertFile = "/nonexistent/ca.pem";
  EXPECT_EQ(ErrorOf([&] { c.Connect(); }), "Could not load root certificate.");
}

}  // namespace
