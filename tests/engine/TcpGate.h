#pragma once
// A TCP relay on 127.0.0.1 in front of a real server: each accepted connection is either
// forwarded or closed at once, as the test's rule says for its number (1, 2, ...). It makes
// a server that is "down" for some connections without stopping the real one. A route rule
// may send each connection to a port of its own (0: closed at once), and CutAfter() ends
// every connection once the client sent that many bytes through it.
#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

class TcpGate {
public:
    TcpGate(uint16_t targetPort, std::function<bool(int)> forward)
        : TcpGate(std::function<uint16_t(int)>(
              [targetPort, forward = std::move(forward)](int n) -> uint16_t {
                  return forward(n) ? targetPort : 0;
              })) {}
    explicit TcpGate(std::function<uint16_t(int)> route) : route_(std::move(route)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listen_, 16);
        socklen_t len = sizeof a;
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        accept_ = std::thread([this] { AcceptLoop(); });
    }
    ~TcpGate() {
        stop_ = true;
        ::shutdown(listen_, SHUT_RDWR);
        ::close(listen_);
        accept_.join();
        for (auto& t : pumps_) t.join();
    }
    uint16_t Port() const { return port_; }
    void CutAfter(size_t clientBytes) { cut_ = clientBytes; }
    int Connections() const { return count_; }
    int Open() const { return open_; } // forwarded connections not yet closed

private:
    void AcceptLoop() {
        while (!stop_) {
            pollfd p{listen_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            int c = ::accept(listen_, nullptr, nullptr);
            if (c < 0) continue;
            int n = ++count_;
            const uint16_t target = route_(n);
            if (target == 0) {
                ::close(c);
                continue;
            }
            int s = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(target);
            if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                ::close(s);
                ::close(c);
                continue;
            }
            ++open_;
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
};
