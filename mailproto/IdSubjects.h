// Outcome of one header fetch in a batch of header fetches (POP3 TOP, IMAP4 FETCH).
#pragma once

#include <functional>
#include <string>

struct TIdSubjectResult {
  // srRead: Subject holds the decoded subject. srNotRead: the single fetch would have
  // returned false. srError: the single fetch would have raised Error; the session stays
  // usable.
  enum TState { srRead, srNotRead, srError } State = srNotRead;
  std::string Subject;
  std::string Uid;  // IMAP4: the UID the server named with the header, when it did
  std::string Error;
};

// Receives the outcome for message number n.
using TIdSubjectSink = std::function<void(int n, TIdSubjectResult& result)>;
