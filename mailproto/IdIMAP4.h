// IMAP4 client: greeting, LOGIN, CAPABILITY, SELECT, FETCH (RFC822.HEADER, RFC822,
// RFC822.SIZE, UID, the Subject lines), STORE +FLAGS.SILENT (\Deleted), EXPUNGE, LOGOUT.
// Connection, TLS, time-outs and error texts come from TIdTCPConnection (plain port 143,
// implicit-TLS port 993).
//
// One session per operation: Connect() (greeting and login), SelectMailbox("INBOX"), the
// fetch or store commands, Disconnect() (LOGOUT).
//
// Commands are tagged "C1", "C2", ...; the counter starts again at login. A tagged "NO" or
// "BAD" is no error: the operation returns false (MailboxSize -1) and LastResult() holds
// the server's text. Errors are raised for: a refused login (the server's text), a command
// in the wrong state, a message number below 1, an unexpected untagged BYE, and everything
// the connection layer raises.
//
// Whatever the server announces is checked before it is trusted: literal sizes against
// what the command can need (a header, a message), counts against the int range. A
// fetched message streams from its literal into TIdMessage through TMimeParser, so
// memory stays bounded for any message size. Literals in untagged answers that the client
// does not use are read and dropped, so the session stays in step with the server.
#pragma once

#include "IdSubjects.h"
#include "IdTCPConnection.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class TIdMessage;

enum TIdIMAP4RetrieveOnSelect { rsDisabled, rsHeaders, rsMessages };

class TIdIMAP4 : public TIdTCPConnection {
public:
  // Nested so that the names do not collide with the SMTP and POP3 kinds.
  enum TIdIMAP4AuthenticationType { atUserPass, atSASL };
  enum TIdIMAP4ConnectionState {
    csNonAuthenticated,
    csAuthenticated,
    csSelected,
    csUnexpectedlyDisconnected
  };

  // The selected mailbox as SELECT reported it.
  struct TIdMailBox {
    std::string Name;
    int TotalMsgs = 0;         // "n EXISTS"
    int RecentMsgs = 0;        // "n RECENT"
    int64_t UIDValidity = 0;   // "[UIDVALIDITY n]"
    int FirstUnseenMsg = 0;    // "[UNSEEN n]"
    std::vector<std::string> Flags;           // "FLAGS (...)"
    std::vector<std::string> ChangeableFlags; // "[PERMANENTFLAGS (...)]"
    bool ReadOnly = true;      // false only with "[READ-WRITE]"
  };

  // The tagged (or final) line of the last command.
  struct TIdIMAP4Result {
    std::string Code;  // "OK", "NO", "BAD", "PREAUTH", "BYE" or "+"
    std::string Text;  // the server's text after the code
  };

  // Bounds on what the server announces.
  static constexpr uint64_t kMaxHeaderLiteral = 16u << 20;        // RFC822.HEADER
  static constexpr uint64_t kMaxMessageLiteral = 4ull << 30;      // RFC822 and any other
  static constexpr int64_t kMaxMessageCount = 0x7FFFFFFF;         // EXISTS
  static constexpr std::size_t kMaxCapabilities = 1000;
  static constexpr std::size_t kSubjectChunk = 10000;  // messages a subject FETCH at most
  static constexpr std::size_t kMaxSetLength = 8000;   // characters of its message set at most

  TIdIMAP4();
  ~TIdIMAP4() override;

  TIdIMAP4AuthenticationType AuthType = atUserPass;
  TIdIMAP4RetrieveOnSelect RetrieveOnSelect = rsDisabled;  // only rsDisabled is supported
  // Before each command, input already received, and what arrives within this many
  // milliseconds, is dropped (0: no wait; the replies of a command are never stray).
  int MilliSecsToWaitToClearBuffer = 0;
  char MailBoxSeparator = '/';
  // Progress of the message text while FetchMessage reads it (bytes of the literal so far).
  TWorkEvent OnWorkForPart;

