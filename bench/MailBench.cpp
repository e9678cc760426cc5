// One Tavrel measurement per process against the local mail servers, driven through the
// real worker (the same collection, worker thread and pumped window thread as the engine
// tests). scripts/bench.sh runs it once per table row and reads the one line it prints:
//
//   RESULT seconds=S complete=0|1 fraction=F ops=N failed=N peak_kib=K check=ok|...
//
// `seconds` is the wall time of the measured step. With --cap C a step still running after
// C seconds is given up: complete=0, `fraction` is the share of the work done and
// `seconds` the time extrapolated from it (see Session::Measure). `peak_kib` is the peak
// resident memory of this process (VmHWM).
//
// Subcommands (mailbox settings are options, see Usage()):
//   upload LOCAL             store a local file or folder in the root folder
//   download NAME            refresh (not timed), then download root entry NAME
//                            (a folder: "name\"), compared with --compare LOCAL
//   refresh                  refresh; --expect N checks the entry count; --again FILE
//                            then stores FILE (not timed) and times a second refresh;
//                            --end-worker ends the worker as a front end does (it writes
//                            the subject cache file for the next process on --home)
//   delete NAME              refresh (not timed), then delete root entry NAME
//   compose LOCAL OUTDIR     write the mails an upload of LOCAL sends, one file each,
//                            byte for byte as composed for SMTP (before dot-stuffing)
//   fill MAILDIR             write stored mails straight into a Maildir (see FillMaildir)
#include "AppDir.h"
#include "Dispatcher.h"
#include "FileUtil.h"
#include "IdMessage.h"
#include "MailCompose.h"
#include "MaildirWrite.h"
#include "MailFolders.h"
#include "MailThread.h"
#include "ScriptedPrompt.h"
#include "StoredMail.h"
#include "TextUtil.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "bench_mail: %s\n", why.c_str());
    std::exit(2);
}

void Usage() {
    std::fprintf(stderr,
                 "usage: bench_mail SUBCOMMAND ARGS [options]\n"
                 "  upload LOCAL | download NAME | refresh | delete NAME\n"
                 "  compose LOCAL OUTDIR | fill MAILDIR\n"
                 "mailbox: --home DIR --host H --smtp-port N --pop-port N --imap-port N\n"
                 "         --user U --pass P --address A [--imap] [--max-attach BYTES]\n"
                 "         [--prep-pop-port N]  POP3 port of the untimed refresh\n"
                 "limits:  --cap SECONDS (0: none) --timeout SECONDS (default 3600)\n"
                 "checks:  --compare LOCAL (download) --expect N (refresh)\n"
                 "         --again FILE --again-maildir DIR --end-worker (refresh)\n"
                 "fill:    --total N --del-files K --gen G [--only-del] [--del-name NAME]\n");
    std::exit(2);
}

struct Args {
    std::vector<std::string> pos;
    std::map<std::string, std::string> opt;
    bool Has(const std::string& k) const { return opt.count(k) > 0; }
    std::string Get(const std::string& k, const std::string& def = "") const {
        auto it = opt.find(k);
        return it == opt.end() ? def : it->second;
    }
    long Num(const std::string& k, long def) const {
        auto it = opt.find(k);
        if (it == opt.end()) return def;
        char* end = nullptr;
        long v = std::strtol(it->second.c_str(), &end, 10);
        if (!end || *end) Fail("--" + k + " needs a number");
        return v;
    }
    double Real(const std::string& k, double def) const {
        auto it = opt.find(k);
        return it == opt.end() ? def : std::atof(it->second.c_str());
    }
};

Args Parse(int argc, char** argv) {
    static const char* flags[] = {"imap", "only-del", "end-worker"};
    Args a;
    for (int i = 1; i < argc; ++i) {
        std::string s = argv[i];
        if (s.rfind("--", 0) == 0) {
            std::string k = s.substr(2);
            if (std::find(std::begin(flags), std::end(flags), k) != std::end(flags)) {
                a.opt[k] = "1";
            } else {
                if (i + 1 >= argc) Fail("--" + k + " needs a value");
                a.opt[k] = argv[++i];
            }
        } else {
            a.pos.push_back(s);
        }
    }
    return a;
}

// Peak resident memory of this program: VmHWM of its own address space. (getrusage's
// ru_maxrss is kept across exec and would report the parent's peak when that was higher.)
long PeakKib() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

