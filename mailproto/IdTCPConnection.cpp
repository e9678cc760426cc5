#include "IdTCPConnection.h"

#include "IdSSLOpenSSL.h"
#include "ProtoText.h"
#include "SocketError.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using prototext::TrimView;

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// "2.1.0", "5.7.8": three dot-separated numbers at the start of a reply text.
std::string EnhancedCodeOf(std::string_view text) {
  std::size_t i = 0;
  for (int part = 0; part < 3; ++part) {
    std::size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) ++i;
    if (i == start) return {};
    if (part < 2) {
      if (i >= text.size() || text[i] != '.') return {};
      ++i;
    }
  }
  if (i < text.size() && text[i] != ' ') return {};
  return std::string(text.substr(0, i));
}

std::vector<std::string> ToCodes(std::initializer_list<int> codes) {
  std::vector<std::string> v;
  v.reserve(codes.size());
  for (int c : codes) v.push_back(std::to_string(c));
  return v;
}

std::vector<std::string> ToCodes(std::initializer_list<const char*> codes) {
  return std::vector<std::string>(codes.begin(), codes.end());
}

}  // namespace

EIdSocketError::EIdSocketError(int winsockCode)
    : EIdException(sockerr::SocketErrorMessage(winsockCode)), LastError(winsockCode) {}

std::string TIdReply::JoinedText() const {
  std::string s;
  for (std::size_t i = 0; i < Text.size(); ++i) {
    if (i) s += "\r\n";
    s += Text[i];
  }
  return s;
}

TIdTCPConnection::TIdTCPConnection(uint16_t plainPort, uint16_t implicitTLSPort)
    : Port(plainPort), FPlainPort(plainPort), FTLSPort(implicitTLSPort) {}

TIdTCPConnection::~TIdTCPConnection() { CloseConnection(); }

// ---------------------------------------------------------------------------
// Settings
// ---------------------------------------------------------------------------

void TIdTCPConnection::SetUseTLS(TIdUseTLS value) {
  if (Connected()) throw EIdException("This value can not be set while the client is connected.");
  if (value != utNoTLSSupport && FIOHandler == nullptr)
    throw EIdException("SSL IOHandler is required for this setting");
  if (value == FUseTLS) return;
  if (value == utUseImplicitTLS) {
    if (Port == FPlainPort) Port = FTLSPort;
  } else if (Port == FTLSPort) {
    Port = FPlainPort;
  }
  FUseTLS = value;
}

void TIdTCPConnection::SetIOHandler(TIdSSLIOHandlerSocketOpenSSL* handler) {
  if (Connected()) throw EIdException("This value can not be set while the client is connected.");
  FIOHandler = handler;
  if (handler == nullptr) FUseTLS = utNoTLSSupport;
}

// ---------------------------------------------------------------------------
// Connect / close
// ---------------------------------------------------------------------------

bool TIdTCPConnection::Connected() const { return FSocket >= 0; }

void TIdTCPConnection::CheckConnected() const {
  if (FSocket < 0) throw EIdNotConnected();
}

void TIdTCPConnection::Connect() {
  if (Connected()) throw EIdException("Already connected.");
  if (Host.empty() || Port == 0) throw EIdException("");
  FInput.clear();
  FInputPos = 0;
  FOutput.clear();
  if (FIOHandler) FIOHandler->PassThrough = FUseTLS != utUseImplicitTLS;
  ConnectSocket();
  if (FIOHandler && FUseTLS == utUseImplicitTLS) {
    try {
      FIOHandler->StartSSL(FSocket, Host, ConnectTimeout);
    } catch (...) {
      CloseConnection();
      throw;
    }
    FTLSActive = true;
  }
}

