#include "IdSSLOpenSSL.h"

#include "IdTCPConnection.h"
#include "SocketError.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <mutex>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

// A socket BIO of our own: send() with MSG_NOSIGNAL, so a peer that drops the
// connection gives an error instead of SIGPIPE killing the process.
struct SockBioData {
  int fd = -1;
  bool eof = false;
  int lastErrno = 0;
};

int BioWrite(BIO* b, const char* data, int len) {
  auto* d = static_cast<SockBioData*>(BIO_get_data(b));
  BIO_clear_retry_flags(b);
  for (;;) {
    ssize_t n = ::send(d->fd, data, static_cast<std::size_t>(len), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    d->lastErrno = errno;
    if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_write(b);
    return -1;
  }
}

int BioRead(BIO* b, char* buf, int len) {
  auto* d = static_cast<SockBioData*>(BIO_get_data(b));
  BIO_clear_retry_flags(b);
  for (;;) {
    ssize_t n = ::recv(d->fd, buf, static_cast<std::size_t>(len), 0);
    if (n > 0) return static_cast<int>(n);
    if (n == 0) {
      d->eof = true;
      return 0;
    }
    if (errno == EINTR) continue;
    d->lastErrno = errno;
    if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_read(b);
    return -1;
  }
}

int BioPuts(BIO* b, const char* s) {
  std::size_t n = std::char_traits<char>::length(s);
  return BioWrite(b, s, static_cast<int>(n > INT_MAX ? INT_MAX : n));
}

long BioCtrl(BIO* b, int cmd, long, void*) {
  auto* d = static_cast<SockBioData*>(BIO_get_data(b));
  switch (cmd) {
    case BIO_CTRL_FLUSH: return 1;
    case BIO_CTRL_EOF: return d && d->eof ? 1 : 0;
    default: return 0;
  }
}

int BioCreate(BIO* b) {
  BIO_set_data(b, new SockBioData);
  BIO_set_init(b, 1);
  return 1;
}

int BioDestroy(BIO* b) {
  delete static_cast<SockBioData*>(BIO_get_data(b));
  BIO_set_data(b, nullptr);
  return 1;
}

BIO_METHOD* SockBioMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tavrel socket");
    if (m) {
      BIO_meth_set_write(m, BioWrite);
      BIO_meth_set_read(m, BioRead);
      BIO_meth_set_puts(m, BioPuts);
      BIO_meth_set_ctrl(m, BioCtrl);
      BIO_meth_set_create(m, BioCreate);
      BIO_meth_set_destroy(m, BioDestroy);
    }
    return m;
  }();
  return method;
}

bool IsIPv4Literal(const std::string& host) {
  in_addr a;
  return ::inet_pton(AF_INET, host.c_str(), &a) == 1;
}

// The reason of the last TLS failure: the library's error text, with the certificate
// check's result when that is what failed.
std::string FailureReason(SSL* ssl) {
  std::string reason;
  unsigned long e = ERR_peek_last_error();
  if (e != 0) {
    const char* r = ERR_reason_error_string(e);
    if (r) reason = r;
  }
  long verify = ssl ? SSL_get_verify_result(ssl) : X509_V_OK;
  if (verify != X509_V_OK) {
    std::string v = X509_verify_cert_error_string(verify);
    reason = reason.empty() ? v : reason + ": " + v;
  }
  ERR_clear_error();
  return reason;
}

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

TIdSSLIOHandlerSocketOpenSSL::~TIdSSLIOHandlerSocketOpenSSL() { Close(); }

