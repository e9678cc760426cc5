#include "IdPOP3.h"

#include "IdMessage.h"
#include "ProtoText.h"

#include <openssl/evp.h>

#include <cstdio>
#include <limits>

namespace {

using prototext::ParseDecimal;
using prototext::Trim;

std::string Md5Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &len, EVP_md5(), nullptr) != 1)
    throw EIdException("MD5 digest failed.");
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < len; ++i) {
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 15];
  }
  return out;
}

// A user name or password holding a line break would smuggle further commands.
void CheckNoLineBreak(const std::string& s) {
  for (char c : s)
    if (c == '\r' || c == '\n' || c == '\0')
      throw EIdException("A line break or NUL character cannot be sent in a command.");
}

// Opens a wmRead transfer for its lifetime.
class ReadTransfer {
public:
  explicit ReadTransfer(TIdTCPConnection& c) : c_(c) { c_.BeginWork(wmRead); }
  ~ReadTransfer() { End(); }
  void End() {
    if (open_) c_.EndWork(wmRead);
    open_ = false;
  }
  ReadTransfer(const ReadTransfer&) = delete;
  ReadTransfer& operator=(const ReadTransfer&) = delete;

private:
  TIdTCPConnection& c_;
  bool open_ = true;
};

}  // namespace

TIdPOP3::TIdPOP3() : TIdTCPConnection(110, 995) {}

TIdPOP3::~TIdPOP3() = default;

// ---------------------------------------------------------------------------
// Replies and data
// ---------------------------------------------------------------------------

TIdReply TIdPOP3::ReadReply() {
  const std::string line = ReadReplyLine();
  // The code ends at the first blank or "-" after the first character, so that the "-"
  // of "-ERR" belongs to it.
  std::size_t end = line.find_first_of(" -", 1);
  std::string code = line.substr(0, end);
  std::string text = end == std::string::npos ? std::string() : line.substr(end + 1);
  TIdReply reply;
  if (code == "+OK" || code == "-ERR" || code == "+") {
    reply.Code = code;
    reply.Text.push_back(Trim(text));
  } else {
    // Not a status line: an error whose message is what the server said.
    reply.Code = "-ERR";
    reply.Text.push_back(line);
  }
  return reply;
}

bool TIdPOP3::NextDataLine(std::string& line) {
  line = ReadLn();
  if (line == ".") return false;
  line = UnstuffDotLine(line);
  return true;
}

void TIdPOP3::SkipDataLines() {
  std::string line;
  while (NextDataLine(line)) {
  }
}

// ---------------------------------------------------------------------------
// Session
// ---------------------------------------------------------------------------

void TIdPOP3::Connect() {
  TIdTCPConnection::Connect();  // "Already connected." leaves an open session as it is
  FAPOPTimestamp.clear();
  FCapabilities.clear();
  try {
    const TIdReply& greeting = [this]() -> const TIdReply& {
      TGreetingWait wait(*this);
      return GetResponse({"+OK"});
    }();
    const std::string first = greeting.Text.empty() ? std::string() : greeting.Text.front();
    std::size_t lt = first.find('<');
    if (lt != std::string::npos) {
      std::size_t gt = first.find('>', lt);
      if (gt != std::string::npos) FAPOPTimestamp = first.substr(lt, gt - lt + 1);
    }

    if (SendCmd("CAPA").Code == "+OK") {
      std::string line;
      while (NextDataLine(line))
        if (FCapabilities.size() < kMaxCapabilityLines) FCapabilities.push_back(line);
    }

    if (AutoLogin) Login();
  } catch (...) {
    CloseConnection();
    throw;
  }
}

void TIdPOP3::StartTLSIfRequired() {
  const TIdUseTLS mode = GetUseTLS();
  if (mode != utUseRequireTLS && mode != utUseExplicitTLS) return;
  // Upgrading a plain connection with STLS needs a handshake on the open socket, which the
  // connection layer does not offer; logging in without the protection the settings ask
  // for would send the password in the clear, so refuse instead.
  throw EIdException("STLS is not supported; use implicit TLS.");
}