int CountMaildir(const std::string& maildir) {
    int n = 0;
    for (const char* sub : {"new", "cur"}) {
        std::error_code ec;
        for (auto it = fs::directory_iterator(fs::path(maildir) / sub, ec);
             !ec && it != fs::directory_iterator(); it.increment(ec))
            ++n;
    }
    return n;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    if (!x || !y) return false;
    std::vector<char> p(1 << 16), q(1 << 16);
    for (;;) {
        x.read(p.data(), static_cast<std::streamsize>(p.size()));
        y.read(q.data(), static_cast<std::streamsize>(q.size()));
        if (x.gcount() != y.gcount()) return false;
        if (!std::equal(p.begin(), p.begin() + x.gcount(), q.begin())) return false;
        if (x.gcount() == 0) return true;
    }
}

// One mailbox in a collection with a real worker; the main thread is the window's thread.
class Session {
public:
    explicit Session(const Args& a) : args_(a) {
        home_ = a.Get("home");
        if (home_.empty()) Fail("--home is needed");
        SetAppDir(home_);
        SetPrompt(&prompt_);
        config_.RetryDelayUnitMs = 200; // a failing step shows up as failed=N quickly
        config_.CreateFileRetryMs = 10;
        config_.ImapHost = a.Get("host", "127.0.0.1");
        config_.ImapPort = static_cast<uint16_t>(a.Num("imap-port", 143));
        const std::string addr = a.Get("address");
        config_.ImapDomain = addr.substr(addr.find('@') + 1);
        folders_ = std::make_unique<TMailFolders>(
            [this](TMailFolder* m, int32_t pos, int32_t max) {
                if (!m) return;
                pos_ = pos;
                max_ = max;
            },
            [this](TMailFolder* m) {
                if (!m) return;
                ++done_;
                doneAt_.push_back(Clock::now());
            },
            TMailThread::Factory(dispatcher_, config_));
        folders_->OnOperationFinished = [this](TMailFolder*, const TExOp&, bool ok) {
            if (!ok) ++failed_;
        };
        folders_->LoadFromFile(home_ + "/Data.bin");
        folders_->ProcessMessages = [this] { dispatcher_.ProcessMessages(); };
        auto box = std::make_unique<TMailFolder>(folders_.get());
        box->Alias = "Bench";
        box->Address = addr;
        box->Account = a.Has("imap") ? addr : a.Get("user");
        box->Password = a.Get("pass");
        box->SmtpServer = box->PopServer = a.Get("host", "127.0.0.1");
        box->SmtpPort = static_cast<int32_t>(a.Num("smtp-port", 25));
        box->PopPort = static_cast<int32_t>(a.Num("pop-port", 110));
        box->MaxAttachSize = static_cast<uint32_t>(a.Num("max-attach", 10 * 1024 * 1024));
        box_ = &folders_->Append(std::move(box));
        box_->EnsureCacheDir();
    }

    TMailFolder& Box() { return *box_; }
    // Stops the worker as a front end's end does (what it keeps is written then).
    void EndWorker() {
        box_ = nullptr;
        folders_.reset();
    }

    // Untimed refresh over POP3 on the preparation port (the direct one when the measured
    // step goes through the latency proxy), so only the measured step pays for the
    // distance. The table is the same whichever protocol read it; the IMAP4 port is a
    // worker setting, so the measured IMAP4 step keeps its own.
    void PrepRefresh() {
        const int32_t pop = box_->PopPort;
        const std::string account = box_->Account;
        box_->PopPort = static_cast<int32_t>(args_.Num("prep-pop-port", pop));
        box_->Account = args_.Get("user");
        box_->QueueRefresh();
        if (!Idle(args_.Real("timeout", 3600)) || !box_->Opened) Fail("the preparing refresh failed");
        box_->PopPort = pop;
        box_->Account = account;
        done_ = 0;
        failed_ = 0;
    }
    // PrepRefresh, then the root entry `name` must be there.
    void PrepEntry(const std::string& name) {
        PrepRefresh();
        if (box_->Files.IndexOf("\\" + name) < 0) Fail("no entry \\" + name + " after the refresh");
    }

    // Runs the queued work until the queue is empty; false on time-out.
    bool Idle(double seconds) {
        return dispatcher_.PumpUntil([this] { return box_->Ops.Count() == 0; },
                                     static_cast<int>(seconds * 1000));
    }

    struct Outcome {
        double seconds = 0, fraction = 1;
        bool complete = true;
        int ops = 0, failed = 0;
    };

