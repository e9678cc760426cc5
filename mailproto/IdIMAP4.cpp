#include "IdIMAP4.h"

#include "IdMessage.h"
#include "ProtoText.h"

#include <algorithm>
#include <exception>
#include <map>
#include <set>
#include <limits>

namespace {

using prototext::Trim;
using prototext::Upper;
using prototext::ParseDecimal;

// The Subject lines of a header: all a listing needs, and what servers keep in their caches.
const char* const kSubjectItem = "BODY.PEEK[HEADER.FIELDS (SUBJECT)]";
// MailboxSize's command: the sizes, and the UIDs with them.
const char* const kSizeFetch = "FETCH 1:* (UID RFC822.SIZE)";

const char* const kNumberError =
    "Number parameter (relative message number or UID) is invalid; Must be 1 or greater.";
const char* const kByeError =
    "Server has gracefully disconnected you, possibly because the connection was idle for too "
    "long.";

// Message numbers start at 1; anything else is the caller's error, raised before a command
// is sent.
void CheckNumbers(const std::vector<int>& numbers) {
  for (int n : numbers)
    if (n < 1) throw EIdException(kNumberError);
}

// The word starting at pos (up to the next blank) and the position after it and its blanks.
std::string NextWord(const std::string& s, std::size_t& pos) {
  while (pos < s.size() && s[pos] == ' ') ++pos;
  std::size_t start = pos;
  while (pos < s.size() && s[pos] != ' ') ++pos;
  std::string w = s.substr(start, pos - start);
  while (pos < s.size() && s[pos] == ' ') ++pos;
  return w;
}

bool IsStatusWord(const std::string& upperWord) {
  return upperWord == "OK" || upperWord == "NO" || upperWord == "BAD" || upperWord == "PREAUTH" ||
         upperWord == "BYE";
}


// "* <n> <KEYWORD> ...": the number and the keyword (upper case); false for other lines.
bool NumberedUntagged(const std::string& line, int64_t& number, std::string& keyword) {
  if (line.size() < 2 || line[0] != '*' || line[1] != ' ') return false;
  std::size_t pos = 2;
  std::string num = NextWord(line, pos);
  if (!ParseDecimal(num, number)) return false;
  keyword = Upper(NextWord(line, pos));
  if (!keyword.empty() && keyword.back() == ')') keyword.pop_back();
  return !keyword.empty();
}

// Position of a data item name in a FETCH answer (a whole word), npos when absent.
std::size_t FindItem(const std::string& line, const std::string& item) {
  const std::string up = Upper(line);
  for (std::size_t p = up.find(item); p != std::string::npos; p = up.find(item, p + 1)) {
    bool startOk = p > 0 && (up[p - 1] == '(' || up[p - 1] == ' ');
    std::size_t e = p + item.size();
    bool endOk = e == up.size() || up[e] == ' ' || up[e] == ')';
    if (startOk && endOk) return p;
  }
  return std::string::npos;
}

// The word after a data item name ("UID 17" -> "17").
std::string ItemValue(const std::string& line, const std::string& item) {
  std::size_t p = FindItem(line, item);
  if (p == std::string::npos) return {};
  std::size_t pos = p + item.size();
  std::string w = NextWord(line, pos);
  while (!w.empty() && w.back() == ')') w.pop_back();
  return w;
}

// The words of the parenthesised list after a name ("FLAGS (\Seen \Deleted)").
bool ParenList(const std::string& line, const std::string& name, std::vector<std::string>& out) {
  std::size_t p = FindItem(line, name);
  if (p == std::string::npos) {
    // Also inside a response code: "[PERMANENTFLAGS (...)]".
    p = Upper(line).find("[" + name + " ");
    if (p == std::string::npos) return false;
    ++p;
  }
  std::size_t open = line.find('(', p + name.size());
  if (open == std::string::npos) return false;
  std::size_t close = line.find(')', open);
  if (close == std::string::npos) return false;
  out.clear();
  std::string inner = line.substr(open + 1, close - open - 1);
  std::size_t pos = 0;
  while (pos < inner.size()) {
    std::string w = NextWord(inner, pos);
    if (!w.empty()) out.push_back(w);
  }
  return true;
}

// "[KEY value]" response code: the value, empty when the line has none.
std::string ResponseCodeValue(const std::string& line, const std::string& key) {
  const std::string up = Upper(line);
  std::size_t p = up.find("[" + key + " ");
  if (p == std::string::npos) return {};
  p += key.size() + 2;
  std::size_t e = line.find(']', p);
  return Trim(line.substr(p, e == std::string::npos ? std::string::npos : e - p));
}

// The digits of a literal announced at the end of a line ("... {1234}"); false when the
// line announces none.
bool LiteralDigits(const std::string& line, std::string& digits) {
  if (line.empty() || line.back() != '}') return false;
  std::size_t open = line.rfind('{');
  if (open == std::string::npos || open + 2 > line.size() - 1) return false;
  digits = line.substr(open + 1, line.size() - open - 2);
  for (char c : digits)
    if (c < '0' || c > '9') return false;
  return true;
}

void CheckNoLineBreak(const std::string& s) {
  for (char c : s)
    if (c == '\r' || c == '\n' || c == '\0')
      throw EIdException("A line break or NUL character cannot be sent in a command.");
}

int64_t SaturatingAdd(int64_t a, int64_t b) {
  return b > std::numeric_limits<int64_t>::max() - a ? std::numeric_limits<int64_t>::max() : a + b;
}

// Opens a wmRead transfer for its lifetime.
class ReadTransfer {
public:
  explicit ReadTransfer(TIdTCPConnection& c) : c_(c) { c_.BeginWork(wmRead); }
  ~ReadTransfer() { c_.EndWork(wmRead); }
  ReadTransfer(const ReadTransfer&) = delete;
  ReadTransfer& operator=(const ReadTransfer&) = delete;

private:
  TIdTCPConnection& c_;
};

}  // namespace