void TIdSSLIOHandlerSocketOpenSSL::InitContext() {
  if (OPENSSL_init_ssl(0, nullptr) != 1) throw EIdOSSLError("Could not load SSL library.");
  ERR_clear_error();
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (!ctx) throw EIdOSSLError("Error creating SSL context.");
  auto fail = [ctx](const char* text) {
    SSL_CTX_free(ctx);
    ERR_clear_error();
    throw EIdOSSLError(text);
  };
  const std::string& ciphers = SSLOptions.CipherList.empty() ? std::string(kDefaultCipherList)
                                                             : SSLOptions.CipherList;
  // Items the library no longer knows (SSLv2, export ciphers) are skipped by it; only a
  // list that selects nothing at all is refused.
  if (SSL_CTX_set_cipher_list(ctx, ciphers.c_str()) != 1) fail("SetCipher failed.");
  if (!SSLOptions.RootCertFile.empty()) {
    if (SSL_CTX_load_verify_locations(ctx, SSLOptions.RootCertFile.c_str(), nullptr) != 1)
      fail("Could not load root certificate.");
  } else {
    SSL_CTX_set_default_verify_paths(ctx);  // system store, or SSL_CERT_FILE / SSL_CERT_DIR
  }
  if (!SSLOptions.CertFile.empty() &&
      SSL_CTX_use_certificate_file(ctx, SSLOptions.CertFile.c_str(), SSL_FILETYPE_PEM) != 1)
    fail("Could not load certificate.");
  if (!SSLOptions.KeyFile.empty() &&
      SSL_CTX_use_PrivateKey_file(ctx, SSLOptions.KeyFile.c_str(), SSL_FILETYPE_PEM) != 1)
    fail("Could not load key, check password.");
  if (SSLOptions.VerifyDepth > 0) SSL_CTX_set_verify_depth(ctx, SSLOptions.VerifyDepth);
  SSL_CTX_set_verify(ctx, SSLOptions.VerifyPeer ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  // Our protocols delimit their own data; a peer closing without close_notify is a close.
  SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
  SSL_CTX_set_mode(ctx, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  FContext = ctx;
}

void TIdSSLIOHandlerSocketOpenSSL::StartSSL(int fd, const std::string& hostName, int timeoutMs) {
  Close();
  ERR_clear_error();
  InitContext();
  FSSL = SSL_new(FContext);
  BIO_METHOD* method = SockBioMethod();
  BIO* bio = (FSSL && method) ? BIO_new(method) : nullptr;
  if (!bio) {
    Close();
    throw EIdOSSLError("Error binding data to SSL socket.");
  }
  static_cast<SockBioData*>(BIO_get_data(bio))->fd = fd;
  SSL_set_bio(FSSL, bio, bio);
  FSocket = fd;

  bool ok = true;
  if (!hostName.empty()) {
    if (IsIPv4Literal(hostName)) {
      if (SSLOptions.VerifyPeer)
        ok = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(FSSL), hostName.c_str()) == 1;
    } else {
      ok = SSL_set_tlsext_host_name(FSSL, hostName.c_str()) == 1;
      if (ok && SSLOptions.VerifyPeer) ok = SSL_set1_host(FSSL, hostName.c_str()) == 1;
    }
  }
  if (!ok) {
    Close();
    throw EIdOSSLError("Error binding data to SSL socket.");
  }
  SSL_set_connect_state(FSSL);

  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    ERR_clear_error();
    int r = SSL_connect(FSSL);
    if (r == 1) return;
    int err = SSL_get_error(FSSL, r);
    short events = 0;
    if (err == SSL_ERROR_WANT_READ) events = POLLIN;
    else if (err == SSL_ERROR_WANT_WRITE) events = POLLOUT;
    if (events) {
      if (!sockerr::WaitFd(fd, events, MsLeft(deadline))) {
        Close();
        throw EIdSocketError(sockerr::kTimedOut);
      }
      continue;
    }
    std::string reason = FailureReason(FSSL);
    if (reason.empty() && err == SSL_ERROR_SYSCALL) {
      auto* d = static_cast<SockBioData*>(BIO_get_data(bio));
      reason = d->eof || d->lastErrno == 0 ? std::string("the server closed the connection")
                                           : sockerr::WinsockErrorText(sockerr::WinsockCodeFromErrno(d->lastErrno));
    }
    Close();
    const std::string text = reason.empty() ? std::string("Error connecting with SSL.")
                                            : "Error connecting with SSL.\r\n" + reason;
    if (err == SSL_ERROR_SSL) throw EIdTLSHandshakeError(text);
    throw EIdOSSLError(text);
  }
}

