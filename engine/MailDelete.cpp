// Deleting the stored mails of a file or of a folder and everything below it.
#include "MailThread.h"

#include "MailFolders.h"
#include "StoredMail.h"

bool TMailThread::DeleteMails(const std::string& pathArg, bool ownMailOnly) {
    CountBytes = false;
    std::string path = pathArg;
    if (TrimSubject(path).empty()) path = CurrentOp.Path + CurrentOp.Name;
    std::string pattern = DeletePattern(path);
    if (ownMailOnly && !path.empty() && path.back() == '\\') pattern += "|";
    TClosing guard{ReaderClosing()}; // for POP3 the QUIT makes the deletions final
    if (!ConnectReader()) return false;
    SetStatus("Locate mail should be deleted...");
    if (UseImap && !Imap4.SelectMailbox("INBOX")) return false;
    const int n = ReaderCount();
    Maximum = n;
    bool result = true;
    bool flagged = false;
    for (int a = n; a >= 1; --a) {
        Position = n - a + 1;
        Sync([this] { ReportProgress(); });
        std::string subject;
        if (!ReaderFetchHeader(a, subject)) continue; // never delete an unread header
        if (!SubjectMatchesPattern(subject, pattern)) continue;
        SetStatus("Delete...");
        bool ok = UseImap ? Imap4.DeleteMessages({a}) : Pop3.DeleteMessage(a);
        flagged = flagged || (UseImap && ok);
        result = result && ok;
    }
    // Flagged mails are removed for good, so they do not come back at the next refresh.
    if (flagged) result = Imap4.ExpungeMailbox() && result;
    Position = n;
    Sync([this] { ReportProgress(); });
    return result;
}