void TIdPOP3::Login() {
  StartTLSIfRequired();
  CheckNoLineBreak(Username);
  CheckNoLineBreak(Password);
  switch (AuthType) {
    case atUserPass:
      SendCmd("USER " + Username, {"+OK"});
      SendCmd("PASS " + Password, {"+OK"});
      break;
    case atAPOP:
      if (FAPOPTimestamp.empty()) throw EIdException("Server do not support APOP (no timestamp)");
      SendCmd("APOP " + Username + " " + Md5Hex(FAPOPTimestamp + Password), {"+OK"});
      break;
    case atSASL:
      throw EIdException("Need SASL mechanisms to login with it!!");
  }
}

void TIdPOP3::Disconnect() {
  if (!Connected()) {
    CloseConnection();
    return;
  }
  try {
    SendCmd("QUIT", {"+OK"});
  } catch (...) {
    CloseConnection();
    throw;
  }
  CloseConnection();
}

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

int TIdPOP3::CountMessages() {
  const TIdReply& reply = SendCmd("STAT", {"+OK"});
  const std::string text = reply.Text.empty() ? std::string() : reply.Text.front();
  const std::string count = Trim(text.substr(0, text.find(' ')));
  if (count.empty()) return 0;
  int64_t n = 0;
  if (!ParseDecimal(count, n) || n > kMaxMessageCount)
    throw EIdException("'" + count + "' is not a valid integer value");
  return static_cast<int>(n);
}

bool TIdPOP3::FetchHeader(int n, TIdMessage& message) {
  message.Clear();
  SendCmd("TOP " + std::to_string(n) + " 0", {"+OK"});
  ReadHeaderData(message);
  return true;
}

void TIdPOP3::ReadHeaderData(TIdMessage& message) {
  message.Clear();
  ReadTransfer transfer(*this);
  TMimeParser parser(message);
  std::string line;
  bool inHeader = true;
  bool sawField = false;
  try {
    while (NextDataLine(line)) {
      if (!inHeader) continue;  // a server that sends body lines anyway
      if (line.empty()) {
        // The empty line that ends the header; empty lines before any field are skipped.
        if (sawField) inHeader = false;
        continue;
      }
      sawField = true;
      parser.FeedLine(line);
    }
  } catch (const EIdMessageException&) {
    SkipDataLines();  // keep the session in step before reporting the parser's error
    throw;
  }
  parser.Finish();
}

bool TIdPOP3::FetchMessage(int n, TIdMessage& message) {
  const TIdReply& reply = SendCmd("RETR " + std::to_string(n));
  if (reply.Code != "+OK") return false;
  ReadMessageData(message);
  return true;
}

void TIdPOP3::FetchMessages(const std::vector<int>& numbers, TIdMessage& message,
                            const std::function<bool(int n, bool fetched)>& each) {
  RunBatch(
      numbers.size(), [&](std::size_t k) { return "RETR " + std::to_string(numbers[k]); },
      [&](std::size_t k, const TIdReply& reply) {
        const bool fetched = reply.Code == "+OK";
        if (fetched) ReadMessageData(message);
        return each(numbers[k], fetched);
      });
}

void TIdPOP3::ReadMessageData(TIdMessage& message) {
  message.Clear();
  TMimeParser parser(message);
  std::string line;
  bool ended = false;
  try {
    {
      ReadTransfer header(*this);
      for (;;) {
        if (!NextDataLine(line)) {
          ended = true;  // the "." line came before the end of the header
          break;
        }
        parser.FeedLine(line);
        if (!parser.InHeader()) break;
      }
    }
    if (!ended) {
      ReadTransfer body(*this);  // a second transfer, its count starting at 0 again
      while (NextDataLine(line)) parser.FeedLine(line);
    }
  } catch (const EIdException&) {
    throw;  // the connection itself failed
  } catch (const std::exception&) {
    // The parser's error, or one of the consumer of the data (a full disk): the rest of
    // the message is read and dropped so that the session stays in step. Anything else
    // (the caller's stop, raised from its work handler) leaves at once.
    if (!ended) SkipDataLines();
    throw;
  }
  parser.Finish();
}

bool TIdPOP3::DeleteMessage(int n) {
  SendCmd("DELE " + std::to_string(n), {"+OK"});
  return true;
}