TIdIMAP4::TIdIMAP4() : TIdTCPConnection(143, 993) {}

TIdIMAP4::~TIdIMAP4() = default;

// ---------------------------------------------------------------------------
// Texts
// ---------------------------------------------------------------------------

std::string TIdIMAP4::StateName(TIdIMAP4ConnectionState state) {
  switch (state) {
    case csNonAuthenticated: return "Non Authenticated";
    case csAuthenticated: return "Authenticated";
    case csSelected: return "Selected";
    case csUnexpectedlyDisconnected: break;
  }
  return {};
}

std::string TIdIMAP4::QuoteString(const std::string& text) {
  bool atom = !text.empty();
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c <= 32 || c >= 127 || ch == '(' || ch == ')' || ch == '{' || ch == '%' || ch == '*' ||
        ch == '\\' || ch == '"') {
      atom = false;
      break;
    }
  }
  if (atom) return text;
  std::string out = "\"";
  for (char ch : text) {
    if (ch == '"' || ch == '\\') out += '\\';
    out += ch;
  }
  out += '"';
  return out;
}

std::string TIdIMAP4::EncodeMailboxName(const std::string& name) {
  static const char b64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
  std::string out;
  std::vector<unsigned char> run;  // UTF-16BE bytes of characters outside printable ASCII
  auto flush = [&] {
    if (run.empty()) return;
    out += '&';
    std::size_t i = 0;
    for (; i + 3 <= run.size(); i += 3) {
      unsigned v = (run[i] << 16) | (run[i + 1] << 8) | run[i + 2];
      out += b64[(v >> 18) & 63];
      out += b64[(v >> 12) & 63];
      out += b64[(v >> 6) & 63];
      out += b64[v & 63];
    }
    if (run.size() - i == 1) {
      unsigned v = run[i] << 16;
      out += b64[(v >> 18) & 63];
      out += b64[(v >> 12) & 63];
    } else if (run.size() - i == 2) {
      unsigned v = (run[i] << 16) | (run[i + 1] << 8);
      out += b64[(v >> 18) & 63];
      out += b64[(v >> 12) & 63];
      out += b64[(v >> 6) & 63];
    }
    out += '-';
    run.clear();
  };
  auto addUnit = [&](unsigned u) {
    run.push_back(static_cast<unsigned char>(u >> 8));
    run.push_back(static_cast<unsigned char>(u & 0xFF));
  };
  for (std::size_t i = 0; i < name.size();) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c >= 0x20 && c <= 0x7E) {
      flush();
      out += c == '&' ? std::string("&-") : std::string(1, static_cast<char>(c));
      ++i;
      continue;
    }
    // Decode one UTF-8 sequence; a byte that does not start a valid one stands for itself
    // (Latin-1), so that any input gives a valid name.
    unsigned cp = c;
    std::size_t len = 1;
    if (c >= 0xC2 && c <= 0xDF) len = 2, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF) len = 3, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4) len = 4, cp = c & 0x07;
    bool valid = len > 1 && i + len <= name.size();
    for (std::size_t k = 1; valid && k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(name[i + k]);
      if ((cc & 0xC0) != 0x80) valid = false;
      else cp = (cp << 6) | (cc & 0x3F);
    }
    if (valid && ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
                  (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))))
      valid = false;
    if (!valid) {
      cp = c;
      len = 1;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      addUnit(0xD800 + (cp >> 10));
      addUnit(0xDC00 + (cp & 0x3FF));
    } else {
      addUnit(cp);
    }
    i += len;
  }
  flush();
  return out;
}

// ---------------------------------------------------------------------------
// Commands and responses
// ---------------------------------------------------------------------------

void TIdIMAP4::CheckState(std::initializer_list<TIdIMAP4ConnectionState> allowed) const {
  for (auto s : allowed)
    if (s == FState) return;
  throw EIdException("Unable to execute command, wrong connection state;Current connection state: " +
                     StateName(FState) + ".");
}

void TIdIMAP4::UnexpectedBye() {
  FState = csUnexpectedlyDisconnected;
  CloseConnection();  // the server is gone; nothing more can be said on this connection
  throw EIdException(kByeError);
}

