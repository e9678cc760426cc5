// Connection layer shared by the SMTP, POP3 and IMAP4 clients.
//
// How a protocol client uses it
// -----------------------------
//   class TIdPOP3 : public TIdTCPConnection {
//   public:
//     TIdPOP3() : TIdTCPConnection(110, 995) {}     // plain port, implicit-TLS port
//     void Connect() override {
//       TIdTCPConnection::Connect();                // TCP (+ TLS handshake with utUseImplicitTLS)
//       try { ...greeting, login... }
//       catch (...) { CloseConnection(); throw; }   // close again when a protocol step fails
//     }
//     void Disconnect() override {                  // goodbye, then close in any case
//       if (!Connected()) { CloseConnection(); return; }
//       try { SendCmd("QUIT", {"+OK"}); } catch (...) { CloseConnection(); throw; }
//       CloseConnection();
//     }
//   protected:
//     TIdReply ReadReply() override;                // the protocol's reply format
//   };
//
// Settings: Host, Port, Username, Password are plain fields. UseTLS and the TLS
// transport go through SetUseTLS()/SetIOHandler() because they move the port between
// the plain and the implicit-TLS port and are refused while connected.
//
// Writing: WriteLn()/Write() append to a write buffer (32768 bytes); the buffer is sent
// when it fills, before any read, at BeginWork/EndWork(wmWrite) and by FlushWriteBuffer().
// The bytes on the wire are exactly those written. OnWork(wmWrite) counts bytes as they
// are handed to the socket while a wmWrite transfer is open.
//
// Reading: ReadLn() returns one line without its line end (LF, one CR before it removed);
// longer than 16384 characters raises "Max line length exceeded."; the peer closing the
// connection raises "Connection Closed Gracefully." (and the socket is closed).
// ReadReplyLine() trims and skips empty lines. ReadBytes()/ReadString() read an exact
// count (IMAP4 literals; the caller bounds the count). OnWork(wmRead) counts consumed
// bytes while a wmRead transfer is open.
//
// Replies: SendCmd(cmd, codes) = WriteLn + ReadReply + check. ReadReply() is virtual; the
// base class reads the numeric multi-line format ("250-..." continued, "250 ..." ends).
// A code outside the accepted list raises via RaiseReplyError() (default: EIdReplyError
// whose message is the reply's text lines joined by CR LF). An empty list accepts any code.
//
// Time-outs: every wait (connect, read, write, TLS handshake) is bounded. ConnectTimeout
// and ReadTimeout are milliseconds (defaults 30000 and 120000; tests may lower them). A
// time-out raises "Socket Error # 10060\r\nConnection timed out.". After a time-out, a reset,
// an overlong line or the peer's close the socket is closed (Connected() is false): the
// stream position is unknown then, and a later Disconnect() must not wait for a goodbye
// reply again.
//
// All errors are exceptions derived from EIdException (a std::runtime_error whose what()
// is the message text shown to the user).
//
// Threading: one object is used by one thread at a time; nothing here is locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class TIdSSLIOHandlerSocketOpenSSL;

// ---------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------

// Base of every error raised by the mail protocol layer; what() is the message text.
class EIdException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// "Socket Error # %d\r\n%s" with a Winsock error code (see SocketError.h).
class EIdSocketError : public EIdException {
public:
  explicit EIdSocketError(int winsockCode);
  int LastError;  // Winsock code, e.g. 10061, 10060, 10054
};

// "Connection Closed Gracefully." - the peer closed the connection.
class EIdConnClosedGracefully : public EIdException {
public:
  EIdConnClosedGracefully() : EIdException("Connection Closed Gracefully.") {}
};

// "Not Connected" - a command on a client without a connection.
class EIdNotConnected : public EIdException {
public:
  EIdNotConnected() : EIdException("Not Connected") {}
};

// "Max line length exceeded."
class EIdReadLnMaxLineLengthExceeded : public EIdException {
public:
  EIdReadLnMaxLineLengthExceeded() : EIdException("Max line length exceeded.") {}
};

