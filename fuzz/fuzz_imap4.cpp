// Fuzz target: the IMAP4 client reading what a hostile or broken server says. The input is
// the server's whole side of one session; the client runs the dialogue the worker runs:
// greeting, LOGIN, CAPABILITY, SELECT INBOX, FETCH of the UIDs, of RFC822.SIZE and of the
// subjects (UID RFC822.HEADER, one message at a time after a refusal), single FETCHes of a
// header and of a message streamed as a download does, the windowed FETCH batch, STORE
// \Deleted, EXPUNGE, LOGOUT. Commands are tagged C1, C2, ... in that order.
#include "FuzzServer.h"
#include "FuzzSession.h"
#include "IdIMAP4.h"
#include "IdMessage.h"
#include "StoredMail.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {
// The size of the file a download would fetch.
constexpr std::size_t kFileSize = 4096;

// Message numbers asked for: a few, whatever EXISTS says, so that every reply is reached.
std::vector<int> Numbers(int count) {
    const int n = count >= 1 && count <= 8 ? count : 3;
    std::vector<int> v;
    for (int i = 1; i <= n; ++i) v.push_back(i);
    return v;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static TFuzzServer server;
    server.Play(data, size);
    {
        TIdIMAP4 imap;
        fuzzsession::Setup(imap, server);
        // All input is there at once: clearing stray input before a command would eat the
        // replies to come.
        imap.MilliSecsToWaitToClearBuffer = -1;
        TIdMessage message;
        std::size_t streamed = 0;
        message.AttachmentStorage = asStream;
        message.OnAttachmentData = [&](const char*, std::size_t n) { streamed += n; };
        using fuzzsession::Step;
        std::vector<int> numbers;
        [&] {
            if (!Step(imap, "Connect", [&] { imap.Connect(); })) return;
            if (!Step(imap, "SelectMailbox", [&] { imap.SelectMailbox("INBOX"); })) return;
            numbers = Numbers(imap.MessageCount());
            if (!Step(imap, "FetchUids", [&] {
                    std::vector<std::string> uids;
                    imap.FetchUids(static_cast<int>(numbers.size()), uids);
                }))
                return;
            if (!Step(imap, "MailboxSize", [&] { imap.MailboxSize(); })) return;
            if (!Step(imap, "FetchSubjects", [&] {
                    imap.FetchSubjects(numbers, message, [](int, TIdSubjectResult& r) {
                        ParseStoredSubject(r.Subject);
                    });
                }))
                return;
            if (!Step(imap, "FetchHeader", [&] { imap.FetchHeader(1, message); })) return;
            if (!Step(imap, "FetchMessage", [&] { imap.FetchMessage(1, message); })) return;
            if (!Step(imap, "FetchMessages", [&] {
                    imap.FetchMessages(numbers, message, [&](int, bool) {
                        // As a download: more bytes than the file holds stop the batch.
                        message.ClearBody();
                        return streamed <= kFileSize;
                    });
                }))
                return;
            if (!Step(imap, "DeleteMessages", [&] { imap.DeleteMessages(numbers); })) return;
            if (!Step(imap, "ExpungeMailbox", [&] { imap.ExpungeMailbox(); })) return;
            Step(imap, "Disconnect", [&] { imap.Disconnect(); });
        }();
    }
    server.Wait();
    return 0;
}