    // Times `queue` (which queues work) until the queue is empty, the cap or the time-out.
    // A step stopped at the cap is extrapolated. With two or more operations done: the
    // first one (it may carry one-time work, such as the header list of a download) plus
    // the mean of the later ones for the rest. Otherwise, when `byProgress`, from the share
    // of the operations done plus the running one's progress (refresh: headers read;
    // delete: headers scanned; upload: bytes sent); without `byProgress` the step runs on
    // until two operations are done and the later ones had half the cap.
    template <class F> Outcome Measure(F queue, bool byProgress) {
        const double cap = args_.Real("cap", 0);
        const double timeout = args_.Real("timeout", 3600);
        done_ = 0;
        failed_ = 0;
        pos_ = max_ = 0;
        doneAt_.clear();
        t0_ = Clock::now();
        queue();
        const int total = std::max(1, box_->Ops.Count());
        auto since = [&](Clock::time_point t) { return std::chrono::duration<double>(t - t0_).count(); };
        dispatcher_.PumpUntil(
            [&] {
                if (box_->Ops.Count() == 0) return true;
                const double e = since(Clock::now());
                if (e >= timeout) return true;
                if (cap <= 0 || e < cap) return false;
                // Without progress: the later operations get at least half the cap too.
                return byProgress || (doneAt_.size() >= 2 && e - since(doneAt_[0]) >= cap / 2);
            },
            -1);
        Outcome o;
        o.seconds = since(Clock::now());
        o.ops = total;
        o.failed = failed_;
        if (box_->Ops.Count() > 0) {
            o.complete = false;
            const size_t k = doneAt_.size();
            if (k >= 2) {
                const double first = since(doneAt_[0]), last = since(doneAt_[k - 1]);
                o.fraction = double(k) / total;
                o.seconds = first + (last - first) / double(k - 1) * double(total - 1);
            } else {
                double part = max_ > 0 ? std::clamp(double(pos_) / max_, 0.0, 1.0) : 0.0;
                o.fraction = std::min(1.0, (double(k) + part) / total);
                if (o.fraction > 0) o.seconds /= o.fraction;
            }
        }
        return o;
    }

private:
    const Args& args_;
    std::string home_;
    TPumpedDispatcher dispatcher_;
    TScriptedPrompt prompt_;
    TEngineConfig config_;
    std::unique_ptr<TMailFolders> folders_;
    TMailFolder* box_ = nullptr;
    int32_t pos_ = 0, max_ = 0;
    int done_ = 0, failed_ = 0;
    Clock::time_point t0_;
    std::vector<Clock::time_point> doneAt_; // when each operation of the step ended
};

void PrintResult(const char* tag, const Session::Outcome& o, const std::string& check) {
    std::printf("%s seconds=%.3f complete=%d fraction=%.4f ops=%d failed=%d peak_kib=%ld check=%s\n",
                tag, o.seconds, o.complete ? 1 : 0, o.fraction, o.ops, o.failed, PeakKib(),
                check.c_str());
    std::fflush(stdout);
}

// A step given up at the cap leaves the worker inside a server dialogue: end the process
// at once (the servers see the connection close; nothing is committed).
[[noreturn]] void EndNow(int code = 0) {
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(code);
}

std::string CheckOutcome(const Session::Outcome& o) {
    if (!o.complete) return "capped";
    if (o.failed) return "failed-ops";
    return "ok";
}

// ---------------------------------------------------------------------------------------

int RunUpload(const Args& a) {
    if (a.pos.size() < 2) Usage();
    std::string local = fs::absolute(a.pos[1]).string();
    Session s(a);
    auto o = s.Measure([&] { s.Box().AddLocal("\\", local, true); }, true);
    PrintResult("RESULT", o, CheckOutcome(o));
    EndNow();
}

int RunDownload(const Args& a) {
    if (a.pos.size() < 2) Usage();
    const std::string name = a.pos[1];
    Session s(a);
    s.PrepEntry(name);
    const std::string path = "\\" + name;
    auto o = s.Measure([&] { s.Box().DownloadItem("\\", name, -1); }, false);
    std::string check = CheckOutcome(o);
    if (check == "ok" && a.Has("compare")) {
        const fs::path local = a.Get("compare");
        int bad = 0, seen = 0;
        if (fs::is_directory(local)) {
            for (auto& e : fs::recursive_directory_iterator(local)) {
                if (!e.is_regular_file()) continue;
                std::string rel = fs::relative(e.path(), local).string();
                std::replace(rel.begin(), rel.end(), '/', '\\');
                ++seen;
                bad += !SameFile(e.path().string(), s.Box().CachePathOf(path + rel));
            }
        } else {
            ++seen;
            bad += !SameFile(local.string(), s.Box().CachePathOf(path));
        }
        if (bad || seen == 0) check = "mismatch:" + std::to_string(bad) + "/" + std::to_string(seen);
    }
    PrintResult("RESULT", o, check);
    EndNow();
}

