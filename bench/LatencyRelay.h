#pragma once
// A TCP relay on 127.0.0.1 that holds every chunk of bytes for a fixed delay in each
// direction before passing it on, like a server that far away. Chunks are timed one by one,
// so the delay adds latency without limiting throughput.
#include "LoopbackSockets.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

class LatencyRelay {
public:
    LatencyRelay(uint16_t targetPort, int delayMs) : target_(targetPort), delay_(delayMs) {
        listen_ = loopback::Listen(port_);
        accept_ = std::thread([this] { AcceptLoop(); });
    }
    ~LatencyRelay() {
        stop_ = true;
        loopback::Unlisten(listen_);
        accept_.join();
        for (auto& t : threads_) t.join();
        for (int fd : fds_) ::close(fd);
    }
    uint16_t Port() const { return port_; }

private:
    using Clock = std::chrono::steady_clock;
    struct Pipe {
        std::mutex m;
        std::condition_variable cv;
        std::deque<std::pair<Clock::time_point, std::string>> q;
        bool closed = false;
    };
    void AcceptLoop() {
        while (!stop_) {
            int c = loopback::AcceptSoon(listen_);
            if (c < 0) continue;
            int s = loopback::Connect(target_);
            if (s < 0) {
                ::close(c);
                continue;
            }
            fds_.push_back(c);
            fds_.push_back(s);
            int one = 1;
            ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            auto up = std::make_shared<Pipe>(), down = std::make_shared<Pipe>();
            threads_.emplace_back([this, c, s, up] { Read(c, s, *up); });
            threads_.emplace_back([this, s, c, up] { Write(s, c, *up); });
            threads_.emplace_back([this, s, c, down] { Read(s, c, *down); });
            threads_.emplace_back([this, c, s, down] { Write(c, s, *down); });
        }
    }
    void Read(int from, int, Pipe& p) {
        char buf[65536];
        while (!stop_) {
            pollfd f{from, POLLIN, 0};
            if (::poll(&f, 1, 50) <= 0) continue;
            ssize_t n = ::read(from, buf, sizeof buf);
            std::lock_guard<std::mutex> l(p.m);
            if (n <= 0) {
                p.closed = true;
                p.cv.notify_all();
                return;
            }
            p.q.emplace_back(Clock::now() + std::chrono::milliseconds(delay_), std::string(buf, n));
            p.cv.notify_all();
        }
    }
    void Write(int to, int other, Pipe& p) {
        for (;;) {
            std::unique_lock<std::mutex> l(p.m);
            p.cv.wait_for(l, std::chrono::milliseconds(50), [&] { return !p.q.empty() || p.closed; });
            if (stop_) break;
            if (p.q.empty()) {
                if (p.closed) break;
                continue;
            }
            auto due = p.q.front().first;
            if (Clock::now() < due) {
                p.cv.wait_until(l, due);
                continue;
            }
            std::string data = std::move(p.q.front().second);
            p.q.pop_front();
            l.unlock();
            size_t off = 0;
            while (off < data.size()) {
                ssize_t w = ::write(to, data.data() + off, data.size() - off);
                if (w <= 0) break;
                off += static_cast<size_t>(w);
            }
        }
        ::shutdown(to, SHUT_WR);
        ::shutdown(other, SHUT_RD);
    }
    uint16_t target_;
    int delay_;
    int listen_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread accept_;
    std::vector<std::thread> threads_;
    std::vector<int> fds_;
};
