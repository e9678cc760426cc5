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

void TMailThread::AddPart(const std::string& subject) {
    UploadParts.push_back(subject);
    Sync([this] {
        if (!MailboxAlive()) return;
        int i = Mailbox->Files.IndexOf(UploadPath);
        if (i < 0) return;
        TExFile& e = Mailbox->Files.Items(i);
        e.Parts = UploadParts;
    });
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
        AddPart(FolderSubject(UploadPath, FloatToText(NowLocal())));
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
    try {
        Smtp.SendMessage(Message);
        return true;
    } catch (const EIdException&) {
        if (!reused || Smtp.DataSent()) throw;
    }
    DisconnectQuietly(Smtp);
    if (!ConnectSmtp()) return false;
    SetStatus(sending);
    Smtp.SendMessage(Message);
    return true;
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
    const std::string C = FloatToText(NowLocal());
    const std::string M = FileTimeToText(st.st_mtim);
    const uint32_t P = PartSizeFor(BoxMaxAttachSize);

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

    if (S == 0) {
        AddPart(PartSubject(entryPath, 1, 1, 0, H, A, C, M));
        Message.Subject = UploadParts.back();
        if (!ConnectSmtp()) return false;
        StartCounting();
        Position = 0;
        Maximum = 3072;
        Sync([this] { ReportProgress(); });
        if (!SendMail("Sending 1 of 1...")) return false;
        SetStatus("");
        return true;
    }

    const uint32_t n = PartCountFor(S, P);
    Maximum = static_cast<int64_t>(std::nearbyint(S / 0.8)) + 3072;
    for (uint32_t i = 1; i <= n; ++i) {
        ProgressBase = Position;
        const uint32_t L = PartLength(S, P, i);
        AddPart(PartSubject(entryPath, i, n, S, H, A, C, M));
        Message.Subject = UploadParts.back();
        // The part is streamed from the file; a file that became shorter raises an error.
        SetFilePart(Message, Message.AddAttachmentFile(localPath, static_cast<uint64_t>(i - 1) * P, L),
                    L, entryPath);
        if (!ConnectSmtp()) return false; // a missing part fails the upload
        StartCounting();
        if (!SendMail("Sending " + std::to_string(i) + " of " + std::to_string(n) + "..."))
            return false; // a missing part fails the upload
        SetStatus("");
        Message.ClearBody();
    }
    return true;
}