void TIdTCPConnection::ConnectSocket() {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* list = nullptr;
  int rc = ::getaddrinfo(Host.c_str(), nullptr, &hints, &list);
  if (rc != 0 || list == nullptr) {
    int code = sockerr::kHostNotFound;
    if (rc == EAI_AGAIN) code = 11002;
    else if (rc == EAI_FAIL) code = 11003;
    else if (rc == EAI_SYSTEM) code = sockerr::WinsockCodeFromErrno(errno);
    if (list) ::freeaddrinfo(list);
    throw EIdSocketError(code);
  }
  sockaddr_in addr{};
  std::memcpy(&addr, list->ai_addr, sizeof addr);
  ::freeaddrinfo(list);
  addr.sin_port = htons(Port);

  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (fd < 0) throw EIdSocketError(sockerr::WinsockCodeFromErrno(errno));
  auto fail = [fd](int winsockCode) {
    ::close(fd);
    throw EIdSocketError(winsockCode);
  };
  int r;
  do {
    r = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  } while (r < 0 && errno == EINTR);
  if (r < 0) {
    if (errno != EINPROGRESS) fail(sockerr::WinsockCodeFromErrno(errno));
    if (!sockerr::WaitFd(fd, POLLOUT, ConnectTimeout)) fail(sockerr::kTimedOut);
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) err = errno;
    if (err != 0) fail(sockerr::WinsockCodeFromErrno(err));
  }
  FSocket = fd;
}

void TIdTCPConnection::Disconnect() { CloseConnection(); }

void TIdTCPConnection::CloseConnection() noexcept {
  if (FTLSActive && FIOHandler) FIOHandler->Close();
  FTLSActive = false;
  if (FSocket >= 0) ::close(FSocket);
  FSocket = -1;
  FInput.clear();
  FInputPos = 0;
  FOutput.clear();
}

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

void TIdTCPConnection::SendRaw(const char* data, std::size_t size) {
  CheckConnected();
  try {
    if (FTLSActive) {
      FIOHandler->Write(data, size, ReadTimeout, [this](std::size_t n) { DoWork(wmWrite, n); });
      return;
    }
    while (size > 0) {
      ssize_t n = ::send(FSocket, data, size, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          if (!sockerr::WaitFd(FSocket, POLLOUT, ReadTimeout)) throw EIdSocketError(sockerr::kTimedOut);
          continue;
        }
        throw EIdSocketError(sockerr::WinsockCodeFromErrno(errno));
      }
      data += n;
      size -= static_cast<std::size_t>(n);
      DoWork(wmWrite, static_cast<uint64_t>(n));
    }
  } catch (const EIdException&) {
    // The stream is broken or its state unknown: drop the connection.
    CloseConnection();
    throw;
  }
}

void TIdTCPConnection::FlushWriteBuffer() {
  if (FOutput.empty()) return;
  std::string out;
  out.swap(FOutput);
  SendRaw(out.data(), out.size());
}

void TIdTCPConnection::HoldShortSegments(bool on) noexcept {
  if (FSocket < 0) return;
  const int value = on ? 1 : 0;
  ::setsockopt(FSocket, IPPROTO_TCP, TCP_CORK, &value, sizeof value);
}

void TIdTCPConnection::Write(std::string_view data) {
  CheckConnected();
  if (FOutput.size() + data.size() > kBufferSize) {
    FlushWriteBuffer();
    if (data.size() >= kBufferSize) {
      SendRaw(data.data(), data.size());
      return;
    }
  }
  FOutput.append(data);
}

void TIdTCPConnection::WriteLn(std::string_view line) {
  CheckConnected();
  if (FOutput.size() + line.size() + 2 > kBufferSize) {
    Write(line);
    Write("\r\n");
    return;
  }
  FOutput.append(line);
  FOutput.append("\r\n");
}

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

