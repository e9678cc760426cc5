#include "MailServers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string StripQuotes(std::string v) {
    if (v.size() >= 2 && (v.front() == '\'' || v.front() == '"') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

struct Loaded {
    TestServers servers;
    bool ok = false;
    std::string problem;
};

const Loaded& Load() {
    static const Loaded loaded = [] {
        Loaded l;
        const char* path = std::getenv("TAVREL_MAILSERVERS");
        if (!path || !*path) {
            l.problem = "TAVREL_MAILSERVERS is not set: start the servers with "
                        "scripts/mailservers.sh start DIR and export "
                        "TAVREL_MAILSERVERS=DIR/servers.env (CTest does both)";
            return l;
        }
        l.ok = ReadTestServersFile(path, l.servers, l.problem);
        return l;
    }();
    return loaded;
}

// File names of the messages in new/ and cur/, in one pass.
std::vector<std::string> ScanOnce(const std::string& maildir) {
    std::vector<std::string> out;
    // cur/ before new/: a mail that Dovecot moves from new/ to cur/ meanwhile may be
    // missed by this pass but is never counted twice.
    for (const char* sub : {"cur", "new"}) {
        std::error_code ec;
        fs::directory_iterator it(fs::path(maildir) / sub, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (name.empty() || name[0] == '.')
                continue;
            std::error_code ec2;
            if (it->is_regular_file(ec2))
                out.push_back(it->path().string());
        }
    }
    return out;
}

template <class Pred>
bool PollUntil(int timeoutMs, Pred pred) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (pred())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

bool ReadTestServersFile(const std::string& path, TestServers& out, std::string& why) {
    std::ifstream in(path);
    if (!in) {
        why = "cannot read the mail servers' file " + path;
        return false;
    }
    std::map<std::string, std::string> kv;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        auto eq = line.find('=');
        if (eq == std::string::npos || eq == 0)
            continue;
        kv[line.substr(0, eq)] = StripQuotes(line.substr(eq + 1));
    }

    std::string missing;
    auto str = [&](const char* key) -> std::string {
        auto it = kv.find(key);
        if (it == kv.end() || it->second.empty()) {
            missing += std::string(missing.empty() ? "" : ", ") + key;
            return {};
        }
        return it->second;
    };
    auto port = [&](const char* key) -> int {
        std::string v = str(key);
        char* end = nullptr;
        long n = v.empty() ? 0 : std::strtol(v.c_str(), &end, 10);
        if (v.empty() || *end != '\0' || n <= 0 || n > 65535) {
            if (!v.empty())
                missing += std::string(missing.empty() ? "" : ", ") + key + " (not a port)";
            return 0;
        }
        return static_cast<int>(n);
    };

    TestServers s;
    s.host = str("HOST");
    s.caFile = str("CA_FILE");
    s.maildir1 = str("MAILDIR1");
    s.maildir2 = str("MAILDIR2");
    s.smtpPort = port("SMTP_PORT");
    s.smtpsPort = port("SMTPS_PORT");
    s.pop3Port = port("POP3_PORT");
    s.pop3sPort = port("POP3S_PORT");
    s.imapPort = port("IMAP_PORT");
    s.imapsPort = port("IMAPS_PORT");
    s.acc1 = {str("USER1"), str("PASS1"), str("ADDR1")};
    s.acc2 = {str("USER2"), str("PASS2"), str("ADDR2")};
    // Optional ones.
    s.domain = kv["DOMAIN"];
    s.serverCert = kv["SERVER_CERT"];
    s.serverKey = kv["SERVER_KEY"];
    s.untrustedCert = kv["UNTRUSTED_CERT"];
    s.untrustedKey = kv["UNTRUSTED_KEY"];
    s.postfixQueue = kv["POSTFIX_QUEUE"];
    if (!missing.empty()) {
        why = "the mail servers' file " + path + " lacks " + missing;
        return false;
    }
    out = std::move(s);
    why.clear();
    return true;
}

const TestServers* LoadTestServers() {
    const Loaded& l = Load();
    return l.ok ? &l.servers : nullptr;
}

const std::string& TestServersProblem() { return Load().problem; }

