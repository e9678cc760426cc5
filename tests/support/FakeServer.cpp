#include "FakeServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace fake {

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

CertAndKey MakeSelfSignedCert(const std::string& cn, const std::string& altNames) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* x = X509_new();
  if (!key || !x) throw std::runtime_error("MakeSelfSignedCert: out of memory");
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), static_cast<long>(std::rand() & 0x7fffffff) + 1);
  X509_gmtime_adj(X509_getm_notBefore(x), -3600);
  X509_gmtime_adj(X509_getm_notAfter(x), 86400);
  X509_set_pubkey(x, key);
  X509_NAME* name = X509_get_subject_name(x);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn.c_str()),
                             -1, -1, 0);
  X509_set_issuer_name(x, name);
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, x, x, nullptr, nullptr, 0);
  const char* exts[][2] = {{"subjectAltName", altNames.c_str()},
                           {"basicConstraints", "critical,CA:TRUE"},
                           {"keyUsage", "critical,digitalSignature,keyCertSign"}};
  for (auto& e : exts) {
    X509_EXTENSION* ext = X509V3_EXT_conf(nullptr, &ctx, e[0], e[1]);
    if (ext) {
      X509_add_ext(x, ext, -1);
      X509_EXTENSION_free(ext);
    }
  }
  X509_sign(x, key, EVP_sha256());

  auto toPem = [](auto write) {
    BIO* b = BIO_new(BIO_s_mem());
    write(b);
    char* p = nullptr;
    long n = BIO_get_mem_data(b, &p);
    std::string s(p, static_cast<std::size_t>(n));
    BIO_free(b);
    return s;
  };
  CertAndKey out;
  out.CertPem = toPem([&](BIO* b) { PEM_write_bio_X509(b, x); });
  out.KeyPem = toPem([&](BIO* b) { PEM_write_bio_PrivateKey(b, key, nullptr, nullptr, 0, nullptr, nullptr); });
  X509_free(x);
  EVP_PKEY_free(key);
  return out;
}

std::string WriteTempFile(const std::string& text, const std::string& suffix) {
  const char* dir = std::getenv("TMPDIR");
  std::string tmpl = std::string(dir && *dir ? dir : "/tmp") + "/tavrel-test-XXXXXX" + suffix;
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  int fd = ::mkstemps(buf.data(), static_cast<int>(suffix.size()));
  if (fd < 0) throw std::runtime_error("WriteTempFile: cannot create file");
  std::size_t off = 0;
  while (off < text.size()) {
    ssize_t n = ::write(fd, text.data() + off, text.size() - off);
    if (n <= 0) break;
    off += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return std::string(buf.data());
}

uint16_t UnusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);  // bound but never listened: nothing accepts on it now
  return ntohs(a.sin_port);
}

namespace {

bool Matches(const std::string& pattern, const std::string& line) {
  if (!pattern.empty() && pattern.back() == '*')
    return line.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
  return line == pattern;
}

constexpr int kPollMs = 50;

}  // namespace

// ---------------------------------------------------------------------------
// Steps
// ---------------------------------------------------------------------------

struct FakeServer::Step {
  enum Kind { kSend, kExpect, kReadLine, kReadUntil, kDelay, kClose, kReset, kCall } kind;
  std::string text;
  int ms = 0;
  std::function<void(FakeConnection&)> fn;
};

FakeServer& FakeServer::Send(const std::string& bytes) {
  FSteps.push_back(std::make_unique<Step>(Step{Step::kSend, bytes, 0, {}}));
  return *this;
}
FakeServer& FakeServer::SendLine(const std::string& line) { return Send(line + "\r\n"); }
FakeServer& FakeServer::Expect(const std::string& pattern) {
  FSteps.push_back(std::make_unique<Step>(Step{Step::kExpect, pattern, 0, {}}));
  return *this;
}
FakeServer& FakeServer::Reply(const std::string& pattern, const std::string& line) {
  return Expect(pattern).SendLine(line);
}
FakeServer& FakeServer::ReadLine() {
  FSteps.push_back(std::make_unique<Step>(Step{Step::kReadLine, {}, 0, {}}));
  return *this;
}
FakeServer& FakeServer::ReadUntil(const std::string& terminator) {
  FSteps.push_back(std::make_unique<Step>(Step{Step::kReadUntil, terminator, 0, {}}));
  return *this;
}
FakeServer& FakeServer::ExpectQuiet(int ms) {
  return Call([ms](FakeConnection& c) {
    if (c.InputWithin(ms)) c.Fail("the client sent more before the reply");
  });
}
FakeServer& FakeServer::Delay(int ms) {
  FSteps.push_back(std::make_unique<Step>(Step{Step::kDelay, {}, ms, {}}));
  return *this;
}
FakeServer& FakeServer::Close() {
  FSteps.push_back(std::make_unique<Step>(Step{Step::kClose, {}, 0, {}}));
  return *this;
}
FakeServer& FakeServer::Reset() {
  FSteps.push_back(std::make_unique<Step>(Step{Step::kReset, {}, 0, {}}));
  return *this;
}
FakeServer& FakeServer::Call(std::function<void(FakeConnection&)> fn) {
  FSteps.push_back(std::make_unique<Step>(Step{Step::kCall, {}, 0, std::move(fn)}));
  return *this;
}

