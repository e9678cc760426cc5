// TLS transport for the mail clients (OpenSSL 3, implicit TLS).
//
// A client gets a non-owning pointer with TIdTCPConnection::SetIOHandler(); with
// UseTLS = utUseImplicitTLS the connection runs the TLS handshake right after the TCP
// connect, before the server greeting. Otherwise the transport passes bytes through.
//
// The server certificate is verified against the system trust store (or the file named by
// SSL_CERT_FILE, or SSLOptions.RootCertFile when set) and against the host name the client
// connects to. SSLOptions.VerifyPeer = false (Tavrel.ini [TLS] VerifyPeer=0) turns the
// check off for servers with self-signed certificates. A failed check raises
// "Error connecting with SSL.\r\n<reason>".
//
// The context and the session live for one connection: both are freed when the
// connection closes. Used by one thread at a time.
#pragma once

#include <cstddef>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

enum TIdSSLVersion { sslvSSLv2, sslvSSLv23, sslvSSLv3, sslvTLSv1 };
enum TIdSSLMode { sslmUnassigned, sslmClient, sslmServer, sslmBoth };

struct TIdSSLOptions {
  TIdSSLVersion Method = sslvSSLv2;  // any value: a current TLS client method is used
  TIdSSLMode Mode = sslmUnassigned;  // taken as client mode
  std::string RootCertFile;          // trust anchors; empty: system store / SSL_CERT_FILE
  std::string CertFile;              // client certificate (not used by the system)
  std::string KeyFile;               // client key (not used by the system)
  int VerifyDepth = 0;               // 0: library default
  std::string CipherList;            // empty: the built-in list
  bool VerifyPeer = true;            // verify the server certificate and host name
};

class TIdSSLIOHandlerSocketOpenSSL {
public:
  static constexpr const char* kDefaultCipherList =
      "ALL:!ADH:RC4+RSA:+HIGH:+MEDIUM:+LOW:+SSLv2:+EXP";

  TIdSSLIOHandlerSocketOpenSSL() = default;
  ~TIdSSLIOHandlerSocketOpenSSL();
  TIdSSLIOHandlerSocketOpenSSL(const TIdSSLIOHandlerSocketOpenSSL&) = delete;
  TIdSSLIOHandlerSocketOpenSSL& operator=(const TIdSSLIOHandlerSocketOpenSSL&) = delete;

  TIdSSLOptions SSLOptions;
  // True: bytes pass unencrypted (set by the connection from UseTLS before connecting).
  bool PassThrough = true;

  // --- used by TIdTCPConnection ---
  // Creates the context (if needed) and a client session on the connected non-blocking
  // socket fd and runs the handshake; hostName is checked against the certificate.
  void StartSSL(int fd, const std::string& hostName, int timeoutMs);
  // Reads up to size bytes; 0 when the peer closed the TLS stream or the socket.
  // Raises EIdSocketError (10060 on time-out) or EIdOSSLError.
  std::size_t Read(char* buffer, std::size_t size, int timeoutMs);
  // Writes all bytes; calls progress(n) after each successful write of n bytes.
  template <class F>
  void Write(const char* data, std::size_t size, int timeoutMs, F&& progress) {
    while (size > 0) {
      std::size_t n = WriteSome(data, size, timeoutMs);
      progress(n);
      data += n;
      size -= n;
    }
  }
  std::size_t WriteSome(const char* data, std::size_t size, int timeoutMs);
  // Bytes decrypted and waiting inside the session.
  bool HasPending() const;
  // Sends close_notify (best effort), frees the session and the context. Never raises.
  void Close() noexcept;
  bool Active() const { return FSSL != nullptr; }

private:
  void InitContext();

  SSL_CTX* FContext = nullptr;
  SSL* FSSL = nullptr;
  int FSocket = -1;
};