int64_t TIdPOP3::MailboxSize() {
  try {
    SendCmd("LIST", {"+OK"});
    int64_t sum = 0;
    bool summing = true;
    std::string line;
    while (NextDataLine(line)) {
      if (line.empty()) summing = false;  // an empty line ends the listing; drain the rest
      if (!summing) continue;
      std::string rest = Trim(line);
      std::size_t blank = rest.find(' ');
      int64_t size = 0;
      if (blank == std::string::npos || !ParseDecimal(Trim(rest.substr(blank + 1)), size)) size = 0;
      sum = size > std::numeric_limits<int64_t>::max() - sum ? std::numeric_limits<int64_t>::max()
                                                            : sum + size;
    }
    return sum;
  } catch (const EIdException&) {
    return -1;
  }
}

// ---------------------------------------------------------------------------
// Batches
// ---------------------------------------------------------------------------

bool TIdPOP3::CanPipeline() const {
  for (const auto& line : FCapabilities) {
    if (prototext::Upper(Trim(line.substr(0, line.find(' ')))) == "PIPELINING") return true;
  }
  return false;
}

void TIdPOP3::RunBatch(std::size_t count, const std::function<std::string(std::size_t)>& command,
                       const std::function<bool(std::size_t, const TIdReply&)>& onReply) {
  if (!CanPipeline()) {
    for (std::size_t k = 0; k < count; ++k)
      if (!onReply(k, SendCmd(command(k)))) return;
    return;
  }
  // Refilled in groups of a quarter window, so that commands leave in few packets.
  const std::size_t refill = kPipelineWindow / 4;
  std::size_t sent = 0;
  try {
    for (std::size_t done = 0; done < count; ++done) {
      if (sent - done <= kPipelineWindow - refill) {
        while (sent < count && sent - done < kPipelineWindow) WriteLn(command(sent++));
      }
      const TIdReply reply = ReadReply();  // flushes what was written
      if (!onReply(done, reply)) {
        if (sent > done + 1) CloseConnection();  // replies still on their way
        return;
      }
    }
  } catch (...) {
    // Replies still on their way cannot be matched to their commands any more.
    CloseConnection();
    throw;
  }
}

bool TIdPOP3::ListUniqueIds(int count, std::vector<std::string>& ids) {
  ids.assign(static_cast<std::size_t>(count > 0 ? count : 0), std::string());
  if (SendCmd("UIDL").Code != "+OK") return false;
  std::vector<bool> named(ids.size(), false);
  std::string line;
  while (NextDataLine(line)) {
    std::size_t pos = 0;
    while (pos < line.size() && line[pos] == ' ') ++pos;
    std::size_t blank = line.find(' ', pos);
    if (blank == std::string::npos) continue;
    int64_t n = 0;
    if (!ParseDecimal(line.substr(pos, blank - pos), n) || n < 1 || n > count) continue;
    std::string id = Trim(line.substr(blank + 1));
    bool valid = !id.empty() && id.size() <= kMaxUniqueIdLength;
    for (char c : id)
      if (c < 0x21 || c > 0x7E) valid = false;
    const std::size_t k = static_cast<std::size_t>(n - 1);
    if (named[k]) valid = false;  // named twice: trust neither
    named[k] = true;
    ids[k] = valid ? id : std::string();
  }
  return true;
}

void TIdPOP3::FetchSubjects(const std::vector<int>& numbers, TIdMessage& message,
                            const TIdSubjectSink& sink) {
  RunBatch(
      numbers.size(), [&](std::size_t k) { return "TOP " + std::to_string(numbers[k]) + " 0"; },
      [&](std::size_t k, const TIdReply& reply) {
        TIdSubjectResult result;
        result.State = TIdSubjectResult::srError;
        if (reply.Code != "+OK") {
          result.Error = reply.JoinedText();
        } else {
          try {
            ReadHeaderData(message);
            result.State = TIdSubjectResult::srRead;
            result.Subject = message.Subject;
          } catch (const EIdMessageException& e) {
            result.Error = e.what();
          }
          message.ClearHeader();
        }
        sink(numbers[k], result);
        return true;
      });
}

std::vector<bool> TIdPOP3::DeleteMessages(const std::vector<int>& numbers) {
  std::vector<bool> ok(numbers.size(), false);
  RunBatch(
      numbers.size(), [&](std::size_t k) { return "DELE " + std::to_string(numbers[k]); },
      [&](std::size_t k, const TIdReply& reply) {
        ok[k] = reply.Code == "+OK";
        return true;
      });
  return ok;
}
