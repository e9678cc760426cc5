// What each fault of the relay looks like from the two ends of a connection: a tiny server
// that greets and records what it receives, and a client that sends one request.
#include "FaultRelay.h"
#include "LoopbackSockets.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;

const std::string kGreeting = "+OK ready\r\nsecond line\r\n"; // 24 bytes
const std::string kRequest = "line one\r\nline two\r\n";     // 20 bytes

// What one end saw: the bytes until the connection ended, and whether it ended in a reset.
struct TSeen {
    std::string bytes;
    bool reset = false;
};

// Reads until the peer closes, `enough` bytes came, or 2 s pass.
TSeen ReadAll(int fd, size_t enough) {
    TSeen s;
    const auto until = Clock::now() + std::chrono::seconds(2);
    char buf[4096];
    while (s.bytes.size() < enough && Clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) s.reset = errno == ECONNRESET;
        if (n <= 0) break;
        s.bytes.append(buf, static_cast<size_t>(n));
    }
    return s;
}

// Greets each connection, then records what it receives until the connection ends.
class TGreetingServer {
public:
    TGreetingServer() {
        listen_ = loopback::Listen(port_);
        thread_ = std::thread([this] {
            while (!stop_) {
                const int c = loopback::AcceptSoon(listen_);
                if (c < 0) continue;
                // A reset that came first shows here (and the reads then end without one).
                const bool resetEarly =
                    ::send(c, kGreeting.data(), kGreeting.size(), MSG_NOSIGNAL) < 0 && errno == ECONNRESET;
                TSeen s = ReadAll(c, SIZE_MAX);
                s.reset = s.reset || resetEarly;
                ::close(c);
                std::lock_guard<std::mutex> lock(mutex_);
                seen_.push_back(s);
                changed_.notify_all();
            }
        });
    }
    ~TGreetingServer() {
        stop_ = true;
        thread_.join();
        ::close(listen_);
    }
    uint16_t Port() const { return port_; }
    // What connection n (1-based) brought, once it ended.
    TSeen Received(size_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(5), [&] { return seen_.size() >= n; });
        return seen_.size() >= n ? seen_[n - 1] : TSeen{"(nothing recorded)", false};
    }

private:
    uint16_t port_ = 0;
    int listen_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<TSeen> seen_;
};

// One connection through the relay: sends the request, reads what comes back.
TSeen Exchange(uint16_t port, size_t enough, int* elapsedMs = nullptr) {
    const auto start = Clock::now();
    const int fd = loopback::Connect(port);
    if (fd < 0) return {"(no connection)", false};
    ::send(fd, kRequest.data(), kRequest.size(), MSG_NOSIGNAL);
    TSeen s = ReadAll(fd, enough);
    ::close(fd);
    if (elapsedMs)
        *elapsedMs = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    return s;
}
} // namespace

TEST(FaultRelay, EachFaultBreaksItsConnectionAsPlanned) {
    using K = TFaultKind;
    using D = TFaultDirection;
    struct Case {
        const char* name;
        K kind;
        D direction;
        uint64_t after;
        std::string expected; // what the far end of that direction received
        bool reset;
    } cases[] = {
        {"close to the server", K::Close, D::ToServer, 5, "line ", false},
        {"close to the client", K::Close, D::ToClient, 5, "+OK r", false},
        {"reset to the client", K::Reset, D::ToClient, 0, "", true},
        {"reset to the server", K::Reset, D::ToServer, 3, "lin", true},
        // On to the next line's start, then half of that line.
        {"cut line to the client", K::CutLine, D::ToClient, 2, "+OK ready\r\nsecond", false},
        {"cut line at a line start", K::CutLine, D::ToServer, 0, "line ", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TGreetingServer server;
        TFaultRelay relay(1);
        const uint16_t port = relay.AddRoute("127.0.0.1", server.Port());
        ASSERT_NE(port, 0);
        relay.SetPlan({.route = 0, .connection = 1, .direction = c.direction, .afterBytes = c.after,
                       .kind = c.kind});
        TSeen client = Exchange(port, kGreeting.size());
        TSeen server1 = server.Received(1);
        const TSeen& far = c.direction == D::ToServer ? server1 : client;
        EXPECT_TRUE(relay.Fired());
        if (!c.reset) {
            EXPECT_EQ(far.bytes, c.expected);
        }
        EXPECT_EQ(far.reset, c.reset);
        // The next connection passes untouched.
        EXPECT_EQ(Exchange(port, kGreeting.size()).bytes, kGreeting);
        EXPECT_EQ(relay.Connections(0), 2);
    }
}

TEST(FaultRelay, AStallHoldsTheConnectionThenCloses) {
    TGreetingServer server;
    TFaultRelay relay(1);
    const uint16_t port = relay.AddRoute("127.0.0.1", server.Port());
    relay.SetPlan({.route = 0, .connection = 1, .direction = TFaultDirection::ToServer,
                   .afterBytes = 4, .kind = TFaultKind::Stall, .stallMs = 300});
    int ms = 0;
    TSeen client = Exchange(port, SIZE_MAX, &ms); // until the relay closes
    EXPECT_FALSE(client.reset);
    EXPECT_GE(ms, 300);
    EXPECT_EQ(server.Received(1).bytes, "line"); // the rest of the request was held back
}

TEST(FaultRelay, GarbageFromTheSeedIsInsertedAndForwardingGoesOn) {
    std::string inserted[2];
    for (int run = 0; run < 2; ++run) {
        TGreetingServer server;
        TFaultRelay relay(42);
        // Only the second route's second connection is touched.
        relay.AddRoute("127.0.0.1", server.Port());
        const uint16_t port = relay.AddRoute("127.0.0.1", server.Port());
        relay.SetPlan({.route = 1, .connection = 2, .direction = TFaultDirection::ToServer,
                       .afterBytes = 4, .kind = TFaultKind::Garbage, .garbageBytes = 7});
        Exchange(port, kGreeting.size());
        EXPECT_EQ(server.Received(1).bytes, kRequest);
        EXPECT_FALSE(relay.Fired());
        TSeen client = Exchange(port, kGreeting.size());
        EXPECT_EQ(client.bytes, kGreeting);
        const std::string got = server.Received(2).bytes;
        ASSERT_EQ(got.size(), kRequest.size() + 7);
        EXPECT_EQ(got.substr(0, 4) + got.substr(11), kRequest);
        inserted[run] = got.substr(4, 7);
        const auto traffic = relay.Traffic(1);
        ASSERT_EQ(traffic.size(), 2u);
        EXPECT_EQ(traffic[1].toServer, kRequest.size()); // what was forwarded, not inserted
        EXPECT_EQ(traffic[1].toClient, kGreeting.size());
    }
    EXPECT_EQ(inserted[0], inserted[1]);
}

TEST(FaultRelay, RefusesTargetsOffTheLoopback) {
    TFaultRelay relay(1);
    EXPECT_EQ(relay.AddRoute("192.0.2.1", 25), 0);
    EXPECT_EQ(relay.AddRoute("not an address", 25), 0);
}