void FakeServer::UseTLS(const std::string& certPem, const std::string& keyPem) {
  FCertPem = certPem;
  FKeyPem = keyPem;
}

// ---------------------------------------------------------------------------
// Connection
// ---------------------------------------------------------------------------

class FakeServer::Conn : public FakeConnection {
public:
  Conn(FakeServer& s, int fd) : FServer(s), FFd(fd) {}
  ~Conn() override { CloseNow(false); }

  bool StartTLS(const std::string& certPem, const std::string& keyPem) {
    FCtx = SSL_CTX_new(TLS_server_method());
    BIO* cb = BIO_new_mem_buf(certPem.data(), static_cast<int>(certPem.size()));
    X509* cert = PEM_read_bio_X509(cb, nullptr, nullptr, nullptr);
    BIO_free(cb);
    BIO* kb = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(kb, nullptr, nullptr, nullptr);
    BIO_free(kb);
    bool ok = FCtx && cert && key && SSL_CTX_use_certificate(FCtx, cert) == 1 &&
              SSL_CTX_use_PrivateKey(FCtx, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    if (!ok) return false;
    FSSL = SSL_new(FCtx);
    SSL_set_fd(FSSL, FFd);
    for (;;) {
      int r = SSL_accept(FSSL);
      if (r == 1) return true;
      int e = SSL_get_error(FSSL, r);
      if ((e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) && !FServer.FStop) continue;
      ERR_clear_error();
      return false;
    }
  }

  bool ReadLine(std::string& line) override {
    for (;;) {
      std::size_t lf = FBuf.find('\n');
      if (lf != std::string::npos) {
        line = FBuf.substr(0, lf);
        FBuf.erase(0, lf + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::lock_guard<std::mutex> g(FServer.FMutex);
        FServer.FReceived.push_back(line);
        FServer.FCond.notify_all();
        return true;
      }
      if (!Fill()) return false;
    }
  }

  bool ReadBytes(std::size_t n, std::string& out) override {
    while (FBuf.size() < n)
      if (!Fill()) return false;
    out = FBuf.substr(0, n);
    FBuf.erase(0, n);
    return true;
  }

  void Write(const std::string& bytes) override {
    std::size_t off = 0;
    while (off < bytes.size() && FFd >= 0 && !FServer.FStop) {
      ssize_t n;
      if (FSSL) {
        int r = SSL_write(FSSL, bytes.data() + off, static_cast<int>(bytes.size() - off));
        if (r <= 0) {
          int e = SSL_get_error(FSSL, r);
          if (e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_WANT_READ) continue;
          return;
        }
        n = r;
      } else {
        n = ::send(FFd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n < 0) {
          if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
          return;  // the client went away; the test looks at what the client saw
        }
      }
      off += static_cast<std::size_t>(n);
    }
  }

  void WriteLine(const std::string& line) override { Write(line + "\r\n"); }

  void Fail(const std::string& error) override {
    FServer.SetError(error);
    CloseNow(false);
  }

  void CloseNow(bool reset) {
    if (FSSL) {
      if (!reset) SSL_shutdown(FSSL);
      SSL_free(FSSL);
      FSSL = nullptr;
    }
    if (FCtx) {
      SSL_CTX_free(FCtx);
      FCtx = nullptr;
    }
    if (FFd >= 0) {
      if (reset) {
        linger l{1, 0};
        ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
      }
      ::close(FFd);
      FFd = -1;
    }
  }

  bool Open() const { return FFd >= 0; }

private:
  bool InputWithin(int ms) override {
    if (!FBuf.empty()) return true;
    if (FFd < 0) return false;
    if (FSSL && SSL_pending(FSSL) > 0) return true;
    pollfd p{FFd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
  }

  bool Fill() {
    char buf[16384];
    while (FFd >= 0 && !FServer.FStop) {
      if (FSSL && SSL_pending(FSSL) == 0) {
        pollfd p{FFd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) == 0) continue;
      } else if (!FSSL) {
        pollfd p{FFd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) == 0) continue;
      }
      ssize_t n;
      if (FSSL) {
        int r = SSL_read(FSSL, buf, sizeof buf);
        if (r <= 0) {
          int e = SSL_get_error(FSSL, r);
          if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) continue;
          ERR_clear_error();
          return false;
        }
        n = r;
      } else {
        n = ::recv(FFd, buf, sizeof buf, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
      }
      FBuf.append(buf, static_cast<std::size_t>(n));
      return true;
    }
    return false;
  }

  FakeServer& FServer;
  int FFd;
  SSL_CTX* FCtx = nullptr;
  SSL* FSSL = nullptr;
  std::string FBuf;
};

// ---------------------------------------------------------------------------
// Server
// ---------------------------------------------------------------------------

FakeServer::FakeServer() {
  FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  if (::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(FListen, 4) != 0)
    throw std::runtime_error("FakeServer: cannot listen on 127.0.0.1");
  socklen_t len = sizeof a;
  ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len);
  FPort = ntohs(a.sin_port);
}