void TIdIMAP4::ClearStrayInput() {
  if (!Connected() || MilliSecsToWaitToClearBuffer < 0) return;
  while (Readable(MilliSecsToWaitToClearBuffer)) {
    std::string line = ReadLn();
    if (Upper(line.substr(0, 5)) == "* BYE") UnexpectedBye();
  }
}

std::string TIdIMAP4::SendTagged(const std::string& command) {
  DrainAhead();
  ClearStrayInput();
  const std::string tag = WriteTagged(command);
  FlushCommands();
  return tag;
}

void TIdIMAP4::FlushCommands() {
  try {
    FlushWriteBuffer();
  } catch (const EIdSocketError&) {
    FState = csUnexpectedlyDisconnected;  // reset while sending: the connection is gone
    throw;
  }
}

std::string TIdIMAP4::WriteTagged(const std::string& command) {
  const std::string tag = "C" + std::to_string(++FCmdCounter);
  try {
    WriteLn(tag + " " + command);
  } catch (const EIdSocketError&) {
    FState = csUnexpectedlyDisconnected;
    throw;
  }
  return tag;
}

void TIdIMAP4::DropSession() {
  FAhead.reset();
  CloseConnection();
  FState = csUnexpectedlyDisconnected;
}

uint64_t TIdIMAP4::CheckedLiteralSize(const std::string& line, uint64_t limit) {
  std::string digits;
  if (!LiteralDigits(line, digits)) return 0;
  int64_t size = 0;
  if (!ParseDecimal(digits, size) || static_cast<uint64_t>(size) > limit) {
    // The stream cannot be followed past a literal that is not read; drop the connection.
    CloseConnection();
    throw EIdException("The server announced a literal of " + digits + " bytes; at most " +
                       std::to_string(limit) + " are accepted here.");
  }
  return static_cast<uint64_t>(size);
}

void TIdIMAP4::SkipLiterals(std::string line) {
  std::string digits;
  while (LiteralDigits(line, digits)) {
    ReadBytes(CheckedLiteralSize(line, kMaxMessageLiteral), nullptr);
    line = ReadLn();
  }
}

void TIdIMAP4::TrackUntagged(const std::string& line) {
  int64_t number = 0;
  std::string keyword;
  if (!NumberedUntagged(line, number, keyword)) return;
  if (keyword == "EXISTS" && number <= kMaxMessageCount) {
    FMailBox.TotalMsgs = static_cast<int>(number);
  } else if (keyword == "EXPUNGE" && FMailBox.TotalMsgs > 0) {
    --FMailBox.TotalMsgs;
  }
}

bool TIdIMAP4::ReadResponse(const std::string& tag, const UntaggedHandler& handler,
                            bool byeExpected) {
  FLastResult = {};
  for (;;) {
    const std::string line = ReadReplyLine();
    std::size_t pos = 0;
    const std::string first = NextWord(line, pos);
    std::size_t afterSecond = pos;
    const std::string second = Upper(NextWord(line, afterSecond));

    if (first == "*" && second == "BYE") {
      if (!byeExpected) UnexpectedBye();
      FSawBye = true;
      continue;
    }
    const std::string upFirst = Upper(first);
    if ((!tag.empty() && first == tag) || IsStatusWord(upFirst) || first == "+") {
      const bool tagged = !tag.empty() && first == tag;
      FLastResult.Code = tagged ? second : upFirst;
      FLastResult.Text = Trim(tagged ? line.substr(afterSecond) : line.substr(pos));
      return true;
    }
    TrackUntagged(line);
    if (handler && handler(line)) return false;
    SkipLiterals(line);
  }
}

// ---------------------------------------------------------------------------
// Session
// ---------------------------------------------------------------------------

void TIdIMAP4::ReadGreeting() {
  for (;;) {
    const std::string line = ReadReplyLine();
    std::size_t pos = 0;
    std::string w1 = Upper(NextWord(line, pos));
    std::size_t textPos = pos;
    std::string w2 = Upper(NextWord(line, pos));
    if (IsStatusWord(w1)) {
      FGreetingCode = w1;
      FGreetingBanner = Trim(line.substr(textPos));
      return;
    }
    if (IsStatusWord(w2)) {
      FGreetingCode = w2;
      FGreetingBanner = Trim(line.substr(pos));
      return;
    }
  }
}

void TIdIMAP4::Connect() {
  if (!Connected()) FState = csNonAuthenticated;
  TIdTCPConnection::Connect();  // "Already connected." leaves an open session as it is
  FState = csNonAuthenticated;
  FCmdCounter = 0;
  FCapabilities.clear();
  FGreetingBanner.clear();
  FGreetingCode.clear();
  FMailBox = {};
  FLastResult = {};
  FSawBye = false;
  FSizeUids.clear();
  FSizeUidsAt = -1;
  FAhead.reset();
  try {
    TGreetingWait wait(*this);
    ReadGreeting();
  } catch (...) {
    CloseConnection();  // a later Connect must not find a half-open session
    throw;
  }
  try {
    Login();
  } catch (...) {
    if (Connected()) {
      try {
        Disconnect();
      } catch (...) {
      }
    }
    CloseConnection();
    FState = csNonAuthenticated;
    throw;
  }
}

