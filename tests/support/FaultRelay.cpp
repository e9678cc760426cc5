#include "FaultRelay.h"

#include "LoopbackSockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

// How long a held line may stay unfinished before it is cut as far as it came.
constexpr auto kLineSilence = std::chrono::milliseconds(200);
// A held line is cut at this length at the latest.
constexpr size_t kMaxHeldLine = 64 * 1024;

bool WriteAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// FIN first; what the peer has sent already is read away (up to a bound) so that the close
// adds no RST of its own.
void CloseGracefully(int fd) {
    ::shutdown(fd, SHUT_WR);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    char buf[4096];
    size_t drained = 0;
    ssize_t n = 0;
    while (drained < (1u << 20) && (n = ::read(fd, buf, sizeof buf)) > 0) drained += static_cast<size_t>(n);
    ::close(fd);
}

void CloseWithReset(int fd) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
}
} // namespace

const char* FaultKindName(TFaultKind kind) {
    switch (kind) {
    case TFaultKind::Close: return "close";
    case TFaultKind::Reset: return "reset";
    case TFaultKind::Stall: return "stall";
    case TFaultKind::Garbage: return "garbage";
    case TFaultKind::CutLine: return "cut line";
    }
    return "?";
}

std::string TFaultPlan::Describe() const {
    if (route < 0) return "no fault";
    std::string s = FaultKindName(kind);
    if (kind == TFaultKind::Stall) s += " " + std::to_string(stallMs) + " ms";
    if (kind == TFaultKind::Garbage) s += " " + std::to_string(garbageBytes) + " bytes";
    s += " of connection " + std::to_string(connection) + " after " + std::to_string(afterBytes) +
         " bytes " + (direction == TFaultDirection::ToServer ? "to the server" : "to the client");
    return s;
}

struct TFaultRelay::Route {
    int index = 0;
    int listenFd = -1;
    sockaddr_in target{};
    std::atomic<int> count{0};
    std::thread accept;
};

struct TFaultRelay::Link {
    int route = 0;
    int fd[2] = {-1, -1}; // the client's, the server's
    bool faulted = false;
    TFaultPlan plan;
    // [0]: forwarded from the client to the server, [1]: the other way.
    std::atomic<uint64_t> bytes[2] = {0, 0};
    std::thread pump;
};

TFaultRelay::TFaultRelay(uint32_t seed) : rng_(seed) {}

TFaultRelay::~TFaultRelay() { Stop(); }

uint16_t TFaultRelay::AddRoute(const std::string& targetHost, uint16_t targetPort) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(targetPort);
    if (::inet_pton(AF_INET, targetHost.c_str(), &target.sin_addr) != 1) return 0;
    if ((ntohl(target.sin_addr.s_addr) >> 24) != 127) return 0; // loopback only
    uint16_t port = 0;
    const int fd = loopback::Listen(port);
    if (fd < 0 || port == 0) {
        if (fd >= 0) ::close(fd);
        return 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto route = std::make_unique<Route>();
    route->index = static_cast<int>(routes_.size());
    route->listenFd = fd;
    route->target = target;
    Route& r = *route;
    routes_.push_back(std::move(route));
    r.accept = std::thread([this, &r] { AcceptLoop(r); });
    return port;
}

void TFaultRelay::SetPlan(const TFaultPlan& plan) {
    std::lock_guard<std::mutex> lock(mutex_);
    plan_ = plan;
}

int TFaultRelay::Connections(int route) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (route < 0 || route >= static_cast<int>(routes_.size())) return 0;
    return routes_[static_cast<size_t>(route)]->count;
}

std::vector<TConnectionTraffic> TFaultRelay::Traffic(int route) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<TConnectionTraffic> out;
    for (const auto& l : links_)
        if (l->route == route) out.push_back({l->bytes[0], l->bytes[1]});
    return out;
}

void TFaultRelay::Stop() {
    stop_ = true;
    std::vector<Route*> routes;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& r : routes_) routes.push_back(r.get());
    }
    // Accept loops end first, so no pump starts after the joins below.
    for (Route* r : routes) {
        if (r->accept.joinable()) r->accept.join();
        if (r->listenFd >= 0) ::close(r->listenFd);
        r->listenFd = -1;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& l : links_)
        if (l->pump.joinable()) l->pump.join();
}

std::string TFaultRelay::Garbage(int n) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
    for (auto& c : s) c = static_cast<char>(rng_() & 0xFF);
    return s;
}

