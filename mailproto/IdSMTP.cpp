#include "IdSMTP.h"

#include "Base64.h"
#include "IdMessage.h"
#include "ProtoText.h"

#include <algorithm>
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

void TIdSMTP::SendMessage(TIdMessage& message) {
  Login();
  message.ExtraHeaders.SetValue("X-Mailer", MailAgent);  // empty: no X-Mailer line

  std::vector<std::string> recipients;
  for (const auto& a : message.Recipients) recipients.push_back(a.Address);
  for (const auto& a : message.CCList) recipients.push_back(a.Address);
  for (const auto& a : message.BccList) recipients.push_back(a.Address);
  const std::string sender = message.From.Empty() ? std::string() : message.From[0].Address;

  FDataSent = false;
  SendCmd("RSET");
  SendCmd("MAIL FROM: <" + sender + ">", {250});
  try {
    for (const std::string& r : recipients) SendCmd("RCPT TO:<" + r + ">", {250, 251});
    SendCmd("DATA", {354});
    FDataSent = true;
    // The mail's last bytes and the "." that ends it go out together.
    HoldShortSegments(true);
    SendBody(message);
    WriteLn(".");
    FlushWriteBuffer();
    HoldShortSegments(false);
    GetResponse({250});
  } catch (const EIdSMTPReplyError&) {
    // Leave the server ready for the next transaction; the refusal is what matters.
    try {
      SendCmd("RSET");
    } catch (const EIdException&) {
    }
    throw;
  }
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