  // TCP (+ TLS), greeting, LOGIN, CAPABILITY (unless LOGIN's answer named the
  // capabilities in its response code). A greeting other than OK or PREAUTH and a
  // LOGIN answered NO or BAD raise the server's text; on any error the connection is
  // closed again.
  void Connect() override;
  // LOGOUT (an untagged BYE is expected), then close. Not connected: raises "Not Connected".
  // The connection is closed in any case.
  void Disconnect() override;

  bool SelectMailbox(const std::string& name);
  // SelectMailbox and MailboxSize with both commands in one write: one round trip for the
  // two. size: what MailboxSize returns (0 for an empty mailbox), -1 when the mailbox was
  // not selected. A FetchUids right after it takes the UIDs from there too.
  bool SelectMailboxAndSize(const std::string& name, int64_t& size);
  int MessageCount() const { return FMailBox.TotalMsgs; }
  bool FetchHeader(int n, TIdMessage& message);
  bool FetchMessage(int n, TIdMessage& message);
  // FetchMessage for several messages, handed on in the order of numbers: each(n, fetched)
  // gets what FetchMessage would have returned, the message parsed into message, and
  // returns false to stop. The commands are written ahead in windows of kMessageWindow
  // (stray input is cleared once a window). An error FetchMessage would raise is raised;
  // stopping or an error with answers still on their way drops the connection.
  void FetchMessages(const std::vector<int>& numbers, TIdMessage& message,
                     const std::function<bool(int n, bool fetched)>& each);
  static constexpr std::size_t kMessageWindow = 64;
  // STORE n,m,... +FLAGS.SILENT (\Deleted). False for an empty list or a refusal.
  bool DeleteMessages(const std::vector<int>& numbers);
  // EXPUNGE: removes the messages flagged \Deleted from the selected mailbox. Message
  // numbers of the remaining messages change afterwards.
  bool ExpungeMailbox();
  // Sum of RFC822.SIZE over all messages of the selected mailbox; -1 on failure. The same
  // FETCH asks for the UIDs, which a FetchUids right after it takes from there.
  int64_t MailboxSize();

  // FETCH 1:count (UID): uids[k] := the UID of message k + 1, empty when the answer names
  // none. False (every UID empty) when the server refuses. Straight after a MailboxSize
  // that named a UID for each of count messages, those are the answer, without a command.
  bool FetchUids(int count, std::vector<std::string>& uids);
  // The subjects of the given messages, fetched in ranges of at most kSubjectChunk
  // messages and kMaxSetLength characters a command ("FETCH set (UID
  // BODY.PEEK[HEADER.FIELDS (SUBJECT)])": the header's Subject lines); a range the server
  // refuses is fetched again one message at a time. Outcomes go to sink in the order of numbers:
  // srRead, srNotRead where FetchHeader would return false, srError where it would raise
  // (the session stays in step). message is the scratch object the headers are parsed
  // into. Errors of the connection are raised.
  // next: the numbers of the caller's next FetchSubjects, when it knows them. Their command
  // (when they fit one) is written ahead, before this call reads its answers, so that no
  // round trip comes between the two calls; a next call with other numbers, or any other
  // command, first reads those answers to their end and drops them. An error with them on
  // their way drops the connection.
  void FetchSubjects(const std::vector<int>& numbers, TIdMessage& message,
                     const TIdSubjectSink& sink, const std::vector<int>& next = {});

  TIdIMAP4ConnectionState ConnectionState() const { return FState; }
  const std::string& GreetingBanner() const { return FGreetingBanner; }
  const std::vector<std::string>& Capabilities() const { return FCapabilities; }
  const TIdMailBox& MailBox() const { return FMailBox; }
  const TIdIMAP4Result& LastResult() const { return FLastResult; }

