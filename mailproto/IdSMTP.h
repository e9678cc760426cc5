// SMTP client: greeting (EHLO, HELO fallback), AUTH LOGIN, sending one message per
// MAIL/RCPT/DATA exchange, QUIT. Connection, TLS and error texts come from
// TIdTCPConnection (plain port 25, implicit-TLS port 465).
//
// Pipelining: when PipeLine is on and the EHLO reply lists PIPELINING, RSET, MAIL FROM,
// RCPT TO and DATA of a message leave in one write and their replies are read after it,
// each in turn, so that a message costs two round trips (the commands, then the data)
// instead of five. Every reply is still checked: the first one refused is the error the
// message fails with, and the replies after it are read all the same, so the session stays
// in step. Without PIPELINING each command waits for its reply. The commands and the
// message's bytes are the same either way.
#pragma once

#include "IdTCPConnection.h"

#include <string>
#include <vector>

class TIdMessage;

enum TIdSMTPAuthenticationType { atNone, atDefault, atSASL };

// A reply of the SMTP server with a code that was not accepted.
class EIdSMTPReplyError : public EIdReplyError {
public:
  using EIdReplyError::EIdReplyError;
};

class TIdSMTP : public TIdTCPConnection {
public:
  TIdSMTP();
  ~TIdSMTP() override;

  TIdSMTPAuthenticationType AuthType = atDefault;
  bool UseEhlo = true;
  bool PipeLine = true;   // pipeline the commands of a message where the server allows it
  std::string HeloName;   // empty: the local host name
  std::string MailAgent;  // empty: no X-Mailer header

  // TCP/TLS, greeting 220, EHLO (or HELO). Closes the connection again on any error.
  void Connect() override;
  // QUIT (221 required); the connection is closed in any case.
  void Disconnect() override;
  // Authenticates as AuthType says; returns whether the session is authenticated.
  bool Login();
  // RSET, MAIL FROM, RCPT TO for To/Cc/Bcc, DATA, the message, ".". A refusal raises
  // EIdSMTPReplyError with the server's text (pipelined: that of the first refusal) after an
  // RSET; a DATA accepted although a recipient was refused is never followed by the
  // message: the connection is closed instead, so that nothing is delivered.
  void SendMessage(TIdMessage& message);

  bool DidAuthenticate() const { return FDidAuthenticate; }
  // The last SendMessage got as far as the mail's data (the server accepted DATA): when it
  // failed after that, the mail may still have reached the server.
  bool DataSent() const { return FDataSent; }
  // PipeLine is on and the server announced PIPELINING.
  bool Pipelining() const;
  // Lines of the last EHLO reply except the first.
  const std::vector<std::string>& Capabilities() const { return FCapabilities; }
  // The name sent with EHLO/HELO: HeloName, else the local host name.
  std::string EffectiveHeloName() const;

protected:
  [[noreturn]] void RaiseReplyError(const TIdReply& reply) override;

private:
  void SendGreeting();
  std::vector<std::string> AuthMechanisms() const;
  void SendBody(TIdMessage& message);
  // RSET to DATA in one write; raises the first refusal. Returns when DATA was accepted.
  void SendEnvelopePipelined(const std::string& sender, const std::vector<std::string>& recipients);

  std::vector<std::string> FCapabilities;
  bool FDidAuthenticate = false;
  bool FDataSent = false;
};