int RunRefresh(const Args& a) {
    Session s(a);
    auto o = s.Measure([&] { s.Box().QueueRefresh(); }, true);
    std::string check = CheckOutcome(o);
    const long expect = a.Num("expect", -1);
    if (check == "ok" && !s.Box().Opened) check = "not-opened";
    if (check == "ok" && expect >= 0 && s.Box().Files.Count() != expect)
        check = "entries:" + std::to_string(s.Box().Files.Count()) + "!=" + std::to_string(expect);
    PrintResult("RESULT", o, check);
    if (o.complete && a.Has("end-worker")) {
        s.EndWorker();
        EndNow();
    }
    if (!o.complete || !a.Has("again")) EndNow();

    // A second refresh in the same run after one more file was stored.
    const std::string file = fs::absolute(a.Get("again")).string();
    const std::string maildir = a.Get("again-maildir");
    const int before = maildir.empty() ? 0 : CountMaildir(maildir);
    s.Box().AddLocal("\\", file, true);
    if (!s.Idle(a.Num("timeout", 3600))) EndNow();
    for (int i = 0; !maildir.empty() && i < 600 && CountMaildir(maildir) <= before; ++i)
        usleep(100000); // delivery is asynchronous: wait for the mail, at most 60 s
    auto o2 = s.Measure([&] { s.Box().QueueRefresh(); }, true);
    std::string check2 = CheckOutcome(o2);
    if (check2 == "ok" && s.Box().Files.IndexOf("\\" + fs::path(file).filename().string()) < 0)
        check2 = "new-file-missing";
    PrintResult("RESULT2", o2, check2);
    EndNow();
}

int RunDelete(const Args& a) {
    if (a.pos.size() < 2) Usage();
    const std::string name = a.pos[1];
    Session s(a);
    s.PrepEntry(name);
    const std::string path = "\\" + name;
    auto o = s.Measure([&] { s.Box().DeleteItem("\\", name, true); }, true);
    std::string check = CheckOutcome(o);
    if (check == "ok")
        for (int i = 0; i < s.Box().Files.Count(); ++i) {
            // File entries go with their mails; folder entries stay until the next refresh.
            const std::string& p = s.Box().Files.Items(i).Path;
            if (p.rfind(path, 0) == 0 && p.back() != '\\') {
                check = "entry-left:" + p;
                break;
            }
        }
    PrintResult("RESULT", o, check);
    EndNow();
}

// ---------------------------------------------------------------------------------------

// The mail of one stored file part or folder, composed as the upload composes it.
void ComposeInto(TIdMessage& m, const std::string& address, const std::string& subject) {
    m.Clear();
    AddressToSelf(m, address);
    m.Subject = subject;
}

void WriteMessage(TIdMessage& m, const fs::path& file) {
    std::ofstream out(file, std::ios::binary);
    if (!out) Fail("cannot write " + file.string());
    TFunctionSink sink([&](const char* p, size_t n) { out.write(p, static_cast<std::streamsize>(n)); });
    m.SaveToSink(sink);
    if (!out.flush()) Fail("cannot write " + file.string());
}

// Mails of one local file stored as `entry`, appended as OUTDIR/NNNNNN.eml.
void ComposeFile(const std::string& local, const std::string& entry, const std::string& address,
                 uint32_t P, const fs::path& outDir, int& counter) {
    struct stat st {};
    if (::stat(local.c_str(), &st) != 0) Fail("cannot read " + local);
    const uint32_t S = static_cast<uint32_t>(st.st_size);
    const uint32_t H = FileChecksum(local);
    const uint32_t A = FileAttributesOf(st.st_mode, fs::path(local).filename().string());
    const std::string C = FloatToText(NowLocal());
    const std::string M = FileTimeToText(st.st_mtim);
    TIdMessage m;
    auto name = [&] {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%06d.eml", ++counter);
        return outDir / buf;
    };
    if (S == 0) {
        ComposeInto(m, address, PartSubject(entry, 1, 1, 0, H, A, C, M));
        WriteMessage(m, name());
        return;
    }
    const uint32_t n = PartCountFor(S, P);
    for (uint32_t i = 1; i <= n; ++i) {
        const uint32_t L = PartLength(S, P, i);
        ComposeInto(m, address, PartSubject(entry, i, n, S, H, A, C, M));
        SetFilePart(m, m.AddAttachmentFile(local, static_cast<uint64_t>(i - 1) * P, L), L, entry);
        WriteMessage(m, name());
    }
}