void TIdIMAP4::Login() {
  if (FGreetingCode != "OK" && FGreetingCode != "PREAUTH")
    throw EIdReplyError(FGreetingBanner, FGreetingCode, 0);  // the server turned us away
  if (GetUseTLS() == utUseRequireTLS || GetUseTLS() == utUseExplicitTLS) {
    // An upgrade with STARTTLS needs a handshake on the open socket, which the connection
    // layer does not offer; logging in without the protection asked for would send the
    // password in the clear.
    throw EIdException("STARTTLS is not supported; use implicit TLS.");
  }
  if (FGreetingCode == "OK") {
    if (AuthType == atSASL) throw EIdException("Need SASL mechanisms to login with it!!");
    CheckNoLineBreak(Username);
    CheckNoLineBreak(Password);
    FCmdCounter = 0;
    const std::string tag = SendTagged("LOGIN " + QuoteString(Username) + " " + QuoteString(Password));
    ReadResponse(tag, nullptr);
    if (FLastResult.Code != "OK") {
      // A refused login is a failed login: report the server's words.
      const std::string text = FLastResult.Text.empty() ? FLastResult.Code : FLastResult.Text;
      throw EIdReplyError(text, FLastResult.Code, 0);
    }
    FState = csAuthenticated;
    // Servers name their capabilities after login in the LOGIN answer's response code;
    // only one that does not is asked.
    if (TakeCapabilities(ResponseCodeValue(FLastResult.Text, "CAPABILITY"))) return;
  } else {
    FState = csAuthenticated;
    FCmdCounter = 0;
  }
  RequestCapability();
}

bool TIdIMAP4::TakeCapabilities(const std::string& list) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  while (pos < list.size() && words.size() < kMaxCapabilities) {
    std::string w = NextWord(list, pos);
    if (!w.empty()) words.push_back(std::move(w));
  }
  if (words.empty()) return false;
  FCapabilities = std::move(words);
  return true;
}

void TIdIMAP4::RequestCapability() {
  const std::string tag = SendTagged("CAPABILITY");
  std::vector<std::string> words;
  bool seen = false;
  ReadResponse(tag, [&](const std::string& line) {
    std::size_t pos = 0;
    if (NextWord(line, pos) != "*" || Upper(NextWord(line, pos)) != "CAPABILITY") return false;
    seen = true;
    words.clear();
    while (pos < line.size() && words.size() < kMaxCapabilities) words.push_back(NextWord(line, pos));
    return false;
  });
  if (seen) FCapabilities = std::move(words);
}

void TIdIMAP4::Disconnect() {
  if (!Connected()) {
    FState = csNonAuthenticated;
    FCapabilities.clear();
    throw EIdNotConnected();
  }
  auto reset = [this] {
    CloseConnection();
    FState = csNonAuthenticated;
    FCapabilities.clear();
  };
  FSawBye = false;
  try {
    const std::string tag = SendTagged("LOGOUT");
    ReadResponse(tag, nullptr, true);
  } catch (const EIdConnClosedGracefully&) {
    // A server that says BYE and closes before its tagged OK has still logged us out.
    const bool loggedOut = FSawBye;
    reset();
    if (!loggedOut) throw;
    return;
  } catch (...) {
    reset();  // closed in any case, so that the next Connect starts afresh
    throw;
  }
  reset();
}

// ---------------------------------------------------------------------------
// Mailbox operations
// ---------------------------------------------------------------------------

std::string TIdIMAP4::SelectCommand(const std::string& name) const {
  CheckState({csAuthenticated, csSelected});
  CheckNoLineBreak(name);
  std::string quoted;
  for (char ch : EncodeMailboxName(name)) {
    if (ch == '"' || ch == '\\') quoted += '\\';
    quoted += ch;
  }
  return "SELECT \"" + quoted + "\"";
}

bool TIdIMAP4::SelectMailbox(const std::string& name) {
  const std::string command = SelectCommand(name);
  return ReadSelect(name, SendTagged(command));
}

bool TIdIMAP4::SelectMailboxAndSize(const std::string& name, int64_t& size) {
  size = -1;
  const std::string command = SelectCommand(name);
  DrainAhead();
  ClearStrayInput();
  const std::string selectTag = WriteTagged(command);
  const std::string sizeTag = WriteTagged(kSizeFetch);
  FlushCommands();
  bool selected = false;
  try {
    selected = ReadSelect(name, selectTag);
  } catch (...) {
    if (Connected()) DropSession();  // the size's answer is still on its way
    throw;
  }
  if (!selected || FMailBox.TotalMsgs == 0) {
    // Refused (no mailbox selected), or "1:*" named no message: nothing to count, unless
    // the listing names messages all the same.
    ReadMailboxSize(sizeTag);
    if (selected) size = 0;
    return selected;
  }
  size = ReadMailboxSize(sizeTag);
  return true;
}

