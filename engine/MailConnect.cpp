// Configuring the clients for a mailbox, connecting and logging in, and the password
// question when a login fails.
#include "MailThread.h"

#include "MailFolders.h"
#include "Prompt.h"
#include "StoredMail.h"
#include "TextUtil.h"

namespace {
// Host, port and credentials first; then TLS: the handler is attached before implicit TLS
// is switched on, and removed only after it is switched off. Switching moves the port
// between the protocol's plain and implicit-TLS ports.
void SetTls(TIdTCPConnection& client, TIdSSLIOHandlerSocketOpenSSL& tls, bool on) {
    if (on) {
        client.SetIOHandler(&tls);
        client.SetUseTLS(utUseImplicitTLS);
    } else {
        if (client.GetIOHandler()) client.SetUseTLS(utNoTLSSupport);
        client.SetIOHandler(nullptr);
    }
}
} // namespace

std::string TMailThread::SessionKey(const TMailFolder& m) {
    std::string key;
    for (const std::string* s : {&m.Account, &m.Password, &m.PopServer, &m.SmtpServer}) {
        key += std::to_string(s->size());
        key += ':';
        key += *s;
    }
    for (int v : {static_cast<int>(m.PopPort), static_cast<int>(m.SmtpPort),
                  static_cast<int>(m.PopSsl), static_cast<int>(m.SmtpSsl),
                  static_cast<int>(m.SmtpAuth)}) {
        key += std::to_string(v);
        key += ',';
    }
    return key;
}

bool TMailThread::StillOpen(TIdTCPConnection& client) {
    try {
        return client.Connected() && !client.Readable(0);
    } catch (...) {
        return false;
    }
}

void TMailThread::KeepSession(uint8_t kind) {
    KeptKind = kind;
    KeptKey = PickedKey;
}

void TMailThread::CloseKeptSession() {
    KeptKey.clear();
    SessionMails = 0;
    for (TIdTCPConnection* c : {static_cast<TIdTCPConnection*>(&Smtp),
                                static_cast<TIdTCPConnection*>(&Pop3),
                                static_cast<TIdTCPConnection*>(&Imap4)})
        DisconnectQuietly(*c);
}

void TMailThread::Configure(TMailFolder& m) {
    BoxAddress = m.Address;
    BoxAlias = m.Alias;
    BoxMaxAttachSize = m.MaxAttachSize;
    MailRootDir = Owner.MailRootDir;
    Message.AttachmentTempDirectory = MailRootDir; // fetched attachments stay in the cache
    UseImap = ReadsOverImap(config_, m.Account);
    // A client still open belongs to the kept session, made with these same settings.
    if (Smtp.Connected() || Pop3.Connected() || Imap4.Connected()) return;
    if (UseImap) {
        Imap4.Port = config_.ImapPort;
        Imap4.Host = config_.ImapHost;
        Imap4.Password = m.Password;
        Imap4.Username = m.Account;
        SetTls(Imap4, ImapTls, m.PopSsl);
    } else {
        Pop3.Port = static_cast<uint16_t>(m.PopPort);
        Pop3.Host = m.PopServer;
        Pop3.Password = m.Password;
        Pop3.Username = m.Account;
        SetTls(Pop3, PopTls, m.PopSsl);
    }
    Smtp.Port = static_cast<uint16_t>(m.SmtpPort);
    Smtp.Host = m.SmtpServer;
    Smtp.Password = m.Password;
    Smtp.Username = m.Account;
    Smtp.AuthType = m.SmtpAuth ? atDefault : atNone;
    SetTls(Smtp, SmtpTls, m.SmtpSsl);
}

TIdTCPConnection& TMailThread::Reader() {
    if (UseImap) return Imap4;
    return Pop3;
}

bool TMailThread::ConnectReader(bool reuse, bool* reused) {
    const bool keep = reuse && StillOpen(Reader());
    if (reused) *reused = keep;
    if (keep) {
        SetStatus("Connect...");
        return true;
    }
    for (;;) {
        SetStatus("Connect...");
        try {
            DisconnectQuietly(Reader());
            Reader().Connect();
            return true;
        } catch (const EIdTLSHandshakeError& e) {
            return RefuseTls(Reader(), e);
        } catch (const EIdException& e) {
            LastError = e.what();
        }
        Sync([this] { AskPassword(); });
        SetStatus("");
        if (TrimSubject(NewPassword).empty()) return false;
        Reader().Password = NewPassword;
    }
}

bool TMailThread::ConnectSmtp() {
    if (SessionMails < kMaxSessionMails && Smtp.DidAuthenticate() && StillOpen(Smtp)) {
        SetStatus("Connect...");
        SetStatus("Login...");
        ++SessionMails;
        return true;
    }
    SessionMails = 1;
    for (;;) {
        DisconnectQuietly(Smtp);
        try {
            SetStatus("Connect...");
            Smtp.Connect();
            SetStatus("Login...");
            if (!Smtp.Login()) {
                DisconnectQuietly(Smtp);
                return false;
            }
            return true;
        } catch (const EIdTLSHandshakeError& e) {
            DisconnectQuietly(Smtp);
            return RefuseTls(Smtp, e);
        } catch (const EIdException& e) {
            DisconnectQuietly(Smtp);
            LastError = e.what();
        }
        Sync([this] { AskPassword(); });
        SetStatus("");
        if (TrimSubject(NewPassword).empty()) return false;
        Smtp.Password = NewPassword;
    }
}

bool TMailThread::RefuseTls(TIdTCPConnection& client, const EIdTLSHandshakeError& e) {
    // The secure connection cannot be made (the peer speaks no TLS on this port, or its
    // certificate is not trusted): another password or another attempt changes nothing.
    Refused = true;
    LastError = std::string(e.what()) + "\r\n(" + client.Host + ":" + std::to_string(client.Port) +
                "; check the port and the SSL setting of this mail box.)";
    return false;
}

void TMailThread::AskPassword() {
    NewPassword.clear();
    int answer = Prompt().MessageBox("ERR: " + LastError + "\r\n\r\n" +
                                         "Do you want to reenter your password?",
                                     "Login Error", mb::YesNoCancel | mb::IconQuestion);
    if (answer == id::Cancel) {
        Cancelled = true;
        return;
    }
    if (answer == id::No) return;
    std::string typed;
    if (!Prompt().InputLine("Enter Password", "Please enter your password:", typed, true)) return;
    if (MailboxAlive()) Mailbox->Password = typed;
    NewPassword = typed;
}

int TMailThread::ReaderCount() {
    if (UseImap) return Imap4.MessageCount();
    return Pop3.CountMessages();
}