std::size_t TIdTCPConnection::FillBuffer() {
  CheckConnected();
  if (FInputPos > 0) {
    FInput.erase(0, FInputPos);
    FInputPos = 0;
  }
  const std::size_t old = FInput.size();
  FInput.resize(old + kBufferSize);
  char* buf = FInput.data() + old;
  std::size_t got = 0;
  try {
    if (FTLSActive) {
      got = FIOHandler->Read(buf, kBufferSize, ReadTimeout);
    } else {
      for (;;) {
        ssize_t n = ::recv(FSocket, buf, kBufferSize, 0);
        if (n >= 0) {
          got = static_cast<std::size_t>(n);
          break;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          if (!sockerr::WaitFd(FSocket, POLLIN, ReadTimeout)) throw EIdSocketError(sockerr::kTimedOut);
          continue;
        }
        throw EIdSocketError(sockerr::WinsockCodeFromErrno(errno));
      }
    }
  } catch (const EIdException&) {
    CloseConnection();
    throw;
  }
  FInput.resize(old + got);
  if (got == 0) {
    CloseConnection();
    throw EIdConnClosedGracefully();
  }
  return got;
}

std::string TIdTCPConnection::ReadLn() {
  FlushWriteBuffer();
  CheckConnected();
  std::size_t scanned = 0;  // bytes after FInputPos already searched for LF
  for (;;) {
    const std::size_t avail = FInput.size() - FInputPos;
    const char* begin = FInput.data() + FInputPos;
    const void* lf = std::memchr(begin + scanned, '\n', avail - scanned);
    if (lf) {
      std::size_t len = static_cast<const char*>(lf) - begin;
      std::size_t consumed = len + 1;
      if (len > 0 && begin[len - 1] == '\r') --len;
      if (len > kMaxLineLength) {
        CloseConnection();  // the rest of that line would only desynchronise the dialogue
        throw EIdReadLnMaxLineLengthExceeded();
      }
      std::string line(begin, len);
      FInputPos += consumed;
      DoWork(wmRead, consumed);
      return line;
    }
    scanned = avail;
    // Without a line end yet: more than the limit (a CR may still precede the LF).
    if (avail > kMaxLineLength && (avail > kMaxLineLength + 1 || begin[avail - 1] != '\r')) {
      CloseConnection();
      throw EIdReadLnMaxLineLengthExceeded();
    }
    FillBuffer();
  }
}

std::string TIdTCPConnection::ReadReplyLine() {
  for (long skipped = 0;; ++skipped) {
    std::string line = ReadLn();
    std::string_view t = TrimView(line);
    if (!t.empty() || skipped >= 2147483647L) return std::string(t);
  }
}

void TIdTCPConnection::ReadBytes(uint64_t count, const std::function<void(const char*, std::size_t)>& sink) {
  FlushWriteBuffer();
  CheckConnected();
  while (count > 0) {
    if (FInputPos >= FInput.size()) FillBuffer();
    std::size_t avail = FInput.size() - FInputPos;
    std::size_t n = avail < count ? avail : static_cast<std::size_t>(count);
    const char* p = FInput.data() + FInputPos;
    FInputPos += n;
    count -= n;
    DoWork(wmRead, n);
    if (sink) sink(p, n);
  }
}

std::string TIdTCPConnection::ReadString(std::size_t count) {
  std::string s;
  s.reserve(count < kBufferSize ? count : kBufferSize);
  ReadBytes(count, [&s](const char* p, std::size_t n) { s.append(p, n); });
  return s;
}

bool TIdTCPConnection::Readable(int timeoutMs) {
  FlushWriteBuffer();
  if (FInputPos < FInput.size()) return true;
  if (!Connected()) return false;
  if (FTLSActive && FIOHandler->HasPending()) return true;
  return sockerr::WaitFd(FSocket, POLLIN, timeoutMs);
}

// ---------------------------------------------------------------------------
// Replies
// ---------------------------------------------------------------------------

