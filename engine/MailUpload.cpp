// Storing a local file as part mails, or a folder as one mail, over SMTP.
#include "MailThread.h"

#include "FileUtil.h"
#include "MailCompose.h"
#include "MailFolders.h"
#include "Prompt.h"
#include "StoredMail.h"
#include "TextUtil.h"

#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// "SIZE n" of the server's EHLO reply: the largest mail it takes; 0 when it names none.
uint64_t AnnouncedSizeLimit(const TIdSMTP& smtp) {
    for (const std::string& line : smtp.Capabilities()) {
        if (line.size() < 5 || !StartsTextAscii("SIZE ", line)) continue;
        uint64_t v = 0;
        if (ParseDecimal(TrimBlanks(line.substr(5)), UINT64_MAX, v)) return v;
    }
    return 0;
}

// Bytes of a part mail on the wire: base64 lines of 76 characters plus CR LF, and room for
// the header and the two body lines.
uint64_t PartMailBytes(uint64_t partBytes) {
    const uint64_t encoded = (partBytes + 2) / 3 * 4;
    return encoded + (encoded / 76 + 1) * 2 + 4096;
}
} // namespace

void TMailThread::AddPart(const std::string& subject, uint32_t count) {
    UploadParts.push_back(subject);
    Sync([this, count] {
        if (!MailboxAlive()) return;
        int i = Mailbox->Files.IndexOf(UploadPath);
        if (i < 0) return;
        TExFile& e = Mailbox->Files.Items(i);
        // The parts not sent yet stay as empty slots: a file whose upload ends here is
        // shown as incomplete, never as a whole.
        e.Parts = UploadParts;
        if (e.Parts->size() < count) e.Parts->resize(count);
        // The entry describes what is stored (the file may have changed since it was put in).
        const TStoredSubject s = ParseStoredSubject(UploadParts.back());
        if (s.kind == TStoredSubject::FilePart) {
            e.Size = s.size;
            e.Hash = static_cast<uint32_t>(s.hash);
            e.Attributes = s.attributes;
            e.Created = s.created;
            e.Modified = s.modified;
        }
    });
}

void TMailThread::AfterUpload() {
    CleanedUp = false;
    if (Terminated()) return; // what was sent stays as an incomplete version, never shown whole
    const std::string& name = CurrentOp.Name;
    const std::string reason = LastError; // the upload's own error is the one reported
    auto quietly = [this](const std::function<bool()>& step) {
        for (int a = 1; a <= 3 && !Terminated() && !Cancelled; ++a) {
            try {
                if (step()) return true;
            } catch (const TStopped&) {
                throw;
            } catch (...) {
            }
            if (a < 3) WaitMs(a * config_.RetryDelayUnitMs);
        }
        return false;
    };
    if (!name.empty() && name.back() == '\\') {
        // A folder's own mail only: what is stored below it stays.
        if (!Success) CleanedUp = quietly([this] { return DeleteMails(UploadPath, true); });
    } else if (!name.empty() && name[0] == '/') {
        std::vector<std::string> old = Sent.stale, keep;
        if (Success) {
            // The replaced version's mails, exactly those seen at the listing, go now that
            // the new ones are stored; so do parts sent for an earlier state of the file,
            // and a part sent twice keeps its newest copy.
            if (CurrentOp.Replaced)
                old.insert(old.end(), CurrentOp.Replaced->Subjects.begin(),
                           CurrentOp.Replaced->Subjects.end());
            old.insert(old.end(), Sent.uncertain.begin(), Sent.uncertain.end());
            keep = Sent.subjects;
        } else {
            // The parts of the failed upload (also those whose reply never came); the
            // replaced version stays as it was.
            old.insert(old.end(), Sent.subjects.begin(), Sent.subjects.end());
            old.insert(old.end(), Sent.uncertain.begin(), Sent.uncertain.end());
        }
        CleanedUp = old.empty() || quietly([&] { return DeleteExact(old, keep); });
    }
    LastError = reason;
}

void TMailThread::FinishStoredUpload(TMailFolder& m) {
    const std::string& name = CurrentOp.Name;
    if (name.empty() || name[0] != '/' || Sent.subjects.empty()) return;
    int i = m.Files.IndexOf(UploadPath);
    if (i < 0) return;
    auto stored = std::make_shared<TReplacedFile>();
    stored->Entry = m.Files.Items(i);
    stored->Entry.State = fsNone;
    stored->Subjects = Sent.subjects;
    for (int k = 0; k < m.Ops.Count(); ++k) {
        TExOp op = m.Ops.Get(k);
        if (!SameTextAscii(AffectedPath(op), UploadPath)) continue;
        if (op.Kind == opDelete) break; // it goes before the later store runs
        if (op.Kind != opSend) continue;
        op.Replaced = stored;
        m.Ops.Set(k, std::move(op));
    }
}