void TFaultRelay::AcceptLoop(Route& r) {
    while (!stop_) {
        const int c = loopback::AcceptSoon(r.listenFd);
        if (c < 0) continue;
        const int n = ++r.count;
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (s < 0 || ::connect(s, reinterpret_cast<const sockaddr*>(&r.target), sizeof r.target) != 0) {
            if (s >= 0) ::close(s);
            ::close(c); // a target that is down looks down through the relay too
            continue;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        auto link = std::make_unique<Link>();
        link->route = r.index;
        link->fd[0] = c;
        link->fd[1] = s;
        link->faulted = plan_.route == r.index && plan_.connection == n;
        link->plan = plan_;
        Link& l = *link;
        links_.push_back(std::move(link));
        ++open_;
        l.pump = std::thread([this, &l] { Pump(l); });
    }
}

void TFaultRelay::Pump(Link& l) {
    // The faulted direction: data read from fd[d] and written to fd[1 - d].
    const int d = l.plan.direction == TFaultDirection::ToServer ? 0 : 1;
    enum { Waiting, SeekLine, HoldLine, Passing } phase = l.faulted ? Waiting : Passing;
    enum { Open, Fin, Rst } end = Open;
    bool lineStart[2] = {true, true}; // the last byte forwarded that way ended a line
    std::string held;                 // the line being held back (CutLine)
    Clock::time_point heldSince;

    auto forward = [&](int from, const char* p, size_t n) {
        if (n == 0) return true;
        if (!WriteAll(l.fd[1 - from], p, n)) return false;
        l.bytes[from] += n;
        lineStart[from] = p[n - 1] == '\n';
        return true;
    };
    auto cutHeld = [&](size_t lineLength) {
        forward(d, held.data(), lineLength > 1 ? lineLength / 2 : lineLength);
        end = Fin;
    };
    // One read's bytes of the faulted direction, through the fault's phases. False when the
    // connection ends.
    auto feed = [&](const char* p, size_t n) -> bool {
        if (phase == Waiting) {
            const uint64_t room = l.plan.afterBytes - l.bytes[d];
            if (n <= room) return forward(d, p, n);
            if (!forward(d, p, static_cast<size_t>(room))) return false;
            p += room;
            n -= static_cast<size_t>(room);
            fired_ = true;
            switch (l.plan.kind) {
            case TFaultKind::Close:
                end = Fin;
                return false;
            case TFaultKind::Reset:
                end = Rst;
                return false;
            case TFaultKind::Stall: {
                const auto until = Clock::now() + std::chrono::milliseconds(l.plan.stallMs);
                while (!stop_ && Clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                end = Fin;
                return false;
            }
            case TFaultKind::Garbage: {
                const std::string g = Garbage(l.plan.garbageBytes);
                if (!WriteAll(l.fd[1 - d], g.data(), g.size())) return false;
                phase = Passing;
                return forward(d, p, n);
            }
            case TFaultKind::CutLine:
                phase = SeekLine;
                break;
            }
        }
        if (phase == SeekLine && !lineStart[d]) {
            const char* lf = static_cast<const char*>(std::memchr(p, '\n', n));
            if (!lf) return forward(d, p, n);
            const size_t upTo = static_cast<size_t>(lf - p) + 1;
            if (!forward(d, p, upTo)) return false;
            p += upTo;
            n -= upTo;
        }
        if (phase == SeekLine) phase = HoldLine;
        if (phase == HoldLine) {
            if (n == 0) return true;
            if (held.empty()) heldSince = Clock::now();
            held.append(p, n);
            const size_t lf = held.find('\n');
            if (lf != std::string::npos) {
                cutHeld(lf + 1);
                return false;
            }
            if (held.size() >= kMaxHeldLine) {
                cutHeld(held.size());
                return false;
            }
            return true;
        }
        return forward(d, p, n);
    };

    char buf[65536];
    pollfd p[2] = {{l.fd[0], POLLIN, 0}, {l.fd[1], POLLIN, 0}};
    bool going = true;
    while (going && !stop_) {
        const int r = ::poll(p, 2, 50);
        if (r < 0 && errno != EINTR) break;
        if (phase == HoldLine && !held.empty() && Clock::now() - heldSince >= kLineSilence) {
            cutHeld(held.size());
            break;
        }
        if (r <= 0) continue;
        for (int i = 0; i < 2 && going; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = ::read(l.fd[i], buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                going = false; // one end went away: the other is closed too
                break;
            }
            const size_t len = static_cast<size_t>(n);
            going = (l.faulted && i == d && phase != Passing) ? feed(buf, len) : forward(i, buf, len);
        }
    }
    for (int fd : l.fd) {
        if (end == Rst)
            CloseWithReset(fd);
        else
            CloseGracefully(fd);
    }
    --open_;
}