bool TIdIMAP4::ReadSelect(const std::string& name, const std::string& tag) {
  FMailBox = {};
  TIdMailBox box;
  std::string badCount;
  ReadResponse(tag, [&](const std::string& line) {
    int64_t number = 0;
    std::string keyword;
    if (NumberedUntagged(line, number, keyword)) {
      if (keyword == "EXISTS" || keyword == "RECENT") {
        if (number > kMaxMessageCount) {
          badCount = std::to_string(number);
          return false;
        }
        (keyword == "EXISTS" ? box.TotalMsgs : box.RecentMsgs) = static_cast<int>(number);
      }
      return false;
    }
    std::size_t pos = 0;
    NextWord(line, pos);
    const std::string word = Upper(NextWord(line, pos));
    if (word == "FLAGS") {
      ParenList(line, "FLAGS", box.Flags);
    } else if (word == "OK") {
      ParenList(line, "PERMANENTFLAGS", box.ChangeableFlags);
      int64_t v = 0;
      if (ParseDecimal(ResponseCodeValue(line, "UIDVALIDITY"), v)) box.UIDValidity = v;
      if (ParseDecimal(ResponseCodeValue(line, "UNSEEN"), v) && v <= kMaxMessageCount)
        box.FirstUnseenMsg = static_cast<int>(v);
    }
    return false;
  });
  if (FLastResult.Code != "OK") {
    FState = csAuthenticated;
    return false;
  }
  if (!badCount.empty()) {
    FState = csAuthenticated;
    throw EIdException("'" + badCount + "' is not a valid integer value");
  }
  box.Name = name;
  box.ReadOnly = Upper(FLastResult.Text).find("[READ-WRITE]") == std::string::npos;
  FMailBox = std::move(box);
  FState = csSelected;
  return true;
}

bool TIdIMAP4::Fetch(int n, TIdMessage& message, bool wholeMessage) {
  if (n < 1) throw EIdException(kNumberError);
  CheckState({csSelected});
  const std::string item = wholeMessage ? "RFC822" : "RFC822.HEADER";
  const std::string tag = SendTagged("FETCH " + std::to_string(n) + " (" + item + ")");

  // Read up to the untagged FETCH answer for message n that carries the item.
  std::string answer;
  const bool complete = ReadResponse(tag, [&](const std::string& line) {
    int64_t number = 0;
    std::string keyword;
    if (!NumberedUntagged(line, number, keyword) || keyword != "FETCH" || number != n) return false;
    if (FindItem(line, item) == std::string::npos) return false;  // e.g. a flag update
    answer = line;
    return true;
  });
  if (complete) return false;  // the command ended without an answer

  const uint64_t size =
      CheckedLiteralSize(answer, wholeMessage ? kMaxMessageLiteral : kMaxHeaderLiteral);
  if (size == 0) {
    // No literal (NIL, a quoted string) or an empty one: nothing to parse.
    SkipLiterals(answer);
    ReadResponse(tag, nullptr);
    return false;
  }

  std::exception_ptr parseError;
  ReadMessageLiteral(answer, size, message, wholeMessage, parseError);
  ReadResponse(tag, nullptr);
  if (parseError) std::rethrow_exception(parseError);
  return FLastResult.Code == "OK";
}

void TIdIMAP4::ReadMessageLiteral(const std::string& answer, uint64_t size, TIdMessage& message,
                                  bool wholeMessage, std::exception_ptr& parseError) {
  message.Clear();
  {
    TMimeParser parser(message);
    ReadTransfer transfer(*this);
    uint64_t done = 0;
    ReadBytes(size, [&](const char* p, std::size_t k) {
      done += k;
      if (!parseError) {
        try {
          parser.FeedBytes(p, k);
        } catch (...) {
          parseError = std::current_exception();  // read on, so the session stays in step
        }
      }
      if (wholeMessage && OnWorkForPart) OnWorkForPart(*this, wmRead, static_cast<int64_t>(done));
    });
    if (!parseError) {
      try {
        parser.Finish();
      } catch (...) {
        parseError = std::current_exception();
      }
    }
  }

  // The rest of the FETCH answer (it may name UID and FLAGS). After a literal comes the next
  // item or the closing parenthesis; anything else means the data did not have the size
  // the server announced, and nothing read from here on can be trusted.
  const std::string rest = ReadLn();
  // ... and the line ends with the closing parenthesis, or with the next literal's size.
  const char last = rest.empty() ? '\0' : rest.back();
  if (rest.empty() || (rest[0] != ' ' && rest[0] != ')') || (last != ')' && last != '}')) {
    CloseConnection();
    throw EIdException("The server's answer did not have the size it announced.");
  }
  SkipLiterals(rest);
  if (!parseError) {
    const std::string all = answer.substr(0, answer.rfind('{')) + " " + rest;
    message.UID = ItemValue(all, "UID");
    std::vector<std::string> flags;
    if (wholeMessage && ParenList(all, "FLAGS", flags)) message.Flags = std::move(flags);
  }
}