void ComposeTree(const fs::path& local, const std::string& entry, const std::string& address,
                 uint32_t P, const fs::path& outDir, int& counter) {
    if (!fs::is_directory(local)) {
        ComposeFile(local.string(), entry, address, P, outDir, counter);
        return;
    }
    TIdMessage m;
    ComposeInto(m, address, FolderSubject(entry + "\\", FloatToText(NowLocal())));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%06d.eml", ++counter);
    WriteMessage(m, outDir / buf);
    std::vector<fs::path> entries;
    for (auto& e : fs::directory_iterator(local)) entries.push_back(e.path());
    std::sort(entries.begin(), entries.end());
    for (auto& e : entries)
        ComposeTree(e, entry + "\\" + e.filename().string(), address, P, outDir, counter);
}

int RunCompose(const Args& a) {
    if (a.pos.size() < 3) Usage();
    const fs::path local = fs::absolute(a.pos[1]);
    const fs::path outDir = a.pos[2];
    fs::create_directories(outDir);
    const uint32_t P = PartSizeFor(static_cast<uint32_t>(a.Num("max-attach", 10 * 1024 * 1024)));
    int counter = 0;
    ComposeTree(local, "\\" + local.filename().string(), a.Get("address"), P, outDir, counter);
    std::printf("COMPOSED mails=%d\n", counter);
    return 0;
}

// ---------------------------------------------------------------------------------------

// Writes stored mails straight into MAILDIR/new (the test server's own Maildir; Dovecot
// picks them up at its next sync), owned like the Maildir itself. The mailbox gets
// `total` mails: folders "\fNNNN\" with four single-part files each, and the folder
// "\<del-name>\" with `del-files` files (the delete benchmark's target). --only-del writes
// the target folder alone. File names: bench.G.I.fill (base) and bench.G.I.del (target),
// G = --gen, so a refill never reuses a name. Mails are stored with LF line ends, as a
// delivery stores them.
int RunFill(const Args& a) {
    if (a.pos.size() < 2) Usage();
    const fs::path maildir = a.pos[1];
    const long total = a.Num("total", 10000);
    const long delFiles = a.Num("del-files", 100);
    const long gen = a.Num("gen", 1);
    const bool onlyDel = a.Has("only-del");
    const std::string delName = a.Get("del-name", "bench-del");
    const std::string address = a.Get("address");
    if (!fs::is_directory(maildir)) Fail("no Maildir " + maildir.string());
    fs::create_directories(maildir / "tmp");
    fs::create_directories(maildir / "new");
    std::mt19937 rng(static_cast<unsigned>(gen));
    const std::string C = FloatToText(NowLocal());
    TIdMessage m;
    long written = 0;
    auto put = [&](const std::string& subject, bool file, const char* tag) {
        ComposeInto(m, address, subject);
        if (file) {
            std::string bytes(200 + rng() % 800, '\0');
            for (auto& c : bytes) c = static_cast<char>(rng());
            SetFilePart(m, m.AddAttachmentMemory(bytes), static_cast<uint32_t>(bytes.size()), subject);
        }
        std::string text = m.SaveToString(), lf;
        lf.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i)
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lf += text[i];
        const std::string base =
            "bench." + std::to_string(gen) + "." + std::to_string(written) + "." + tag;
        if (!DeliverToMaildir(maildir.string(), base, lf)) Fail("cannot deliver " + base);
        ++written;
    };
    auto putFile = [&](const std::string& path, const char* tag) {
        // Size and checksum fields are those of a small file; the body is not read back.
        put(PartSubject(path, 1, 1, 600, static_cast<uint32_t>(rng()), 32, C, C), true, tag);
    };
    put(FolderSubject("\\" + delName + "\\", C), false, "del");
    for (long i = 0; i < delFiles; ++i) putFile("\\" + delName + "\\file" + std::to_string(i) + ".bin", "del");
    if (!onlyDel) {
        const long rest = total - (delFiles + 1);
        const long folders = rest / 5, files = rest - folders;
        for (long f = 0; f < folders; ++f) put(FolderSubject("\\f" + std::to_string(f) + "\\", C), false, "fill");
        for (long i = 0; i < files; ++i)
            putFile("\\f" + std::to_string(i % std::max(1L, folders)) + "\\file" + std::to_string(i) + ".bin",
                    "fill");
    }
    std::printf("FILLED mails=%ld\n", written);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Args a = Parse(argc, argv);
    if (a.pos.empty()) Usage();
    const std::string cmd = a.pos[0];
    try {
        if (cmd == "upload") return RunUpload(a);
        if (cmd == "download") return RunDownload(a);
        if (cmd == "refresh") return RunRefresh(a);
        if (cmd == "delete") return RunDelete(a);
        if (cmd == "compose") return RunCompose(a);
        if (cmd == "fill") return RunFill(a);
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    Usage();
}