TIdReply TIdTCPConnection::ReadReply() {
  TIdReply reply;
  std::size_t total = 0;
  bool first = true;
  for (;;) {
    std::string line = ReadReplyLine();
    if (first) {
      std::string code(TrimView(std::string_view(line).substr(0, line.size() < 4 ? line.size() : 4)));
      if (!code.empty() && code.back() == '-') code.pop_back();
      if (!code.empty()) {
        bool valid = AllDigits(code) && code.size() <= 3 && std::stoi(code) >= 100;
        if (!valid) throw EIdException("Reply Code is not valid: " + code);
        reply.NumericCode = std::stoi(code);
      }
      reply.Code = code;
      first = false;
    }
    std::string text = line.size() > 4 ? line.substr(4) : std::string();
    total += text.size() + 2;
    if (total > kMaxReplySize) {
      CloseConnection();  // the rest of the reply is still coming
      throw EIdException("Reply exceeds the maximum size.");
    }
    if (reply.Text.empty()) reply.EnhancedCode = EnhancedCodeOf(text);
    reply.Text.push_back(std::move(text));
    if (!(line.size() >= 4 && line[3] == '-')) break;
  }
  return reply;
}

void TIdTCPConnection::RaiseReplyError(const TIdReply& reply) {
  throw EIdReplyError(reply.JoinedText(), reply.Code, reply.NumericCode);
}

bool TIdTCPConnection::CodeAccepted(const TIdReply& reply, const std::vector<std::string>& codes) {
  if (codes.empty()) return true;
  for (const auto& c : codes)
    if (c == reply.Code) return true;
  return false;
}

const TIdReply& TIdTCPConnection::CheckedResponse(const std::vector<std::string>& codes) {
  FLastCmdResult = ReadReply();
  if (!CodeAccepted(FLastCmdResult, codes)) RaiseReplyError(FLastCmdResult);
  return FLastCmdResult;
}

const TIdReply& TIdTCPConnection::SendCmdChecked(std::string_view cmd, const std::vector<std::string>& codes) {
  WriteLn(cmd);
  return CheckedResponse(codes);
}

const TIdReply& TIdTCPConnection::SendCmd(std::string_view cmd) { return SendCmdChecked(cmd, {}); }
const TIdReply& TIdTCPConnection::SendCmd(std::string_view cmd, std::initializer_list<int> codes) {
  return SendCmdChecked(cmd, ToCodes(codes));
}
const TIdReply& TIdTCPConnection::SendCmd(std::string_view cmd, std::initializer_list<const char*> codes) {
  return SendCmdChecked(cmd, ToCodes(codes));
}
const TIdReply& TIdTCPConnection::GetResponse() { return CheckedResponse({}); }
const TIdReply& TIdTCPConnection::GetResponse(std::initializer_list<int> codes) {
  return CheckedResponse(ToCodes(codes));
}
const TIdReply& TIdTCPConnection::GetResponse(std::initializer_list<const char*> codes) {
  return CheckedResponse(ToCodes(codes));
}

// ---------------------------------------------------------------------------
// Progress
// ---------------------------------------------------------------------------

void TIdTCPConnection::BeginWork(TWorkMode mode) {
  // Bytes written before the transfer starts are not part of it.
  if (mode == wmWrite && FWorkCount[mode] == 0 && Connected()) FlushWriteBuffer();
  if (FWorkCount[mode] == 0) FWorkPos[mode] = 0;
  ++FWorkCount[mode];
}

void TIdTCPConnection::EndWork(TWorkMode mode) {
  if (FWorkCount[mode] == 0) return;
  if (mode == wmWrite && FWorkCount[mode] == 1 && Connected()) {
    try {
      FlushWriteBuffer();  // the transfer's bytes are counted while it is open
    } catch (...) {
      --FWorkCount[mode];
      throw;
    }
  }
  --FWorkCount[mode];
}

void TIdTCPConnection::DoWork(TWorkMode mode, uint64_t bytes) {
  if (FWorkCount[mode] <= 0 || bytes == 0) return;
  FWorkPos[mode] += static_cast<int64_t>(bytes);
  if (OnWork) OnWork(*this, mode, FWorkPos[mode]);
}