void TIdIMAP4::FetchMessages(const std::vector<int>& numbers, TIdMessage& message,
                             const std::function<bool(int n, bool fetched)>& each) {
  CheckState({csSelected});
  CheckNumbers(numbers);
  std::size_t next = 0;  // the messages before this position were handed on
  bool inOrder = true;   // false once the server answered a window out of order
  while (next < numbers.size()) {
    const std::size_t w = inOrder ? std::min(kMessageWindow, numbers.size() - next) : 1;
    if (w == 1) {
      const int n = numbers[next++];
      if (!each(n, FetchMessage(n, message))) return;
      continue;
    }
    // The window's commands go out together. Servers may answer them in any order and
    // send all data before the completions, so answers are matched by message number:
    // only the next message in order is read; one that comes early is skipped and asked
    // for again in the next window.
    DrainAhead();
    ClearStrayInput();
    std::map<std::string, std::size_t> open;  // tag -> position
    for (std::size_t k = 0; k < w; ++k)
      open[WriteTagged("FETCH " + std::to_string(numbers[next + k]) + " (RFC822)")] = next + k;
    std::size_t handed = next;  // the next position to hand on
    std::vector<bool> received(w, false);  // handed on with its data
    std::vector<bool> skipped(w, false);   // its data came early and was passed over
    // Hands the next message on; false when the caller stops (answers still on their way
    // are dropped with the session).
    auto handOn = [&](bool fetched) {
      if (each(numbers[handed++], fetched)) return true;
      if (!open.empty()) DropSession();
      return false;
    };
    try {
      while (!open.empty()) {
        const std::string line = ReadReplyLine();  // sends the window first
        std::size_t pos = 0;
        const std::string first = NextWord(line, pos);
        const std::string second = Upper(NextWord(line, pos));
        if (first == "*" && second == "BYE") UnexpectedBye();
        auto t = open.find(first);
        if (t != open.end()) {
          const std::size_t p = t->second;
          open.erase(t);
          if (received[p - next] && second != "OK")
            throw EIdException("The server refused message " + std::to_string(numbers[p]) +
                               " after sending it: " + Trim(line.substr(pos)));
          // Completed without its data: as FetchMessage, not fetched.
          if (p == handed && !skipped[p - next] && !handOn(false)) return;
          continue;
        }
        TrackUntagged(line);
        int64_t number = 0;
        std::string keyword;
        const bool isData = NumberedUntagged(line, number, keyword) && keyword == "FETCH" &&
                            FindItem(line, "RFC822") != std::string::npos;
        if (isData && handed < next + w && number == numbers[handed]) {
          const uint64_t size = CheckedLiteralSize(line, kMaxMessageLiteral);
          bool fetched = false;
          if (size == 0) {
            SkipLiterals(line);
          } else {
            std::exception_ptr parseError;
            ReadMessageLiteral(line, size, message, true, parseError);
            if (parseError) std::rethrow_exception(parseError);
            fetched = true;
          }
          received[handed - next] = fetched;
          if (!handOn(fetched)) return;
          continue;
        }
        if (isData)
          for (std::size_t k = handed - next; k < w; ++k)
            if (numbers[next + k] == number) {
              skipped[k] = true;
              inOrder = false;  // the rest goes one message at a time
            }
        SkipLiterals(line);
      }
    } catch (...) {
      if (!open.empty()) DropSession();  // answers are still on their way
      throw;
    }
    next = handed;
  }
}

bool TIdIMAP4::FetchHeader(int n, TIdMessage& message) { return Fetch(n, message, false); }

bool TIdIMAP4::FetchMessage(int n, TIdMessage& message) { return Fetch(n, message, true); }

bool TIdIMAP4::DeleteMessages(const std::vector<int>& numbers) {
  CheckState({csSelected});
  if (numbers.empty()) return false;
  CheckNumbers(numbers);
  std::string set;
  for (int n : numbers) {
    if (!set.empty()) set += ',';
    set += std::to_string(n);
  }
  const std::string tag = SendTagged("STORE " + set + " +FLAGS.SILENT (\\Deleted)");
  ReadResponse(tag, nullptr);
  return FLastResult.Code == "OK";
}

bool TIdIMAP4::ExpungeMailbox() {
  CheckState({csSelected});
  const std::string tag = SendTagged("EXPUNGE");
  ReadResponse(tag, nullptr);  // "* n EXPUNGE" lines lower the count as they come
  return FLastResult.Code == "OK";
}

int64_t TIdIMAP4::MailboxSize() {
  CheckState({csSelected});
  // "1:*" names no message in an empty mailbox, and servers refuse it; the size is 0.
  if (FMailBox.TotalMsgs == 0) return 0;
  return ReadMailboxSize(SendTagged(kSizeFetch));
}

