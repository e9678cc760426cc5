// Helpers of the tests that read the inbox against the real local servers: mails put
// straight into the Maildir, a client of the test's own, the subjects read header by
// header, and tables written out as lines to compare.
#pragma once

#include "EngineFixture.h"
#include "IdIMAP4.h"
#include "IdMessage.h"
#include "IdPOP3.h"
#include "MaildirWrite.h"
#include "StoredMail.h"

#include <algorithm>
#include <string>
#include <unistd.h>
#include <vector>

namespace inbox {
using Lines = std::vector<std::string>;

// A mail written straight into the Maildir's new/ (as a delivery would), owned like it.
inline void DeliverText(const std::string& maildir, const std::string& text) {
    static int serial = 0;
    const std::string size = std::to_string(text.size());
    const int n = ++serial;
    const std::string name = std::to_string(1700000000 + n) + ".M" + std::to_string(n) +
                             "P" + std::to_string(::getpid()) + ".test,S=" + size + ",W=" + size;
    ASSERT_TRUE(DeliverToMaildir(maildir, name, text));
}

// A plain mail with this subject, delivered.
inline void Deliver(const std::string& maildir, const std::string& subject) {
    DeliverText(maildir, "From: t@tavrel.test\r\nTo: t@tavrel.test\r\nSubject: " + subject +
                             "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain\r\n\r\nx\r\n");
}

// A client of the test's own, logged in as the first account.
template <class Client>
inline void ConnectAsFirstUser(Client& c, const TestServers& s, int port) {
    c.Host = s.host;
    c.Port = static_cast<uint16_t>(port);
    c.Username = s.acc1.user;
    c.Password = s.acc1.pass;
    c.Connect();
}

inline std::string File(const std::string& path, uint32_t size = 1) {
    return PartSubject(path, 1, 1, size, 1000 + size, 32, "45000.5", "45000.5");
}

// The subjects of the inbox read header by header, highest number first: what the
// one-at-a-time reading collects.
inline Lines OneAtATime(const TestServers& s, bool imap) {
    Lines out;
    TIdMessage msg;
    if (imap) {
        TIdIMAP4 c;
        ConnectAsFirstUser(c, s, s.imapPort);
        EXPECT_TRUE(c.SelectMailbox("INBOX"));
        for (int n = c.MessageCount(); n >= 1; --n)
            if (c.FetchHeader(n, msg)) out.push_back(msg.Subject);
        c.Disconnect();
    } else {
        TIdPOP3 c;
        ConnectAsFirstUser(c, s, s.pop3Port);
        for (int n = c.CountMessages(); n >= 1; --n)
            if (c.FetchHeader(n, msg)) out.push_back(msg.Subject);
        c.Disconnect();
    }
    return out;
}

// Another client deletes the mails whose subject contains any of the texts.
inline void DeleteByOtherClient(const TestServers& s, const Lines& texts) {
    TIdPOP3 c;
    ConnectAsFirstUser(c, s, s.pop3Port);
    TIdMessage msg;
    for (int n = c.CountMessages(); n >= 1; --n) {
        c.FetchHeader(n, msg);
        for (const auto& t : texts)
            if (msg.Subject.find(t) != std::string::npos) {
                c.DeleteMessage(n);
                break;
            }
    }
    c.Disconnect();
}

// Every entry of a table, in table order, with what it was read from.
inline Lines Table(const TExFiles& files) {
    Lines out;
    for (int i = 0; i < files.Count(); ++i) {
        const TExFile& e = files.Items(i);
        // An implicit folder (no mail of its own) is dated when the table is built.
        std::string row = e.Path + "|" + std::to_string(e.Size) + "|" + std::to_string(e.Hash) +
                          "|" + (e.Implicit ? "implicit" : e.Created) + "|" +
                          (e.IsFolder ? "folder" : "file");
        if (e.Parts)
            for (const auto& p : *e.Parts) row += "|" + p;
        out.push_back(row);
    }
    return out;
}

inline Lines TableOf(const Lines& subjects) {
    TExFiles t;
    for (const auto& s : subjects) t.AddSubject(s);
    return Table(t);
}

// Subjects of the mails left in the Maildir, sorted.
inline Lines SubjectsOnDisk(const std::string& maildir) {
    Lines out;
    for (const auto& f : MailFiles(maildir)) {
        std::string text = EngineTest::ReadFile(f);
        size_t p = text.find("\nSubject: ");
        if (p == std::string::npos) continue;
        p += 10;
        out.push_back(text.substr(p, text.find('\r', p) - p));
    }
    std::sort(out.begin(), out.end());
    return out;
}
} // namespace inbox
