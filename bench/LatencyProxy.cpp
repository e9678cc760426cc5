// A TCP relay on loopback that holds every chunk it receives for a fixed delay before
// passing it on, in order, in both directions: with --delay-ms 10 a request and its reply
// take 20 ms more, as with a server on the other side of a real network. Bandwidth is not
// limited (up to 16 MiB may be held per direction before reading pauses).
//
//   bench_latency_proxy --delay-ms 10 --ports-file FILE [--max-seconds S] TARGET_PORT...
//
// For each target port on 127.0.0.1 it listens on a free port of 127.0.0.1 and writes one
// line "TARGET LISTEN" per target to FILE (written whole, then renamed into place). It
// runs until SIGTERM/SIGINT or --max-seconds (default 14400) and serves any number of
// connections at once in one thread (poll). A peer's half-close is passed on after the
// data before it; a reset closes both sides.
#include "LoopbackSockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

constexpr size_t kChunk = 64 * 1024;
constexpr size_t kMaxHeld = 16 * 1024 * 1024;

struct Chunk {
    Clock::time_point due;
    std::string data;
    size_t sent = 0;
};

// One direction of a relayed connection.
struct Flow {
    int from = -1, to = -1;
    std::deque<Chunk> held;
    size_t heldBytes = 0;
    bool eof = false;                  // `from` reached its end
    Clock::time_point eofDue;          // when the end is passed on
    bool shut = false;                 // the end was passed on
    bool blocked = false;              // `to` did not take more
};

struct Conn {
    int a = -1, b = -1;
    Flow up, down; // a -> b, b -> a
    bool dead = false;
    ~Conn() {
        if (a >= 0) ::close(a);
        if (b >= 0) ::close(b);
    }
};

void NonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }
void NoDelay(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

int ConnectTarget(uint16_t port) {
    const int fd = loopback::Connect(port);
    if (fd < 0) return -1;
    NoDelay(fd);
    NonBlocking(fd);
    return fd;
}

// Sends what is due; false when the connection broke.
bool Drain(Flow& f, Clock::time_point now) {
    f.blocked = false;
    while (!f.held.empty() && f.held.front().due <= now) {
        Chunk& c = f.held.front();
        ssize_t n = ::send(f.to, c.data.data() + c.sent, c.data.size() - c.sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                f.blocked = true;
                return true;
            }
            return false;
        }
        c.sent += static_cast<size_t>(n);
        if (c.sent == c.data.size()) {
            f.heldBytes -= c.data.size();
            f.held.pop_front();
        }
    }
    if (f.eof && !f.shut && f.held.empty() && f.eofDue <= now) {
        ::shutdown(f.to, SHUT_WR);
        f.shut = true;
    }
    return true;
}

