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
    try {
        ScanHeaders(n, true, [&](int a, const THeader& h) {
            if (h.State == THeader::srRead) Subjects.push_back(h.Subject);
            // A header that cannot be read is left out; the refresh goes on.
            Position = n - a + 1;
            ReportScanProgress(a == n || a == 1);
            return true;
        });
    } catch (const TStopped&) {
        throw;
    } catch (...) {
        // The connection broke: the headers not read by then are left out, as their
        // fetches would all fail.
    }
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
    if (UseImap && !Imap4.SelectMailbox("INBOX")) return false;
    MeasuredSize = UseImap ? Imap4.MailboxSize() : Pop3.MailboxSize();
    return true;
}