// A TLS failure ("Error connecting with SSL." + CR LF + reason, "SetCipher failed.", ...).
class EIdOSSLError : public EIdException {
public:
  using EIdException::EIdException;
};

// The TLS handshake itself failed (the peer speaks no TLS, no common protocol, or its
// certificate is not trusted), as opposed to the connection breaking during it.
class EIdTLSHandshakeError : public EIdOSSLError {
public:
  using EIdOSSLError::EIdOSSLError;
};

struct TIdReply;

// A reply whose code was not accepted; what() is the reply's text lines joined by CR LF.
class EIdReplyError : public EIdException {
public:
  EIdReplyError(const std::string& message, std::string code, int numericCode)
      : EIdException(message), Code(std::move(code)), NumericCode(numericCode) {}
  std::string Code;     // "554", "-ERR", ...
  int NumericCode = 0;  // numeric value of Code, 0 when it is not a number
};

// ---------------------------------------------------------------------------
// Types
// ---------------------------------------------------------------------------

enum TIdUseTLS { utNoTLSSupport, utUseImplicitTLS, utUseRequireTLS, utUseExplicitTLS };

enum TWorkMode { wmRead, wmWrite };

class TIdTCPConnection;

// OnWork(sender, mode, position): position is the 64-bit byte count of the open transfer.
using TWorkEvent = std::function<void(TIdTCPConnection& Sender, TWorkMode Mode, int64_t Count)>;

// One server reply.
struct TIdReply {
  std::string Code;               // "250", "+OK", ... (empty when the reply had none)
  int NumericCode = 0;            // Code as a number, 0 when not numeric
  std::vector<std::string> Text;  // text of each line, without the code
  std::string EnhancedCode;       // e.g. "5.1.1" when the first text line starts with one
  std::string JoinedText() const; // Text joined by CR LF
};

// ---------------------------------------------------------------------------
// Connection
// ---------------------------------------------------------------------------

class TIdTCPConnection {
public:
  static constexpr std::size_t kMaxLineLength = 16384;
  static constexpr std::size_t kBufferSize = 32768;
  static constexpr int kDefaultConnectTimeout = 30000;  // ms
  static constexpr int kDefaultReadTimeout = 120000;    // ms
  // Upper bound of one reply read by ReadReply() (all its lines together); a longer reply
  // raises "Reply exceeds the maximum size." instead of growing without bound.
  static constexpr std::size_t kMaxReplySize = 1 << 20;

  TIdTCPConnection(uint16_t plainPort, uint16_t implicitTLSPort);
  virtual ~TIdTCPConnection();
  TIdTCPConnection(const TIdTCPConnection&) = delete;
  TIdTCPConnection& operator=(const TIdTCPConnection&) = delete;

  // Settings.
  std::string Host;
  uint16_t Port;
  std::string Username;
  std::string Password;
  int ConnectTimeout = kDefaultConnectTimeout;  // ms, > 0
  int ReadTimeout = kDefaultReadTimeout;        // ms, > 0; also bounds writes and the handshake

  // While alive, reads wait at most ConnectTimeout: a server's greeting is part of making
  // the connection (a plain client on a TLS port would otherwise wait ReadTimeout for it).
  class TGreetingWait {
  public:
    explicit TGreetingWait(TIdTCPConnection& c) : c_(c), saved_(c.ReadTimeout) {
      if (c.ConnectTimeout < c.ReadTimeout) c.ReadTimeout = c.ConnectTimeout;
    }
    ~TGreetingWait() { c_.ReadTimeout = saved_; }
    TGreetingWait(const TGreetingWait&) = delete;
    TGreetingWait& operator=(const TGreetingWait&) = delete;

  private:
    TIdTCPConnection& c_;
    int saved_;
  };

