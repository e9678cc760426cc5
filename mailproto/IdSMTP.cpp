#include "IdSMTP.h"

#include "Base64.h"
#include "IdMessage.h"
#include "ProtoText.h"

#include <algorithm>
#include <optional>
#include <sys/utsname.h>
#include <unistd.h>

using prototext::Upper;

TIdSMTP::TIdSMTP() : TIdTCPConnection(25, 465) {}

TIdSMTP::~TIdSMTP() = default;

void TIdSMTP::RaiseReplyError(const TIdReply& reply) {
  throw EIdSMTPReplyError(reply.JoinedText(), reply.Code, reply.NumericCode);
}

std::string TIdSMTP::EffectiveHeloName() const {
  if (!HeloName.empty()) return HeloName;
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') return name;
  utsname u{};
  if (::uname(&u) == 0 && u.nodename[0] != '\0') return std::string(u.nodename).substr(0, 15);
  return "localhost";
}

void TIdSMTP::Connect() {
  FDidAuthenticate = false;
  TIdTCPConnection::Connect();
  try {
    {
      TGreetingWait wait(*this);
      GetResponse({220});
    }
    SendGreeting();
  } catch (...) {
    // Close again; the error of the greeting is what the caller needs to see.
    try {
      Disconnect();
    } catch (...) {
    }
    throw;
  }
}

void TIdSMTP::SendGreeting() {
  FCapabilities.clear();
  const std::string name = EffectiveHeloName();
  if (UseEhlo) {
    const TIdReply& r = SendCmd("EHLO " + name);
    if (r.NumericCode == 250) {
      FCapabilities.assign(r.Text.begin() + (r.Text.empty() ? 0 : 1), r.Text.end());
      return;
    }
  }
  SendCmd("HELO " + name, {250});
}

void TIdSMTP::Disconnect() {
  if (Connected()) {
    try {
      SendCmd("QUIT", {221});
    } catch (...) {
      CloseConnection();
      FDidAuthenticate = false;
      throw;
    }
  }
  CloseConnection();
  FDidAuthenticate = false;
}

std::vector<std::string> TIdSMTP::AuthMechanisms() const {
  std::vector<std::string> mechs;
  for (const std::string& line : FCapabilities) {
    // "AUTH LOGIN PLAIN" and the older "AUTH=LOGIN".
    if (line.size() < 5 || Upper(line.substr(0, 4)) != "AUTH" || (line[4] != ' ' && line[4] != '='))
      continue;
    std::string rest = line.substr(5);
    std::replace(rest.begin(), rest.end(), '=', ' ');
    std::size_t i = 0;
    while (i < rest.size()) {
      while (i < rest.size() && rest[i] == ' ') ++i;
      std::size_t j = i;
      while (j < rest.size() && rest[j] != ' ') ++j;
      if (j > i) {
        std::string word = rest.substr(i, j - i);
        if (std::find(mechs.begin(), mechs.end(), word) == mechs.end()) mechs.push_back(word);
      }
      i = j;
    }
  }
  return mechs;
}

bool TIdSMTP::Login() {
  if (FDidAuthenticate) return true;
  switch (AuthType) {
    case atNone:
      FDidAuthenticate = true;
      break;
    case atDefault: {
      if (Username.empty()) return false;
      const auto mechs = AuthMechanisms();
      bool login = std::any_of(mechs.begin(), mechs.end(),
                               [](const std::string& m) { return Upper(m) == "LOGIN"; });
      if (login) {
        SendCmd("AUTH LOGIN", {334});
        SendCmd(Base64Encode(Username), {334});
        SendCmd(Base64Encode(Password), {235});
        FDidAuthenticate = true;
      }
      break;
    }
    case atSASL:
      throw EIdException("Need SASL mechanisms to login with it!!");
  }
  return FDidAuthenticate;
}

bool TIdSMTP::Pipelining() const {
  if (!PipeLine) return false;
  for (const std::string& line : FCapabilities) {
    const std::string_view l = prototext::TrimView(line);
    if (Upper(std::string(l.substr(0, l.find(' ')))) == "PIPELINING") return true;
  }
  return false;
}