int64_t TIdIMAP4::ReadMailboxSize(const std::string& tag) {
  const int expected = FMailBox.TotalMsgs;
  int seen = 0;
  bool bad = false;
  int64_t sum = 0;
  // The highest message number the server has announced, also by an EXISTS sent meanwhile
  // (a mail that arrived). A listing that names a message above it contradicts the count:
  // an EXISTS line of the SELECT was lost or damaged on the way, and every number read
  // from it would leave mails out.
  int64_t announced = expected;
  bool beyond = false;
  std::vector<std::string> uids(static_cast<std::size_t>(expected));
  ReadResponse(tag, [&](const std::string& line) {
    int64_t number = 0, size = 0, uid = 0;
    std::string keyword;
    const bool numbered = NumberedUntagged(line, number, keyword);
    if (numbered && keyword == "EXISTS") announced = std::max(announced, number);
    if (numbered && keyword == "FETCH" && number > announced) beyond = true;
    if (seen >= expected) return false;
    ++seen;
    if (numbered && keyword == "FETCH" &&
        ParseDecimal(ItemValue(line, "RFC822.SIZE"), size)) {
      sum = SaturatingAdd(sum, size);
      if (number >= 1 && number <= expected && ParseDecimal(ItemValue(line, "UID"), uid) && uid > 0)
        uids[static_cast<std::size_t>(number - 1)] = std::to_string(uid);
    } else {
      bad = true;
    }
    return false;
  });
  if (beyond) throw EIdException("The server listed more messages than it announced.");
  if (FLastResult.Code != "OK" || bad || seen < expected) return -1;
  if (std::none_of(uids.begin(), uids.end(), [](const std::string& u) { return u.empty(); })) {
    FSizeUids = std::move(uids);
    FSizeUidsAt = FCmdCounter;
  }
  return sum;
}

// ---------------------------------------------------------------------------
// Batches of subjects
// ---------------------------------------------------------------------------

bool TIdIMAP4::FetchUids(int count, std::vector<std::string>& uids) {
  CheckState({csSelected});
  uids.assign(static_cast<std::size_t>(count > 0 ? count : 0), std::string());
  if (count <= 0) return true;
  if (FSizeUidsAt == FCmdCounter && FSizeUids.size() == static_cast<std::size_t>(count)) {
    // MailboxSize named them just now, and no command since could have changed them.
    uids = FSizeUids;
    return true;
  }
  const std::string tag = SendTagged("FETCH 1:" + std::to_string(count) + " (UID)");
  ReadResponse(tag, [&](const std::string& line) {
    int64_t number = 0, uid = 0;
    std::string keyword;
    if (!NumberedUntagged(line, number, keyword) || keyword != "FETCH" || number < 1 ||
        number > count)
      return false;
    if (ParseDecimal(ItemValue(line, "UID"), uid) && uid > 0)
      uids[static_cast<std::size_t>(number - 1)] = std::to_string(uid);
    return false;
  });
  if (FLastResult.Code == "OK") return true;
  uids.assign(uids.size(), std::string());
  return false;
}

void TIdIMAP4::ReadSubjectLiteral(const std::string& answer, TIdMessage& message,
                                  TIdSubjectResult& result) {
  const uint64_t size = CheckedLiteralSize(answer, kMaxHeaderLiteral);
  if (size == 0) {
    // No literal (NIL, a quoted string) or an empty one: nothing to parse.
    SkipLiterals(answer);
    return;
  }
  std::exception_ptr parseError;
  ReadMessageLiteral(answer, size, message, false, parseError);
  if (parseError) {
    result.State = TIdSubjectResult::srError;
    try {
      std::rethrow_exception(parseError);
    } catch (const std::exception& e) {
      result.Error = e.what();
    } catch (...) {
    }
  } else {
    result.State = TIdSubjectResult::srRead;
    result.Subject = message.Subject;
    result.Uid = message.UID;
  }
  message.ClearHeader();
}

std::size_t TIdIMAP4::SubjectChunk(const std::vector<int>& numbers, std::size_t start,
                                   std::vector<int>& sorted, std::string& set) {
  // As many messages as fit a command of kMaxSetLength characters: ranges of consecutive
  // numbers take one element of the set each.
  std::size_t end = std::min(numbers.size(), start + kSubjectChunk);
  for (;;) {
    sorted.assign(numbers.begin() + static_cast<std::ptrdiff_t>(start),
                  numbers.begin() + static_cast<std::ptrdiff_t>(end));
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    set.clear();
    for (std::size_t i = 0; i < sorted.size();) {
      std::size_t j = i;
      while (j + 1 < sorted.size() && sorted[j + 1] == sorted[j] + 1) ++j;
      if (!set.empty()) set += ',';
      set += std::to_string(sorted[i]);
      if (j > i) set += ':' + std::to_string(sorted[j]);
      i = j + 1;
    }
    if (set.size() <= kMaxSetLength || end - start == 1) return end;
    end = start + (end - start) / 2;
  }
}

void TIdIMAP4::DrainAhead() {
  if (!FAhead) return;
  const std::unique_ptr<TSubjectAhead> ahead = std::move(FAhead);
  if (ahead->done || !Connected()) return;
  try {
    ReadResponse(ahead->tag, nullptr);  // its answers are not wanted any more
  } catch (...) {
    DropSession();
    throw;
  }
}