void ClearMailbox(const std::string& maildir) {
    std::error_code ec;
    for (const std::string& f : ScanOnce(maildir)) fs::remove(f, ec);
    // Dovecot's index and uid list go too: deleting files in the same second as its last
    // look at the folder can go unnoticed, and a session would then list mails that are gone
    // ("Message n expunged."). Without them it reads the folder afresh.
    for (auto it = fs::directory_iterator(maildir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.rfind("dovecot.index", 0) == 0 || name == "dovecot-uidlist")
            fs::remove(it->path(), ec);
    }
}

namespace {
// Mails in Postfix's queue (-1: a queue folder cannot be read).
int QueuedMails(const std::string& queue) {
    int n = 0;
    for (const char* sub : {"maildrop", "incoming", "active", "deferred", "hold"}) {
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(fs::path(queue) / sub, ec);
             it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (ec) return -1;
            if (it->is_regular_file(ec)) ++n;
        }
        if (ec) return -1;
    }
    return n;
}
} // namespace

bool WaitForDeliveries(const TestServers& servers, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto stamp = [&] { return CountMails(servers.maildir1) * 100003 + CountMails(servers.maildir2); };
    int last = stamp();
    auto since = Clock::now();
    while (Clock::now() < end) {
        const int queued = servers.postfixQueue.empty() ? -1 : QueuedMails(servers.postfixQueue);
        if (queued == 0) return true;
        const int now = stamp();
        if (now != last) {
            last = now;
            since = Clock::now();
        } else if (queued < 0 && Clock::now() - since >= std::chrono::milliseconds(300)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::vector<std::string> MailFiles(const std::string& maildir) {
    // Two passes that agree: a mail moving from new/ to cur/ during a pass is not lost.
    std::vector<std::string> prev = ScanOnce(maildir);
    for (int i = 0; i < 20; ++i) {
        std::vector<std::string> cur = ScanOnce(maildir);
        if (cur.size() == prev.size())
            return cur;
        prev = std::move(cur);
    }
    return prev;
}

int CountMails(const std::string& maildir) { return static_cast<int>(MailFiles(maildir).size()); }

bool WaitForMails(const std::string& maildir, int count, int timeoutMs) {
    return PollUntil(timeoutMs, [&] { return CountMails(maildir) >= count; });
}

std::optional<std::string> WaitForMailContaining(const std::string& maildir,
                                                 const std::string& needle, int timeoutMs) {
    std::optional<std::string> found;
    PollUntil(timeoutMs, [&] {
        for (const std::string& f : ScanOnce(maildir)) {
            std::ifstream in(f, std::ios::binary);
            std::stringstream ss;
            ss << in.rdbuf();
            if (ss.str().find(needle) != std::string::npos) {
                found = f;
                return true;
            }
        }
        return false;
    });
    return found;
}

// ---- TestLineSocket ----

TestLineSocket::~TestLineSocket() { Close(); }

void TestLineSocket::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    buf_.clear();
}

bool TestLineSocket::Connect(const std::string& host, int port, int timeoutMs) {
    Close();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
        addrinfo hints{}, *res = nullptr;
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res)
            return false;
        addr.sin_addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr;
        ::freeaddrinfo(res);
    }
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    int flags = ::fcntl(fd_, F_GETFL);
    ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (rc < 0 && errno == EINPROGRESS) {
        pollfd p{fd_, POLLOUT, 0};
        int err = 0;
        socklen_t len = sizeof err;
        if (::poll(&p, 1, timeoutMs) == 1 &&
            ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0)
            rc = 0;
    }
    ::fcntl(fd_, F_SETFL, flags);
    if (rc != 0) {
        Close();
        return false;
    }
    return true;
}

bool TestLineSocket::Send(const std::string& data) {
    size_t done = 0;
    while (fd_ >= 0 && done < data.size()) {
        ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return fd_ >= 0;
}

bool TestLineSocket::SendLine(const std::string& line) { return Send(line + "\r\n"); }

std::optional<std::string> TestLineSocket::ReadLine(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        auto nl = buf_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buf_.substr(0, nl);
            buf_.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        if (fd_ < 0)
            return std::nullopt;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        pollfd p{fd_, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) != 1)
            return std::nullopt;
        char chunk[4096];
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        buf_.append(chunk, static_cast<size_t>(n));
    }
}