FakeServer::~FakeServer() {
  FStop = true;
  if (FThread.joinable()) FThread.join();
  if (FListen >= 0) ::close(FListen);
}

void FakeServer::Start() { FThread = std::thread([this] { Run(); }); }

void FakeServer::SetError(const std::string& e) {
  std::lock_guard<std::mutex> g(FMutex);
  if (FError.empty()) FError = e;
}

void FakeServer::Run() {
  int fd = -1;
  while (!FStop) {
    pollfd p{FListen, POLLIN, 0};
    if (::poll(&p, 1, kPollMs) > 0) {
      fd = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) break;
    }
  }
  if (fd >= 0) {
    FAccepted = true;
    // Blocking calls wake up regularly, so that a stopping server never hangs in them.
    timeval tv{0, kPollMs * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    Conn c(*this, fd);
    bool ok = true;
    if (!FCertPem.empty() && !c.StartTLS(FCertPem, FKeyPem)) {
      SetError("TLS handshake failed");
      ok = false;
    }
    for (std::size_t i = 0; ok && i < FSteps.size() && c.Open() && !FStop; ++i) {
      Step& s = *FSteps[i];
      std::string line;
      switch (s.kind) {
        case Step::kSend: c.Write(s.text); break;
        case Step::kExpect:
          if (!c.ReadLine(line)) {
            SetError("connection closed while expecting \"" + s.text + "\"");
            ok = false;
          } else if (!Matches(s.text, line)) {
            c.Fail("expected \"" + s.text + "\", received \"" + line + "\"");
            ok = false;
          }
          break;
        case Step::kReadLine: ok = c.ReadLine(line); break;
        case Step::kReadUntil:
          for (;;) {
            if (!c.ReadLine(line)) {
              SetError("connection closed before \"" + s.text + "\"");
              ok = false;
              break;
            }
            if (line == s.text) break;
            std::lock_guard<std::mutex> g(FMutex);
            FData.push_back(line);
          }
          break;
        case Step::kDelay: {
          auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(s.ms);
          while (!FStop && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          break;
        }
        case Step::kClose: c.CloseNow(false); break;
        case Step::kReset: c.CloseNow(true); break;
        case Step::kCall: s.fn(c); break;
      }
    }
    // Script done: stay silent, recording what the client still sends, until it closes.
    std::string line;
    while (ok && c.Open() && !FStop && c.ReadLine(line)) {
    }
  }
  std::lock_guard<std::mutex> g(FMutex);
  FDone = true;
  FCond.notify_all();
}

bool FakeServer::WaitDone(int timeoutMs) {
  std::unique_lock<std::mutex> g(FMutex);
  return FCond.wait_for(g, std::chrono::milliseconds(timeoutMs), [this] { return FDone; });
}

bool FakeServer::WaitReceived(const std::string& line, int timeoutMs) {
  std::unique_lock<std::mutex> g(FMutex);
  return FCond.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] {
    for (const auto& l : FReceived)
      if (l == line) return true;
    return false;
  });
}

std::vector<std::string> FakeServer::Received() const {
  std::lock_guard<std::mutex> g(FMutex);
  return FReceived;
}

std::vector<std::string> FakeServer::DataLines() const {
  std::lock_guard<std::mutex> g(FMutex);
  return FData;
}

std::string FakeServer::Error() const {
  std::lock_guard<std::mutex> g(FMutex);
  return FError;
}

}  // namespace fake