void TIdIMAP4::ReadSubjectAnswers(const std::string& tag, TSubjectAhead& own, TIdMessage& message,
                                  TSubjectAhead* ahead) {
  for (;;) {
    std::string answer;
    int64_t number = 0;
    const bool complete = ReadResponse(tag, [&](const std::string& line) {
      if (ahead && !ahead->done && line.compare(0, ahead->tag.size() + 1, ahead->tag + " ") == 0) {
        // The command written ahead completed first (servers may run both at once).
        std::size_t pos = ahead->tag.size();
        ahead->result.Code = Upper(NextWord(line, pos));
        ahead->result.Text = Trim(line.substr(pos));
        ahead->done = true;
        return false;
      }
      std::string keyword;
      if (!NumberedUntagged(line, number, keyword) || keyword != "FETCH") return false;
      // The answer names the fields as asked, or with the names quoted or in another
      // case; without the item it is a flag update.
      if (FindItem(line, "BODY[HEADER.FIELDS") == std::string::npos) return false;
      answer = line;
      return true;
    });
    if (complete) break;
    // An answer for the command written ahead may come early too.
    TSubjectAhead* owner = &own;
    auto it = number <= kMaxMessageCount ? own.results.find(static_cast<int>(number)) : own.results.end();
    if (it == own.results.end() && ahead && number <= kMaxMessageCount) {
      auto early = ahead->results.find(static_cast<int>(number));
      if (early != ahead->results.end()) {
        it = early;
        owner = ahead;
      }
    }
    if (it == owner->results.end() || !owner->answered.insert(it->first).second) {
      SkipLiterals(answer);  // not asked for, or answered twice: the first answer counts
      continue;
    }
    ReadSubjectLiteral(answer, message, it->second);
  }
  own.result = FLastResult;
  own.done = true;
}

void TIdIMAP4::FetchSubjects(const std::vector<int>& numbers, TIdMessage& message,
                             const TIdSubjectSink& sink, const std::vector<int>& next) {
  CheckState({csSelected});
  CheckNumbers(numbers);
  CheckNumbers(next);
  // The answers of a command written ahead for exactly these numbers are read now; those
  // of one for other numbers are dropped.
  std::unique_ptr<TSubjectAhead> taken;
  if (FAhead && FAhead->numbers == numbers) taken = std::move(FAhead);
  DrainAhead();
  for (std::size_t start = 0, end = 0; start < numbers.size(); start = end) {
    std::unique_ptr<TSubjectAhead> own = std::move(taken);
    if (own) {
      end = numbers.size();  // written ahead only when it was one command
    } else {
      own = std::make_unique<TSubjectAhead>();
      std::vector<int> sorted;
      std::string set;
      end = SubjectChunk(numbers, start, sorted, set);
      for (int n : sorted) own->results[n];
      own->tag = SendTagged("FETCH " + set + " (UID " + kSubjectItem + ")");
    }
    // The next list's command goes out before this one's answers are read, so that no
    // round trip comes between the two lists.
    std::unique_ptr<TSubjectAhead> ahead;
    if (end == numbers.size() && !next.empty()) {
      std::vector<int> sorted;
      std::string set;
      if (SubjectChunk(next, 0, sorted, set) == next.size()) {
        ahead = std::make_unique<TSubjectAhead>();
        ahead->numbers = next;
        for (int n : sorted) ahead->results[n];
        ahead->tag = WriteTagged("FETCH " + set + " (UID " + kSubjectItem + ")");
      }
    }
    try {
      if (!own->done) ReadSubjectAnswers(own->tag, *own, message, ahead.get());
    } catch (...) {
      if (ahead) DropSession();  // its answers are still on their way
      throw;
    }
    FAhead = std::move(ahead);
    FLastResult = own->result;
    std::map<int, TIdSubjectResult>& results = own->results;
    std::set<int>& answered = own->answered;
    if (FLastResult.Code != "OK") {
      // Refused: one at a time, each with its own outcome.
      for (std::size_t k = start; k < end; ++k) {
        TIdSubjectResult r;
        try {
          if (Fetch(numbers[k], message, false)) {
            r.State = TIdSubjectResult::srRead;
            r.Subject = message.Subject;
          } else if (FLastResult.Code != "OK") {
            // Refused: the header is unknown, not empty.
            r.State = TIdSubjectResult::srError;
            r.Error = "The server refused the header of message " + std::to_string(numbers[k]) +
                      ": " + FLastResult.Code + " " + FLastResult.Text;
          }
        } catch (const EIdMessageException& e) {
          r.State = TIdSubjectResult::srError;
          r.Error = e.what();
        }
        message.ClearHeader();
        sink(numbers[k], r);
      }
      continue;
    }
    for (std::size_t k = start; k < end; ++k) {
      TIdSubjectResult r = results[numbers[k]];
      if (!answered.count(numbers[k])) {
        // A message the server passed over in silence: its header is unknown, not empty.
        r.State = TIdSubjectResult::srError;
        r.Error = "The server sent no header for message " + std::to_string(numbers[k]) + ".";
      }
      sink(numbers[k], r);
    }
  }
}
