// POP3 client: greeting, CAPA, USER/PASS login, STAT, TOP n 0, RETR, DELE, LIST, QUIT.
// Connection, TLS, time-outs and error texts come from TIdTCPConnection (plain port 110,
// implicit-TLS port 995).
//
// One session per operation: Connect() (greeting, CAPA and, with AutoLogin, the login),
// the commands, Disconnect() (QUIT; the server commits the DELE marks only then).
//
// Replies are one status line: "+OK", "-ERR" or "+", then the text. A line without one of
// these codes counts as "-ERR". A refused command raises EIdReplyError whose message is the
// server's text after the code. Multi-line data (CAPA, TOP, RETR, LIST) ends with a line
// "." alone; in TOP and RETR data a leading "." is a stuffed dot and removed.
//
// Fetched messages stream into TIdMessage through TMimeParser: attachment bytes go to the
// parser as each line arrives, so memory stays bounded for any message size.
//
// Batches (FetchSubjects, DeleteMessages with a list): when the server lists PIPELINING in
// its CAPA reply, the commands go out in a sliding window of at most kPipelineWindow
// commands in flight and the replies are matched to them in order; otherwise they are sent
// one at a time. Either way each command has its own outcome, exactly as if it had been
// sent alone.
#pragma once

#include "IdSubjects.h"
#include "IdTCPConnection.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TIdMessage;

class TIdPOP3 : public TIdTCPConnection {
public:
  // Nested so that the names do not collide with the SMTP and IMAP4 kinds.
  enum TIdPOP3AuthenticationType { atUserPass, atAPOP, atSASL };

  // Upper bound of a STAT count; a larger number is a broken or hostile server.
  static constexpr int64_t kMaxMessageCount = 0x7FFFFFFF;
  // Upper bound of the CAPA reply (lines kept in memory).
  static constexpr std::size_t kMaxCapabilityLines = 1000;
  // Commands of a batch that may wait for their replies at one time.
  static constexpr std::size_t kPipelineWindow = 256;
  // A unique id is 1 to 70 printable characters (RFC 1939).
  static constexpr std::size_t kMaxUniqueIdLength = 70;

  TIdPOP3();
  ~TIdPOP3() override;

  TIdPOP3AuthenticationType AuthType = atUserPass;
  bool AutoLogin = true;

  // TCP (+ TLS), greeting "+OK", CAPA, and with AutoLogin the login. On any error the
  // connection is closed again and the error raised.
  void Connect() override;
  // "QUIT" (reply must be "+OK"); the connection is closed in any case.
  void Disconnect() override;
  // USER/PASS (or APOP). A refusal raises the server's text.
  void Login();

  // STAT: the number of messages. Raises "'%s' is not a valid integer value" for a count
  // that is not a number (or is negative or absurdly large).
  int CountMessages();
  // TOP n 0 into message (cleared first). True unless an error is raised.
  bool FetchHeader(int n, TIdMessage& message);
  // RETR n into message. False (message untouched) when the server refuses.
  bool FetchMessage(int n, TIdMessage& message);
  // FetchMessage for several messages in order (RETR pipelined as the other batches):
  // each(n, fetched) gets what FetchMessage would have returned, the message parsed into
  // message, and returns false to stop (with replies still on their way, the connection
  // is dropped). Parse and connection errors are raised.
  void FetchMessages(const std::vector<int>& numbers, TIdMessage& message,
                     const std::function<bool(int n, bool fetched)>& each);
  // DELE n; takes effect at QUIT. True unless an error is raised.
  bool DeleteMessage(int n);
  // LIST: the sum of all message sizes in bytes; -1 on any failure.
  int64_t MailboxSize();

  // The server allows several commands in flight (PIPELINING in CAPA).
  bool CanPipeline() const;
  // UIDL: ids[k] := the unique id of message k + 1, for messages 1 .. count; a message the
  // listing does not name, names twice or names with an invalid id keeps an empty id.
  // False (ids all empty) when the server refuses the command.
  bool ListUniqueIds(int count, std::vector<std::string>& ids);

  // TOP n 0 for each number, in order; the sink receives each outcome as it arrives, in the
  // order of numbers (srRead or srError). message is the scratch object the headers are parsed into. An error of
  // the connection closes it and is raised (outcomes not delivered yet are lost).
  void FetchSubjects(const std::vector<int>& numbers, TIdMessage& message, const TIdSubjectSink& sink);
  // DELE for each number; ok[k] tells whether the server confirmed numbers[k]. An error of
  // the connection closes it and is raised.
  std::vector<bool> DeleteMessages(const std::vector<int>& numbers);

  // The "<...>" part of the greeting, empty when there was none.
  const std::string& APOPTimestamp() const { return FAPOPTimestamp; }
  // Lines of the CAPA reply (empty when CAPA was refused).
  const std::vector<std::string>& Capabilities() const { return FCapabilities; }

protected:
  // One status line: Code "+OK" / "-ERR" / "+", Text = { the rest of the line }.
  TIdReply ReadReply() override;

private:
  // The next line of multi-line data with a stuffed dot removed; false at the "." line.
  bool NextDataLine(std::string& line);
  // Reads and drops multi-line data up to the "." line.
  void SkipDataLines();
  void StartTLSIfRequired();
  // The data of a TOP reply parsed into message (header lines only).
  void ReadHeaderData(TIdMessage& message);
  // The data lines of a RETR answer, parsed into message.
  void ReadMessageData(TIdMessage& message);
  // Sends commands[k] for every k and hands each reply to onReply(k, reply) in order, which
  // must read the reply's data too; pipelined when the server allows it. onReply returns
  // false to stop: replies still on their way are dropped with the connection.
  void RunBatch(std::size_t count, const std::function<std::string(std::size_t)>& command,
                const std::function<bool(std::size_t, const TIdReply&)>& onReply);

  std::string FAPOPTimestamp;
  std::vector<std::string> FCapabilities;
};