void TMailThread::FinishFailedUpload(TMailFolder& m) {
    const std::string& path = UploadPath;
    int i = m.Files.IndexOf(path);
    if (i < 0 || m.Files.Items(i).IsFolder) return;
    for (int k = 0; k < m.Ops.Count(); ++k) {
        const TExOp op = m.Ops.Get(k);
        if (op.Kind == opSend && SameTextAscii(AffectedPath(op), path)) return; // stored again later
    }
    if (CurrentOp.Replaced) {
        const bool drop = m.Files.Items(i).DropWhenDeleted; // a delete queued meanwhile
        m.Files.Put(i, CurrentOp.Replaced->Entry);
        m.Files.Items(i).DropWhenDeleted = drop;
        if (!LastError.empty() && LastError.back() != '\n') LastError += "\r\n";
        LastError += "The stored version of " + path + " was kept.";
    } else if (CleanedUp) {
        m.Files.Delete(i); // nothing of it is on the server
    }
}

bool TMailThread::Upload() {
    Message.Clear();
    CountBytes = false;
    ProgressBase = 0;
    UploadParts.clear();
    AddressToSelf(Message, BoxAddress);
    bool result = false;
    try {
        result = UploadEntry();
    } catch (...) {
        UploadParts.clear();
        DisconnectQuietly(Smtp); // the next attempt starts afresh
        throw;
    }
    UploadParts.clear();
    if (result && Smtp.Connected())
        KeepSession(opSend);
    else
        DisconnectQuietly(Smtp);
    return result;
}

bool TMailThread::UploadEntry() {
    bool result = false;
    const std::string& name = CurrentOp.Name;
    const bool isFolder = !name.empty() && name.back() == '\\';
    const bool isLocalFile = !name.empty() && name[0] == '/';
    if (isFolder) {
        UploadPath = CurrentOp.Path + name;
        AddPart(FolderSubject(UploadPath, FloatToText(NowLocal())), 1);
        Message.Subject = UploadParts.back();
        if (ConnectSmtp()) {
            StartCounting();
            Position = 0;
            Maximum = 3072;
            Sync([this] { ReportProgress(); });
            result = SendMail("Sending 1 of 1...");
        }
        SetStatus("");
    } else if (isLocalFile) {
        UploadPath = CurrentOp.Path + name.substr(name.rfind('/') + 1);
        result = UploadFile(name, UploadPath);
    } else {
        UploadPath = AffectedPath(CurrentOp);
    }
    return result;
}

bool TMailThread::SendMail(const std::string& sending) {
    SetStatus(sending);
    const bool reused = SessionMails > 1;
    // fresh: a session of its own; a kept one may refuse for its age (a provider's limit of
    // mails a connection), which a new session does not.
    auto send = [this](bool fresh) {
        try {
            Smtp.SendMessage(Message);
        } catch (const EIdSMTPReplyError& e) {
            // 5xx: the server will not take this mail, however often it is sent.
            if (fresh && e.NumericCode >= 500 && e.NumericCode <= 599) {
                Refused = true;
                LastError = e.what();
            }
            throw;
        }
    };
    try {
        send(!reused);
        NoteSent(Message.Subject);
        return true;
    } catch (const EIdException&) {
        if (Refused || !reused || Smtp.DataSent()) throw;
    }
    DisconnectQuietly(Smtp);
    if (!ConnectSmtp()) return false;
    SetStatus(sending);
    send(true);
    NoteSent(Message.Subject);
    return true;
}

void TMailThread::NoteSent(const std::string& subject) {
    const uint64_t now = TickMs();
    while (!RecentSends.empty() && (now - RecentSends.front().second > kDeliveryWaitMs ||
                                    RecentSends.size() >= kMaxRecentSends))
        RecentSends.pop_front();
    RecentSends.emplace_back(subject, now);
}

bool TMailThread::FitsSizeLimit(uint64_t partBytes, uint32_t part) {
    const uint64_t limit = AnnouncedSizeLimit(Smtp);
    const uint64_t bytes = PartMailBytes(partBytes);
    if (limit == 0 || bytes <= limit) return true;
    Refused = true;
    LastError = "The mail of part " + std::to_string(part) + " would be about " +
                std::to_string(bytes) + " bytes; the server takes mails of up to " +
                std::to_string(limit) + " bytes. Lower the largest attachment of this mail box.";
    return false;
}

