// The loopback server of the protocol fuzz targets (see FuzzServer.h).
#include "FuzzServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {
[[noreturn]] void Die(const char* what) {
    std::fprintf(stderr, "fuzz server: %s (errno %d)\n", what, errno);
    std::abort();
}
}  // namespace

TFuzzServer::TFuzzServer() {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_ < 0) Die("socket");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Die("bind");
    if (::listen(listen_, 4) != 0) Die("listen");
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
}

TFuzzServer::~TFuzzServer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    cond_.notify_all();
    thread_.join();
    ::close(listen_);
}

void TFuzzServer::Play(const uint8_t* data, std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.assign(reinterpret_cast<const char*>(data), size);
    armed_ = true;
    done_ = false;
}

void TFuzzServer::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cond_.wait_for(lock, std::chrono::seconds(10), [this] { return done_; }))
        Die("the client never connected");
}

void TFuzzServer::Run() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_) return;
        }
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        {
            // Freed before the connection counts as over: the fuzzer compares the numbers
            // of allocations and frees of each run to tell leaks.
            std::string script;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                script = armed_ ? script_ : std::string();
            }
            Serve(fd, script);
        }
        ::close(fd);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            armed_ = false;
            done_ = true;
        }
        cond_.notify_all();
    }
}

void TFuzzServer::Serve(int fd, const std::string& script) {
    char sink[16384];
    std::size_t sent = 0;
    bool open = true;  // the client has not closed yet
    while (sent < script.size() && open) {
        pollfd p{fd, POLLIN | POLLOUT, 0};
        if (::poll(&p, 1, 5000) <= 0) return;  // the client stopped reading: give up
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
            if (n <= 0 && !(n < 0 && errno == EINTR)) open = false;
        }
        if (open && (p.revents & POLLOUT)) {
            const ssize_t n = ::send(fd, script.data() + sent, script.size() - sent,
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) sent += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR) open = false;
        }
    }
    ::shutdown(fd, SHUT_WR);
    // Until the client closes: what it still sends is read and dropped.
    while (open) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return;
        const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
        if (n <= 0 && !(n < 0 && errno == EINTR)) open = false;
    }
}