namespace {
// Runs step; a refusal of the server is followed by RSET, so that the next transaction
// starts clean, and is then raised again.
template <class F> void ResetAfterRefusal(TIdSMTP& smtp, F step) {
  try {
    step();
  } catch (const EIdSMTPReplyError&) {
    try {
      smtp.SendCmd("RSET");
    } catch (const EIdException&) {
    }
    throw;
  }
}
}  // namespace

void TIdSMTP::SendMessage(TIdMessage& message) {
  Login();
  message.ExtraHeaders.SetValue("X-Mailer", MailAgent);  // empty: no X-Mailer line

  std::vector<std::string> recipients;
  for (const auto& a : message.Recipients) recipients.push_back(a.Address);
  for (const auto& a : message.CCList) recipients.push_back(a.Address);
  for (const auto& a : message.BccList) recipients.push_back(a.Address);
  const std::string sender = message.From.Empty() ? std::string() : message.From[0].Address;

  FDataSent = false;
  if (Pipelining()) {
    SendEnvelopePipelined(sender, recipients);
  } else {
    SendCmd("RSET");
    SendCmd("MAIL FROM: <" + sender + ">", {250});
    ResetAfterRefusal(*this, [&] {
      for (const std::string& r : recipients) SendCmd("RCPT TO:<" + r + ">", {250, 251});
      SendCmd("DATA", {354});
    });
  }
  FDataSent = true;
  ResetAfterRefusal(*this, [&] {
    // The mail's last bytes and the "." that ends it go out together.
    HoldShortSegments(true);
    SendBody(message);
    WriteLn(".");
    FlushWriteBuffer();
    HoldShortSegments(false);
    GetResponse({250});
  });
}

void TIdSMTP::SendEnvelopePipelined(const std::string& sender,
                                    const std::vector<std::string>& recipients) {
  WriteLn("RSET");
  WriteLn("MAIL FROM: <" + sender + ">");
  for (const std::string& r : recipients) WriteLn("RCPT TO:<" + r + ">");
  WriteLn("DATA");
  // The replies come in the order of the commands; the first read sends the commands.
  std::optional<TIdReply> refusal;  // the first reply not accepted
  bool mailTaken = false, dataTaken = false;
  try {
    GetResponse();  // RSET: any answer, as when it goes alone
    mailTaken = GetResponse().NumericCode == 250;
    if (!mailTaken) refusal = LastCmdResult();
    for (std::size_t i = 0; i < recipients.size(); ++i) {
      const int code = GetResponse().NumericCode;
      if (!refusal && code != 250 && code != 251) refusal = LastCmdResult();
    }
    dataTaken = GetResponse().NumericCode == 354;
    if (!refusal && !dataTaken) refusal = LastCmdResult();
  } catch (const EIdException&) {
    // Replies are still to come, or the connection is gone: either way the session is out
    // of step. A refusal that came before is the reason the mail failed.
    CloseConnection();
    FDidAuthenticate = false;
    if (refusal) RaiseReplyError(*refusal);
    throw;
  } catch (...) {
    CloseConnection();
    FDidAuthenticate = false;
    throw;
  }
  if (!refusal) return;
  if (dataTaken) {
    // A recipient was refused, yet the server waits for the mail: only the end of the
    // connection ends that without delivering it to the others.
    CloseConnection();
    FDidAuthenticate = false;
  } else if (mailTaken) {
    try {
      SendCmd("RSET");
    } catch (const EIdException&) {
    }
  }
  RaiseReplyError(*refusal);
}

void TIdSMTP::SendBody(TIdMessage& message) {
  try {
    TFunctionSink wire([this](const char* p, std::size_t n) { Write(std::string_view(p, n)); });
    TDotStuffingSink data(wire);
    message.WriteHeader(data);
    BeginWork(wmWrite);
    try {
      message.WriteBody(data);
    } catch (...) {
      try {
        EndWork(wmWrite);
      } catch (...) {
      }
      throw;
    }
    EndWork(wmWrite);
    if (!data.AtLineStart()) Write("\r\n");
  } catch (...) {
    // The server is inside DATA: any command now would become part of the mail. Drop the
    // connection without the final "." so that the incomplete mail is never delivered.
    CloseConnection();
    FDidAuthenticate = false;
    throw;
  }
}