bool TMailThread::UploadFile(const std::string& localPath, const std::string& entryPath) {
    struct stat st {};
    if (::stat(localPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        // Gone since it was put in: nothing to store, and no point in trying again.
        Cancelled = true;
        ShowBox("The file \"" + localPath + "\" no longer exists; it was not stored.", "",
                mb::OK | mb::IconStop);
        return false;
    }
    if (static_cast<uint64_t>(st.st_size) > 0xFFFFFFFFull) {
        Cancelled = true;
        ShowBox("The file \"" + localPath + "\" is 4 GB or larger and cannot be stored.", "",
                mb::OK | mb::IconStop);
        return false;
    }
    const std::string fileName = localPath.substr(localPath.rfind('/') + 1);
    const uint32_t A = FileAttributesOf(st.st_mode, fileName);
    const uint32_t H = FileChecksum(localPath);
    int fd = -1;
    while ((fd = ::open(localPath.c_str(), O_RDONLY | O_CLOEXEC)) < 0) {
        if (ShowBox("Maybe the file is currently in use, please close it then try again?\r\n" +
                        localPath,
                    "Open File Error", mb::YesNo | mb::IconStop) != id::Yes)
            return false;
    }
    ::fstat(fd, &st);
    const uint32_t S = static_cast<uint32_t>(st.st_size);
    const std::string M = FileTimeToText(st.st_mtim);
    const uint32_t P = PartSizeFor(BoxMaxAttachSize);
    // A retry of the same file, unchanged since, goes on after the parts the server took;
    // a changed file starts again and its earlier parts are removed after the upload.
    const bool same = Sent.localPath == localPath && Sent.size == S && Sent.hash == H &&
                      Sent.attributes == A && Sent.modified == M && Sent.partSize == P;
    if (!same) {
        Sent.stale.insert(Sent.stale.end(), Sent.subjects.begin(), Sent.subjects.end());
        Sent.stale.insert(Sent.stale.end(), Sent.uncertain.begin(), Sent.uncertain.end());
        Sent.subjects.clear();
        Sent.uncertain.clear();
        Sent.localPath = localPath;
        Sent.size = S;
        Sent.hash = H;
        Sent.attributes = A;
        Sent.modified = M;
        Sent.partSize = P;
        Sent.created = FloatToText(NowLocal());
        Sent.accepted = 0;
    }
    const std::string& C = Sent.created;

    struct Guard {
        TMailThread* t;
        int fd;
        ~Guard() {
            t->CountBytes = false;
            t->Position = 0;
            t->Maximum = 0;
            try {
                t->Sync([this] { t->ReportProgress(); });
                t->SetStatus("");
            } catch (...) {
            }
            ::close(fd);
        }
    } guard{this, fd};

    // Sends part i as Message; its subject is recorded as sent once the server took it, and
    // as uncertain when the connection ended after the mail's data went out.
    auto sendPart = [&](uint32_t i, uint32_t n) {
        if (!ConnectSmtp()) return false; // a missing part fails the upload
        if (!FitsSizeLimit(PartLength(S, P, i), i)) return false;
        StartCounting();
        try {
            if (!SendMail("Sending " + std::to_string(i) + " of " + std::to_string(n) + "..."))
                return false;
        } catch (...) {
            if (Smtp.DataSent() && !Refused) Sent.uncertain.push_back(Message.Subject);
            throw;
        }
        Sent.subjects.push_back(Message.Subject);
        Sent.accepted = i;
        SetStatus("");
        return true;
    };

    if (S == 0) {
        AddPart(PartSubject(entryPath, 1, 1, 0, H, A, C, M), 1);
        if (Sent.accepted >= 1) return true;
        Message.Subject = UploadParts.back();
        Position = 0;
        Maximum = 3072;
        Sync([this] { ReportProgress(); });
        return sendPart(1, 1);
    }

    const uint32_t n = PartCountFor(S, P);
    Maximum = static_cast<int64_t>(std::nearbyint(S / 0.8)) + 3072;
    for (uint32_t i = 1; i <= n; ++i) {
        const uint32_t L = PartLength(S, P, i);
        AddPart(PartSubject(entryPath, i, n, S, H, A, C, M), n);
        if (i <= Sent.accepted) {
            Position += static_cast<int64_t>(std::nearbyint(L / 0.8)); // stored before
            continue;
        }
        ProgressBase = Position;
        Message.Subject = UploadParts.back();
        // The part is streamed from the file; a file that became shorter raises an error.
        SetFilePart(Message, Message.AddAttachmentFile(localPath, static_cast<uint64_t>(i - 1) * P, L),
                    L, entryPath);
        if (!sendPart(i, n)) return false; // a missing part fails the upload
        Message.ClearBody();
    }
    return true;
}