std::size_t TIdSSLIOHandlerSocketOpenSSL::Read(char* buffer, std::size_t size, int timeoutMs) {
  if (!FSSL) throw EIdNotConnected();
  int want = size > INT_MAX ? INT_MAX : static_cast<int>(size);
  for (;;) {
    ERR_clear_error();
    int r = SSL_read(FSSL, buffer, want);
    if (r > 0) return static_cast<std::size_t>(r);
    int err = SSL_get_error(FSSL, r);
    if (err == SSL_ERROR_ZERO_RETURN) return 0;
    short events = 0;
    if (err == SSL_ERROR_WANT_READ) events = POLLIN;
    else if (err == SSL_ERROR_WANT_WRITE) events = POLLOUT;
    if (events) {
      if (!sockerr::WaitFd(FSocket, events, timeoutMs)) throw EIdSocketError(sockerr::kTimedOut);
      continue;
    }
    auto* d = static_cast<SockBioData*>(BIO_get_data(SSL_get_rbio(FSSL)));
    if (err == SSL_ERROR_SYSCALL) {
      ERR_clear_error();
      if (d->eof || d->lastErrno == 0) return 0;
      throw EIdSocketError(sockerr::WinsockCodeFromErrno(d->lastErrno));
    }
    std::string reason = FailureReason(nullptr);
    throw EIdOSSLError(reason.empty() ? std::string("Error reading with SSL.")
                                      : "Error reading with SSL.\r\n" + reason);
  }
}

std::size_t TIdSSLIOHandlerSocketOpenSSL::WriteSome(const char* data, std::size_t size, int timeoutMs) {
  if (!FSSL) throw EIdNotConnected();
  int want = size > INT_MAX ? INT_MAX : static_cast<int>(size);
  for (;;) {
    ERR_clear_error();
    int r = SSL_write(FSSL, data, want);
    if (r > 0) return static_cast<std::size_t>(r);
    int err = SSL_get_error(FSSL, r);
    short events = 0;
    if (err == SSL_ERROR_WANT_READ) events = POLLIN;
    else if (err == SSL_ERROR_WANT_WRITE) events = POLLOUT;
    if (events) {
      if (!sockerr::WaitFd(FSocket, events, timeoutMs)) throw EIdSocketError(sockerr::kTimedOut);
      continue;
    }
    auto* d = static_cast<SockBioData*>(BIO_get_data(SSL_get_wbio(FSSL)));
    if (err == SSL_ERROR_SYSCALL || err == SSL_ERROR_ZERO_RETURN) {
      ERR_clear_error();
      throw EIdSocketError(d->lastErrno ? sockerr::WinsockCodeFromErrno(d->lastErrno) : sockerr::kConnReset);
    }
    std::string reason = FailureReason(nullptr);
    throw EIdOSSLError(reason.empty() ? std::string("Error writing with SSL.")
                                      : "Error writing with SSL.\r\n" + reason);
  }
}

bool TIdSSLIOHandlerSocketOpenSSL::HasPending() const { return FSSL && SSL_pending(FSSL) > 0; }

void TIdSSLIOHandlerSocketOpenSSL::Close() noexcept {
  if (FSSL) {
    // One non-blocking attempt to send close_notify; the socket is closed right after.
    if (!(SSL_get_shutdown(FSSL) & SSL_SENT_SHUTDOWN) && SSL_is_init_finished(FSSL)) SSL_shutdown(FSSL);
    SSL_free(FSSL);
    FSSL = nullptr;
  }
  if (FContext) {
    SSL_CTX_free(FContext);
    FContext = nullptr;
  }
  FSocket = -1;
  ERR_clear_error();
}
