// A scripted fake TCP server on 127.0.0.1 for protocol-client tests.
//
// Use it only for what a real server will not do: refusals, malformed or overlong lines,
// silence, broken connections, wrong certificates.
//
//   fake::FakeServer srv;                     // listens on 127.0.0.1, ephemeral port
//   srv.SendLine("220 fake ESMTP")            // the script, run for ONE connection:
//      .Reply("EHLO *", "500 no")             //   Expect(line) + SendLine(reply)
//      .Reply("HELO *", "250 ok")
//      .Expect("QUIT").SendLine("221 bye")
//      .Close();
//   srv.Start();                              // accept thread begins
//   client.Host = "127.0.0.1"; client.Port = srv.Port(); ...
//   EXPECT_TRUE(srv.WaitDone(5000));          // script finished and connection closed
//   EXPECT_EQ(srv.Error(), "");               // no line differed from the script
//   srv.Received();                           // every line the client sent, in order
//
// Steps:
//   Send(bytes)        raw bytes (e.g. std::string(16385, 'x') for an overlong line)
//   SendLine(text)     text + CR LF
//   Expect(pattern)    read one line (CR LF / LF removed); it must match the pattern:
//                      exact, or with a trailing "*" a prefix. A mismatch records an
//                      error and closes the connection.
//   Reply(pat, text)   Expect(pat) + SendLine(text)
//   ReadLine()         read one line, any text
//   ReadUntil(line)    read lines up to and including one equal to line (SMTP DATA: ".");
//                      the lines before it are also kept in DataLines()
//   Delay(ms)          sleep
//   Close()            close the connection (orderly FIN)
//   Reset()            close with RST (SO_LINGER 0)
//   Call(fn)           run fn(FakeConnection&) for anything custom (read n bytes, ...)
//   ExpectQuiet(ms)    the client sends nothing for ms (it waits for a reply); input that
//                      arrives records an error
// After the last step the server keeps reading and recording lines without answering
// (a "silent" server) until the client closes or the server is destroyed.
//
// TLS: UseTLS(certPem, keyPem) makes the connection implicit TLS (handshake right after
// accept). MakeSelfSignedCert() builds a throwaway certificate (names localhost and
// 127.0.0.1). A failed handshake is recorded in Error() as "TLS handshake failed".
//
// Other helpers: UnusedPort() gives a loopback port with nothing listening (for
// "connection refused"); WriteTempFile() stores a PEM for SSLOptions.RootCertFile.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fake {

struct CertAndKey {
  std::string CertPem;
  std::string KeyPem;
};

// A self-signed certificate (EC P-256, valid from now-1h for 1 day) with common name cn and
// the given subject alternative names (OpenSSL form, e.g. "DNS:mail.example.org").
CertAndKey MakeSelfSignedCert(const std::string& cn = "localhost",
                              const std::string& altNames = "DNS:localhost,IP:127.0.0.1");

// Writes text to a new file in the temp folder and returns its path (removed by the test's
// own cleanup, or left in /tmp).
std::string WriteTempFile(const std::string& text, const std::string& suffix = ".pem");

// A loopback port on which nothing listens right now.
uint16_t UnusedPort();

// The server side of one accepted connection, for Call() steps.
class FakeConnection {
public:
  virtual ~FakeConnection() = default;
  // Returns false when the client closed or the server is stopping.
  virtual bool ReadLine(std::string& line) = 0;
  virtual bool ReadBytes(std::size_t n, std::string& out) = 0;
  virtual void Write(const std::string& bytes) = 0;
  virtual void WriteLine(const std::string& line) = 0;
  virtual void Fail(const std::string& error) = 0;  // record an error, close
  // True when input is waiting or arrives within ms.
  virtual bool InputWithin(int ms) = 0;
};

class FakeServer {
public:
  FakeServer();
  ~FakeServer();
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

  uint16_t Port() const { return FPort; }

  FakeServer& Send(const std::string& bytes);
  FakeServer& SendLine(const std::string& line);
  FakeServer& Expect(const std::string& pattern);
  FakeServer& Reply(const std::string& pattern, const std::string& line);
  FakeServer& ReadLine();
  FakeServer& ReadUntil(const std::string& terminator);
  FakeServer& Delay(int ms);
  FakeServer& Close();
  FakeServer& Reset();
  FakeServer& Call(std::function<void(FakeConnection&)> fn);
  FakeServer& ExpectQuiet(int ms);

  void UseTLS(const std::string& certPem, const std::string& keyPem);

  void Start();
  // Waits until the script has run and the connection is closed.
  bool WaitDone(int timeoutMs);
  // Waits until the client has sent a line equal to `line`.
  bool WaitReceived(const std::string& line, int timeoutMs);

  std::vector<std::string> Received() const;   // lines from the client, in order
  std::vector<std::string> DataLines() const;  // lines collected by ReadUntil
  std::string Error() const;                   // first script failure, empty if none
  bool Accepted() const { return FAccepted; }

  struct Step;

private:
  class Conn;
  void Run();
  void SetError(const std::string& e);

  int FListen = -1;
  uint16_t FPort = 0;
  std::vector<std::unique_ptr<Step>> FSteps;
  std::string FCertPem, FKeyPem;
  std::thread FThread;
  std::atomic<bool> FStop{false};
  std::atomic<bool> FAccepted{false};
  mutable std::mutex FMutex;
  std::condition_variable FCond;
  bool FDone = false;
  std::vector<std::string> FReceived;
  std::vector<std::string> FData;
  std::string FError;
};

}  // namespace fake
