#pragma once
// A TCP relay on 127.0.0.1 that breaks one chosen connection on purpose.
//
// Each route listens on a free port of 127.0.0.1 and forwards every connection to its
// target, which must be a loopback address. Connections are counted per route (1, 2, ...).
// A plan names one route, one connection of it, a direction and a byte count: that many
// bytes go through in that direction untouched, and when the next byte comes the fault
// happens:
//   Close    both ends are closed (FIN), what was not forwarded is dropped;
//   Reset    both ends are reset (RST, through SO_LINGER 0);
//   Stall    nothing is forwarded either way for stallMs, then both ends are closed;
//   Garbage  garbageBytes bytes drawn from the seed are sent in that direction, then
//            forwarding goes on as before;
//   CutLine  forwarding goes on to the start of the next line, then only the first half
//            of that line is forwarded and both ends are closed (a line that does not end
//            within 200 ms of silence is cut in half as far as it came).
// Every other connection passes untouched. The relay writes to its own sockets only.
//
// Threads: one accept thread per route, one pump thread per connection. Stop() (also run by
// the destructor) ends them all and closes every socket; a stall ends early then.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

enum class TFaultKind { Close, Reset, Stall, Garbage, CutLine };
enum class TFaultDirection { ToServer, ToClient };

const char* FaultKindName(TFaultKind kind);

struct TFaultPlan {
    int route = -1;      // index of AddRoute's order; -1: no fault at all
    int connection = 1;  // 1-based, counted on that route
    TFaultDirection direction = TFaultDirection::ToClient;
    uint64_t afterBytes = 0; // passed through untouched in that direction first
    TFaultKind kind = TFaultKind::Close;
    int stallMs = 0;
    int garbageBytes = 0;

    // "reset of connection 2 after 130 bytes to the client", for reports.
    std::string Describe() const;
};

// Bytes forwarded over one connection so far.
struct TConnectionTraffic {
    uint64_t toServer = 0;
    uint64_t toClient = 0;
};

class TFaultRelay {
public:
    explicit TFaultRelay(uint32_t seed);
    ~TFaultRelay();
    TFaultRelay(const TFaultRelay&) = delete;
    TFaultRelay& operator=(const TFaultRelay&) = delete;

    // A new route to targetHost:targetPort; returns the port it listens on, or 0 when the
    // target is not a loopback IPv4 address or no port could be had.
    uint16_t AddRoute(const std::string& targetHost, uint16_t targetPort);
    // Takes effect for connections accepted from now on.
    void SetPlan(const TFaultPlan& plan);
    // The planned fault happened.
    bool Fired() const { return fired_; }
    int Connections(int route) const;
    // Per connection of the route, in the order accepted.
    std::vector<TConnectionTraffic> Traffic(int route) const;
    // Connections not yet closed, on every route.
    int Open() const { return open_; }
    void Stop();

private:
    struct Route;
    struct Link;
    void AcceptLoop(Route& r);
    void Pump(Link& link);
    std::string Garbage(int n);

    std::mt19937 rng_;
    mutable std::mutex mutex_; // routes_, links_, plan_, rng_
    std::vector<std::unique_ptr<Route>> routes_;
    std::vector<std::unique_ptr<Link>> links_;
    TFaultPlan plan_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> fired_{false};
    std::atomic<int> open_{0};
};
