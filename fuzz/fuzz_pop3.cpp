// Fuzz target: the POP3 client reading what a hostile or broken server says. The input is
// the server's whole side of one session; the client runs the dialogue the worker runs:
// greeting, CAPA, USER/PASS, STAT, UIDL, LIST, TOP n 0 for the subjects (pipelined when
// CAPA names PIPELINING), RETR into a streamed attachment as a download does, the RETR
// batch, DELE, QUIT.
#include "FuzzServer.h"
#include "FuzzSession.h"
#include "IdMessage.h"
#include "IdPOP3.h"
#include "StoredMail.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {
// The size of the file a download would fetch.
constexpr std::size_t kFileSize = 4096;

// Message numbers asked for: a few, whatever STAT says, so that every reply is reached.
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
        TIdPOP3 pop;
        fuzzsession::Setup(pop, server);
        TIdMessage message;
        // As a download: the first attachment's bytes stream out, none are kept.
        std::size_t streamed = 0;
        message.AttachmentStorage = asStream;
        message.OnAttachmentData = [&](const char*, std::size_t n) { streamed += n; };
        using fuzzsession::Step;
        int count = 0;
        std::vector<int> numbers;
        [&] {
            if (!Step(pop, "Connect", [&] { pop.Connect(); })) return;
            if (!Step(pop, "CountMessages", [&] { count = pop.CountMessages(); })) return;
            numbers = Numbers(count);
            if (!Step(pop, "ListUniqueIds", [&] {
                    std::vector<std::string> ids;
                    pop.ListUniqueIds(static_cast<int>(numbers.size()), ids);
                }))
                return;
            if (!Step(pop, "MailboxSize", [&] { pop.MailboxSize(); })) return;
            if (!Step(pop, "FetchSubjects", [&] {
                    pop.FetchSubjects(numbers, message, [](int, TIdSubjectResult& r) {
                        ParseStoredSubject(r.Subject);
                    });
                }))
                return;
            if (!Step(pop, "FetchMessage", [&] { pop.FetchMessage(1, message); })) return;
            if (!Step(pop, "FetchMessages", [&] {
                    pop.FetchMessages(numbers, message, [&](int, bool) {
                        // As a download: more bytes than the file holds stop the batch.
                        message.ClearBody();
                        return streamed <= kFileSize;
                    });
                }))
                return;
            if (!Step(pop, "DeleteMessages", [&] { pop.DeleteMessages(numbers); })) return;
            if (!Step(pop, "FetchHeader", [&] { pop.FetchHeader(1, message); })) return;
            Step(pop, "Disconnect", [&] { pop.Disconnect(); });
        }();
    }
    server.Wait();
    return 0;
}