// Reads what arrived; false when the connection broke.
bool Take(Flow& f, Clock::time_point now, std::chrono::milliseconds delay) {
    static char buf[kChunk]; // the relay runs on one thread
    for (int rounds = 0; rounds < 16 && !f.eof && f.heldBytes < kMaxHeld; ++rounds) {
        ssize_t n = ::recv(f.from, buf, sizeof buf, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
            return false;
        }
        if (n == 0) {
            f.eof = true;
            f.eofDue = now + delay;
            return true;
        }
        f.heldBytes += static_cast<size_t>(n);
        f.held.push_back({now + delay, std::string(buf, static_cast<size_t>(n)), 0});
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    int delayMs = 10;
    long maxSeconds = 14400;
    std::string portsFile;
    std::vector<uint16_t> targets;
    for (int i = 1; i < argc; ++i) {
        std::string s = argv[i];
        if (s == "--delay-ms" && i + 1 < argc) delayMs = std::atoi(argv[++i]);
        else if (s == "--ports-file" && i + 1 < argc) portsFile = argv[++i];
        else if (s == "--max-seconds" && i + 1 < argc) maxSeconds = std::atol(argv[++i]);
        else if (s[0] != '-') targets.push_back(static_cast<uint16_t>(std::atoi(s.c_str())));
        else {
            std::fprintf(stderr, "usage: %s --delay-ms MS --ports-file FILE [--max-seconds S] PORT...\n",
                         argv[0]);
            return 2;
        }
    }
    if (targets.empty() || portsFile.empty()) {
        std::fprintf(stderr, "bench_latency_proxy: target ports and --ports-file are needed\n");
        return 2;
    }
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);
    const std::chrono::milliseconds delay(delayMs);

    std::vector<int> listeners;
    std::string lines;
    for (uint16_t t : targets) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr = loopback::Address(0);
        socklen_t len = sizeof addr;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd, 64) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            std::perror("bench_latency_proxy: listen");
            return 1;
        }
        NonBlocking(fd);
        listeners.push_back(fd);
        lines += std::to_string(t) + " " + std::to_string(ntohs(addr.sin_port)) + "\n";
    }
    {
        const std::string tmp = portsFile + ".tmp";
        FILE* f = std::fopen(tmp.c_str(), "w");
        if (!f || std::fputs(lines.c_str(), f) < 0 || std::fclose(f) != 0 ||
            std::rename(tmp.c_str(), portsFile.c_str()) != 0) {
            std::perror("bench_latency_proxy: ports file");
            return 1;
        }
    }

    std::vector<std::unique_ptr<Conn>> conns;
    const auto end = Clock::now() + std::chrono::seconds(maxSeconds);
    while (!g_stop && Clock::now() < end) {
        auto now = Clock::now();
        // Pass on what is due, drop finished or broken connections.
        for (auto& c : conns) {
            if (!c->dead && (!Drain(c->up, now) || !Drain(c->down, now))) c->dead = true;
            if (c->up.shut && c->down.shut) c->dead = true;
        }
        std::erase_if(conns, [](const std::unique_ptr<Conn>& c) { return c->dead; });

        // Wait for input, for room to send, or for the next chunk to fall due.
        std::vector<pollfd> fds;
        for (int l : listeners) fds.push_back({l, POLLIN, 0});
        auto next = now + std::chrono::milliseconds(200);
        for (auto& c : conns) {
            short ea = 0, eb = 0;
            for (Flow* f : {&c->up, &c->down}) {
                short& in = f == &c->up ? ea : eb;
                short& out = f == &c->up ? eb : ea;
                if (!f->eof && f->heldBytes < kMaxHeld) in |= POLLIN;
                if (f->blocked) out |= POLLOUT;
                if (!f->held.empty() && !f->blocked && f->held.front().due < next) next = f->held.front().due;
                if (f->eof && !f->shut && f->held.empty() && f->eofDue < next) next = f->eofDue;
            }
            fds.push_back({c->a, ea, 0});
            fds.push_back({c->b, eb, 0});
        }
        auto waitUs = std::chrono::duration_cast<std::chrono::microseconds>(next - Clock::now()).count();
        timespec ts{0, 0};
        if (waitUs > 0) ts = {static_cast<time_t>(waitUs / 1000000), static_cast<long>(waitUs % 1000000) * 1000};
        if (::ppoll(fds.data(), fds.size(), &ts, nullptr) < 0 && errno != EINTR) {
            std::perror("bench_latency_proxy: poll");
            return 1;
        }
        now = Clock::now();
        size_t k = 0;
        for (size_t i = 0; i < listeners.size(); ++i, ++k) {
            if (!(fds[k].revents & POLLIN)) continue;
            for (int accepted = 0; accepted < 64; ++accepted) {
                int fd = ::accept4(listeners[i], nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (fd < 0) break;
                NoDelay(fd);
                int up = ConnectTarget(targets[i]);
                if (up < 0) {
                    ::close(fd);
                    continue;
                }
                auto c = std::make_unique<Conn>();
                c->a = fd;
                c->b = up;
                c->up.from = fd;
                c->up.to = up;
                c->down.from = up;
                c->down.to = fd;
                conns.push_back(std::move(c)); // polled from the next round on
            }
        }
        for (size_t ci = 0; k + 1 < fds.size() && ci < conns.size(); ++ci, k += 2) {
            Conn& c = *conns[ci];
            if (fds[k].fd != c.a) break; // a connection accepted in this round
            const short ra = fds[k].revents, rb = fds[k + 1].revents;
            if ((ra | rb) & (POLLERR | POLLNVAL)) {
                c.dead = true;
                continue;
            }
            if ((ra & (POLLIN | POLLHUP)) && !Take(c.up, now, delay)) c.dead = true;
            if ((rb & (POLLIN | POLLHUP)) && !Take(c.down, now, delay)) c.dead = true;
        }
    }
    conns.clear();
    for (int l : listeners) ::close(l);
    return 0;
}
