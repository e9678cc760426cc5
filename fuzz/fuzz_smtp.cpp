// Fuzz target: the SMTP client reading what a hostile or broken server replies. The input is
// the server's whole side of one session; the client runs what an upload runs: greeting,
// EHLO (HELO after a refusal), AUTH LOGIN when EHLO offers it, then two part mails (RSET,
// MAIL FROM, RCPT TO, DATA, the mail, "."), QUIT.
#include "FuzzServer.h"
#include "FuzzSession.h"
#include "IdMessage.h"
#include "IdSMTP.h"
#include "StoredMail.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {
// A part mail as the upload composes it, with a small attachment.
void ComposePart(TIdMessage& m, uint32_t i) {
    m.Clear();
    m.From.Add("user1@localhost", "Tavrel");
    m.Recipients.Add("user1@localhost", "Tavrel");
    m.Subject = PartSubject("\\docs\\a.txt", i, 2, 200, 7091, 32, "45000.5", "45000.25");
    m.Body = {PartBodyLine1, PartBodyLine2(100)};
    TIdAttachmentMemory& a = m.AddAttachmentMemory(std::string(100, static_cast<char>('a' + i)));
    a.ContentType = "Stream";
    a.ContentTransfer = "base64";
    a.FileName = "\\docs\\a.txt";
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static TFuzzServer server;
    server.Play(data, size);
    {
        TIdSMTP smtp;
        fuzzsession::Setup(smtp, server);
        smtp.HeloName = "fuzz.localhost";
        TIdMessage message;
        using fuzzsession::Step;
        [&] {
            if (!Step(smtp, "Connect", [&] { smtp.Connect(); })) return;
            if (!Step(smtp, "Login", [&] { smtp.Login(); })) return;
            for (uint32_t i = 1; i <= 2; ++i) {
                ComposePart(message, i);
                if (!Step(smtp, "SendMessage", [&] { smtp.SendMessage(message); })) return;
            }
            Step(smtp, "Disconnect", [&] { smtp.Disconnect(); });
        }();
    }
    server.Wait();
    return 0;
}