  // "Non Authenticated", "Authenticated", "Selected", "" for a connection lost unexpectedly.
  static std::string StateName(TIdIMAP4ConnectionState state);
  // Argument of LOGIN: an atom as it is, anything else as a quoted string.
  static std::string QuoteString(const std::string& text);
  // Mailbox name in modified UTF-7 (UTF-8 input), as SELECT sends it.
  static std::string EncodeMailboxName(const std::string& name);

private:
  // Called for every untagged line of a response; true stops the reading there (the
  // caller then reads the rest of the response itself, literal included).
  using UntaggedHandler = std::function<bool(const std::string& line)>;

  void Login();
  void RequestCapability();
  // Takes a capability list ("IMAP4rev1 IDLE ..."); false when it is empty.
  bool TakeCapabilities(const std::string& list);
  void CheckState(std::initializer_list<TIdIMAP4ConnectionState> allowed) const;
  void ClearStrayInput();
  std::string SendTagged(const std::string& command);
  // Sends the commands written so far.
  void FlushCommands();
  // "SELECT name" after the checks; ReadSelect reads its answer into MailBox().
  std::string SelectCommand(const std::string& name) const;
  bool ReadSelect(const std::string& name, const std::string& tag);
  // Reads the answer of MailboxSize's command, sent with tag.
  int64_t ReadMailboxSize(const std::string& tag);
  // SendTagged without the clearing and without sending yet (commands written ahead).
  std::string WriteTagged(const std::string& command);
  // Gives up the connection with answers still unread.
  void DropSession();
  // Reads up to the final line of the response to tag; returns false when the handler
  // stopped it early.
  bool ReadResponse(const std::string& tag, const UntaggedHandler& handler,
                    bool byeExpected = false);
  // Reads and drops the literal a line announces, and the lines that follow it, as long as
  // they announce more.
  void SkipLiterals(std::string line);
  void TrackUntagged(const std::string& line);
  void ReadGreeting();
  [[noreturn]] void UnexpectedBye();
  uint64_t CheckedLiteralSize(const std::string& line, uint64_t limit);
  bool Fetch(int n, TIdMessage& message, bool wholeMessage);
  // Reads the message literal of size bytes that answer announces (and the rest of that
  // FETCH answer) into message, with the answer's UID (and FLAGS for a whole message). A
  // parse error is kept in parseError; the bytes are read to the end all the same, so the
  // session stays in step.
  void ReadMessageLiteral(const std::string& answer, uint64_t size, TIdMessage& message,
                          bool wholeMessage, std::exception_ptr& parseError);
  // Reads the header literal that answer announces (and the rest of that FETCH answer)
  // into result.
  void ReadSubjectLiteral(const std::string& answer, TIdMessage& message, TIdSubjectResult& result);

  // A FETCH of subjects and what has come of it so far.
  struct TSubjectAhead {
    std::string tag;
    std::vector<int> numbers;                 // as the caller asks for them
    std::map<int, TIdSubjectResult> results;  // an entry for each number asked for
    std::set<int> answered;
    bool done = false;                        // its tagged answer came: result
    TIdIMAP4Result result;
  };
  // The end of the part of numbers from start on that one command asks for, with its
  // numbers sorted and its message set.
  static std::size_t SubjectChunk(const std::vector<int>& numbers, std::size_t start,
                                  std::vector<int>& sorted, std::string& set);
  // Reads the answers of tag into own; those of the command written ahead that come
  // early go into ahead.
  void ReadSubjectAnswers(const std::string& tag, TSubjectAhead& own, TIdMessage& message,
                          TSubjectAhead* ahead);
  // Reads the answers of a command written ahead to their end, dropping them.
  void DrainAhead();

  TIdIMAP4ConnectionState FState = csNonAuthenticated;
  int FCmdCounter = 0;
  std::string FGreetingBanner;
  std::string FGreetingCode;
  std::vector<std::string> FCapabilities;
  TIdMailBox FMailBox;
  TIdIMAP4Result FLastResult;
  bool FSawBye = false;
  std::vector<std::string> FSizeUids;  // the UIDs the last MailboxSize named
  int FSizeUidsAt = -1;                // FCmdCounter after that MailboxSize
  std::unique_ptr<TSubjectAhead> FAhead;  // subjects asked for ahead, answers not read yet
};
