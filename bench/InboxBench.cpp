// Times the inbox-wide work of the engine against the local mail servers, through a relay
// that adds a delay in each direction: the structure refresh of a large mailbox (first,
// then twice more, each after one more file was stored), and the delete of a folder.
//
//   bash scripts/mailservers.sh start /tmp/ms
//   TAVREL_MAILSERVERS=/tmp/ms/servers.env build/bench/bench_inbox [mails] [delay-ms] [pop3|imap|both] [files]
// (files: the size of the deleted folder, 100 unless given)
//
// The mailbox of the first account is emptied and filled by writing message files into
// its Maildir directly. Prints one line per figure; exits 0.
#include "AppDir.h"
#include "Dispatcher.h"
#include "IdIMAP4.h"
#include "IdPOP3.h"
#include "LatencyRelay.h"
#include "MailFolders.h"
#include "MailServers.h"
#include "MailThread.h"
#include "StoredMail.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
int g_serial = 0;

// One stored mail, written straight into new/ (owned like the Maildir, so the server may
// move it).
void WriteMail(const std::string& maildir, const std::string& subject) {
    struct stat st{};
    ::stat(maildir.c_str(), &st);
    const std::string text = "From: bench@tavrel.test\r\nTo: bench@tavrel.test\r\nSubject: " +
                             subject +
                             "\r\nDate: Thu, 1 Jan 2026 00:00:00 +0000\r\nMIME-Version: 1.0\r\n"
                             "Content-Type: text/plain\r\n\r\nstored\r\n";
    // Sizes in the name, as the delivery agent writes them (the text has CR LF already).
    const std::string size = std::to_string(text.size());
    const int serial = g_serial++;
    std::string name = std::to_string(1700000000 + serial) + ".M" + std::to_string(serial + 1) +
                       "P" + std::to_string(::getpid()) + ".bench,S=" + size + ",W=" + size;
    fs::path tmp = fs::path(maildir) / "tmp" / name;
    std::ofstream(tmp, std::ios::binary) << text;
    if (::chown(tmp.c_str(), st.st_uid, st.st_gid) != 0) { /* root only; reading still works */ }
    fs::rename(tmp, fs::path(maildir) / "new" / name);
}

std::string File(const std::string& path) {
    return PartSubject(path, 1, 1, 6, 12345, 32, "45000.5", "45000.5");
}

// The folder \del\ with `files` files, and the folder \bench\ with folders of 100 files
// each for the rest.
void Fill(const std::string& maildir, int mails, int files) {
    WriteMail(maildir, FolderSubject("\\del\\", "45000.5"));
    for (int i = 0; i < files; ++i) WriteMail(maildir, File("\\del\\f" + std::to_string(i) + ".txt"));
    int left = mails - files - 1;
    WriteMail(maildir, FolderSubject("\\bench\\", "45000.5"));
    --left;
    for (int d = 0; left > 0; ++d) {
        std::string folder = "\\bench\\d" + std::to_string(d) + "\\";
        WriteMail(maildir, FolderSubject(folder, "45000.5"));
        --left;
        for (int i = 0; i < 100 && left > 0; ++i, --left)
            WriteMail(maildir, File(folder + "f" + std::to_string(i) + ".bin"));
    }
}

// A session that lets the server take in the new files, so that the timings do not.
void WarmUp(const TestServers& s) {
    TIdPOP3 pop;
    pop.Host = s.host;
    pop.Port = static_cast<uint16_t>(s.pop3Port);
    pop.Username = s.acc1.user;
    pop.Password = s.acc1.pass;
    pop.Connect();
    pop.CountMessages();
    pop.MailboxSize();
    pop.Disconnect();
    TIdIMAP4 imap;
    imap.Host = s.host;
    imap.Port = static_cast<uint16_t>(s.imapPort);
    imap.Username = s.acc1.user;
    imap.Password = s.acc1.pass;
    imap.Connect();
    imap.SelectMailbox("INBOX");
    imap.MailboxSize();
    imap.Disconnect();
}

double Seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
} // namespace

int main(int argc, char** argv) {
    const TestServers* s = LoadTestServers();
    if (!s) {
        std::fprintf(stderr, "%s\n", TestServersProblem().c_str());
        return 0;
    }
    const int mails = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int delay = argc > 2 ? std::atoi(argv[2]) : 10;
    const std::string which = argc > 3 ? argv[3] : "both";
    const int files = argc > 4 ? std::atoi(argv[4]) : 100;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    fs::path home = fs::temp_directory_path() / ("tavrel-bench-inbox-" + std::to_string(getpid()));
    fs::create_directories(home);
    SetAppDir(home.string());

    LatencyRelay popRelay(static_cast<uint16_t>(s->pop3Port), delay);
    LatencyRelay imapRelay(static_cast<uint16_t>(s->imapPort), delay);
    TPumpedDispatcher dispatcher;
    TEngineConfig config;
    config.ImapDomain = "TAVREL.TEST";
    config.ImapHost = s->host;
    config.ImapPort = imapRelay.Port();
    config.CaFile = s->caFile;
    config.RetryDelayUnitMs = 100;
    std::printf("mails %d, relay delay %d ms each way\n", mails, delay);

    for (bool imap : {false, true}) {
        if (which != "both" && which != (imap ? "imap" : "pop3")) continue;
        const char* proto = imap ? "IMAP4" : "POP3";
        ClearMailbox(s->maildir1);
        Fill(s->maildir1, mails, files);
        WarmUp(*s);
        TMailFolders folders(nullptr, nullptr, TMailThread::Factory(dispatcher, config));
        folders.ProcessMessages = [&] { dispatcher.ProcessMessages(); };
        auto owned = std::make_unique<TMailFolder>(&folders);
        owned->Alias = "Bench";
        owned->Address = s->acc1.address;
        owned->Account = imap ? s->acc1.address : s->acc1.user;
        owned->Password = s->acc1.pass;
        owned->SmtpServer = owned->PopServer = s->host;
        owned->SmtpPort = s->smtpPort;
        owned->PopPort = popRelay.Port();
        TMailFolder& box = folders.Append(std::move(owned));
        box.EnsureCacheDir();
        auto idle = [&] {
            return dispatcher.PumpUntil([&] { return box.Ops.Count() == 0; }, 3600 * 1000);
        };

        auto t0 = std::chrono::steady_clock::now();
        box.QueueRefresh();
        idle();
        std::printf("%s refresh of %d mails: %.2f s (%d entries)\n", proto, mails, Seconds(t0),
                    box.Files.Count());

        for (const char* which : {"second", "third"}) {
            WriteMail(s->maildir1, File(std::string("\\bench\\added-") + which + ".bin"));
            t0 = std::chrono::steady_clock::now();
            box.QueueRefresh();
            idle();
            std::printf("%s %s refresh after one more file: %.2f s (%d entries)\n", proto, which,
                        Seconds(t0), box.Files.Count());
        }

        t0 = std::chrono::steady_clock::now();
        box.DeleteItem("\\", "del\\", true);
        const int queued = box.Ops.Count();
        idle();
        const double del = Seconds(t0);
        std::printf("%s delete of a folder of %d files (%d operations): %.2f s, %d mails left\n",
                    proto, files, queued, del, CountMails(s->maildir1));
    }
    fs::remove_all(home);
    return 0;
}
