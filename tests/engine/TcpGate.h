#pragma once
// A TCP relay on 127.0.0.1 in front of a real server: each accepted connection is either
// forwarded or closed at once, as the test's rule says for its number (1, 2, ...). It makes
// a server that is "down" for some connections without stopping the real one. A route rule
// may send each connection to a port of its own (0: closed at once), and CutAfter() ends
// every connection once the client sent that many bytes through it. Record() keeps what the
// servers sent to the clients, for tests that count what was fetched.
#include "LoopbackSockets.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

class TcpGate {
public:
    TcpGate(uint16_t targetPort, std::function<bool(int)> forward)
        : TcpGate(std::function<uint16_t(int)>(
              [targetPort, forward = std::move(forward)](int n) -> uint16_t {
                  return forward(n) ? targetPort : 0;
              })) {}
    explicit TcpGate(std::function<uint16_t(int)> route) : route_(std::move(route)) {
        listen_ = loopback::Listen(port_);
        accept_ = std::thread([this] { AcceptLoop(); });
    }
    ~TcpGate() {
        stop_ = true;
        loopback::Unlisten(listen_);
        accept_.join();
        for (auto& t : pumps_) t.join();
    }
    uint16_t Port() const { return port_; }
    void CutAfter(size_t clientBytes) { cut_ = clientBytes; }
    // Ends every connection open now, as a server that closes its idle connections.
    void CutAll() {
        std::lock_guard<std::mutex> lock(liveMutex_);
        for (int fd : live_) ::shutdown(fd, SHUT_RDWR);
    }
    int Connections() const { return count_; }
    void Record(bool on) { record_ = on; }
    // What the servers sent while recording was on, and a new start.
    std::string TakeFromServers() {
        std::lock_guard<std::mutex> lock(liveMutex_);
        return std::exchange(fromServers_, {});
    }
    int Open() const { return open_; } // forwarded connections not yet closed

private:
    void AcceptLoop() {
        while (!stop_) {
            int c = loopback::AcceptSoon(listen_);
            if (c < 0) continue;
            int n = ++count_;
            const uint16_t target = route_(n);
            const int s = target == 0 ? -1 : loopback::Connect(target);
            if (s < 0) {
                ::close(c);
                continue;
            }
            ++open_;
            {
                std::lock_guard<std::mutex> lock(liveMutex_);
                live_.insert(live_.end(), {c, s});
            }
            pumps_.emplace_back([this, c, s] { Pump(c, s); });
        }
    }
    void Pump(int a, int b) {
        char buf[65536];
        pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
        size_t fromClient = 0;
        const size_t cut = cut_;
        while (!stop_) {
            if (::poll(p, 2, 50) <= 0) continue;
            bool done = false;
            for (int i = 0; i < 2 && !done; ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                ssize_t n = ::read(p[i].fd, buf, sizeof buf);
                if (n <= 0) {
                    done = true;
                    break;
                }
                if (i == 1 && record_) {
                    std::lock_guard<std::mutex> lock(liveMutex_);
                    fromServers_.append(buf, static_cast<size_t>(n));
                }
                if (i == 0 && cut > 0) {
                    if (fromClient + static_cast<size_t>(n) >= cut) {
                        n = static_cast<ssize_t>(cut - fromClient);
                        done = true; // this much still goes through, then both ends close
                    }
                    fromClient += static_cast<size_t>(n);
                }
                for (ssize_t off = 0; off < n;) {
                    ssize_t w = ::write(p[1 - i].fd, buf + off, static_cast<size_t>(n - off));
                    if (w <= 0) {
                        done = true;
                        break;
                    }
                    off += w;
                }
            }
            if (done) break;
        }
        {
            std::lock_guard<std::mutex> lock(liveMutex_);
            live_.erase(std::remove_if(live_.begin(), live_.end(),
                                       [&](int fd) { return fd == a || fd == b; }),
                        live_.end());
        }
        ::close(a);
        ::close(b);
        --open_;
    }

    uint16_t port_ = 0;
    std::function<uint16_t(int)> route_;
    std::atomic<size_t> cut_{0};
    int listen_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int> count_{0};
    std::atomic<int> open_{0};
    std::thread accept_;
    std::vector<std::thread> pumps_;
    std::mutex liveMutex_;
    std::vector<int> live_; // the sockets of the connections open now
    std::atomic<bool> record_{false};
    std::string fromServers_;
};