  TIdUseTLS GetUseTLS() const { return FUseTLS; }
  // Port adjustment rule: plain port -> TLS port when switching to implicit TLS, TLS port
  // -> plain port otherwise. Raises "SSL IOHandler is required for this setting" without
  // a transport, "This value can not be set while the client is connected." when connected.
  void SetUseTLS(TIdUseTLS value);
  // The client does not own the transport. Attaching none resets UseTLS to utNoTLSSupport.
  void SetIOHandler(TIdSSLIOHandlerSocketOpenSSL* handler);
  TIdSSLIOHandlerSocketOpenSSL* GetIOHandler() const { return FIOHandler; }
  uint16_t PlainPort() const { return FPlainPort; }
  uint16_t ImplicitTLSPort() const { return FTLSPort; }

  // Opens TCP (and TLS with utUseImplicitTLS). Protocol clients override and add their
  // greeting/login after calling this. Raises "Already connected." when connected.
  virtual void Connect();
  // Base: closes the connection. Protocol clients send their goodbye first.
  virtual void Disconnect();
  // True while the socket is open and not known to be closed by the peer.
  bool Connected() const;
  bool IsConnected() const { return Connected(); }
  // Shuts TLS down and closes the socket; drops buffered input and output. Never raises.
  void CloseConnection() noexcept;

  TWorkEvent OnWork;

  // Writing (buffered).
  void Write(std::string_view data);
  void WriteLn(std::string_view line = {});  // line + CR LF
  void FlushWriteBuffer();
  // While on, the kernel sends only full segments and keeps a short tail until it is
  // switched off, which sends the tail at once. Lets the end of a long write and the short
  // command after it leave as one segment instead of the command waiting for the peer's
  // delayed acknowledgement (Nagle's algorithm stays on). Best effort, never raises.
  void HoldShortSegments(bool on) noexcept;

  // Reading (flushes the write buffer first).
  std::string ReadLn();
  std::string ReadReplyLine();  // trimmed, empty lines skipped
  void ReadBytes(uint64_t count, const std::function<void(const char*, std::size_t)>& sink);
  std::string ReadString(std::size_t count);
  // True when input is buffered or arrives within timeoutMs (0 = just look).
  bool Readable(int timeoutMs);

  // Commands and replies.
  const TIdReply& SendCmd(std::string_view cmd);  // any code accepted
  const TIdReply& SendCmd(std::string_view cmd, std::initializer_list<int> codes);
  const TIdReply& SendCmd(std::string_view cmd, std::initializer_list<const char*> codes);
  const TIdReply& GetResponse();  // any code accepted
  const TIdReply& GetResponse(std::initializer_list<int> codes);
  const TIdReply& GetResponse(std::initializer_list<const char*> codes);
  const TIdReply& LastCmdResult() const { return FLastCmdResult; }

  // Progress transfers; nested begins only count up.
  void BeginWork(TWorkMode mode);
  void EndWork(TWorkMode mode);

protected:
  // Reads one reply in the protocol's format. Base: numeric multi-line replies.
  virtual TIdReply ReadReply();
  // Raises the error for a reply whose code was not accepted.
  [[noreturn]] virtual void RaiseReplyError(const TIdReply& reply);
  // Checks a code against an accepted list (empty: any).
  static bool CodeAccepted(const TIdReply& reply, const std::vector<std::string>& codes);
  const TIdReply& CheckedResponse(const std::vector<std::string>& codes);
  const TIdReply& SendCmdChecked(std::string_view cmd, const std::vector<std::string>& codes);

  void DoWork(TWorkMode mode, uint64_t bytes);

private:
  void CheckConnected() const;
  std::size_t FillBuffer();  // reads more input; raises on close/error/time-out
  void SendRaw(const char* data, std::size_t size);
  void ConnectSocket();

  uint16_t FPlainPort;
  uint16_t FTLSPort;
  TIdUseTLS FUseTLS = utNoTLSSupport;
  TIdSSLIOHandlerSocketOpenSSL* FIOHandler = nullptr;
  bool FTLSActive = false;

  int FSocket = -1;
  std::string FInput;  // received bytes not consumed yet, from FInputPos on
  std::size_t FInputPos = 0;
  std::string FOutput;  // write buffer

  int FWorkCount[2] = {0, 0};
  int64_t FWorkPos[2] = {0, 0};

  TIdReply FLastCmdResult;
};
