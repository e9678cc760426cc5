// Reading the folder structure (every subject of the inbox) and the mailbox size.
#include "MailThread.h"

#include "MailFolders.h"

std::function<void()> TMailThread::ReaderClosing() {
    return [this] {
        DisconnectQuietly(Reader());
        Position = 0;
        Maximum = 0;
        Sync([this] { ReportProgress(); });
        SetStatus("");
    };
}

bool TMailThread::RefreshStructure() {
    CountBytes = false;
    MeasuredSize = 0;
    Position = 0;
    Maximum = 0;
    Sync([this] { ReportProgress(); });
    Subjects.clear();
    TClosing guard{ReaderClosing()};
    if (!ConnectReader()) return false;
    SetStatus("List all file/folder structure from mail server");
    if (UseImap && !Imap4.SelectMailbox("INBOX")) return false;
    MeasuredSize = UseImap ? Imap4.MailboxSize() : Pop3.MailboxSize();
    const int n = ReaderCount();
    Maximum = n;
    for (int a = n; a >= 1; --a) {
        try {
            std::string subject;
            if (ReaderFetchHeader(a, subject)) Subjects.push_back(subject);
        } catch (const TStopped&) {
            throw;
        } catch (...) {
            // A header that cannot be read is left out; the refresh goes on.
        }
        Position = n - a + 1;
        Sync([this] { ReportProgress(); });
    }
    return true;
}

bool TMailThread::MeasureSize() {
    CountBytes = false;
    MeasuredSize = 0;
    TClosing guard{ReaderClosing()};
    if (!ConnectReader()) return false;
    Position = 1;
    Maximum = 1;
    Sync([this] { ReportProgress(); });
    SetStatus("Retrieve mailbox size");
    if (UseImap && !Imap4.SelectMailbox("INBOX")) return false;
    MeasuredSize = UseImap ? Imap4.MailboxSize() : Pop3.MailboxSize();
    return true;
}
