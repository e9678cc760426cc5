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

bool TMailThread::MeasureReader() {
    if (UseImap) {
        // INBOX and its size in one round trip; the UIDs a scan starts with come along.
        int64_t size = 0;
        if (!Imap4.SelectMailboxAndSize("INBOX", size)) return false;
        MeasuredSize = size;
    } else {
        MeasuredSize = Pop3.MailboxSize();
    }
    return true;
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
    if (!MeasureReader()) return false;
    const int n = ReaderCount();
    Maximum = n;
    // All or nothing: a broken connection, a time-out or a header the server would not give
    // fails the attempt, so that a partial tree is never taken for the mailbox's content.
    // Only a mail without a header (nothing to read) is passed over.
    ScanHeaders(n, true, [&](int a, const THeader& h) {
        if (h.State == THeader::srError) throw EIdException(h.Error);
        if (h.State == THeader::srRead) Subjects.push_back(h.Subject);
        Position = n - a + 1;
        ReportScanProgress(a == n || a == 1);
        return true;
    });
    if (Position != n) {
        Position = n;
        ReportScanProgress(true);
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
    if (!MeasureReader()) return false;
    return true;
}
