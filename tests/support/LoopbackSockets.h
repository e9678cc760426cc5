#pragma once
// Plain sockets on 127.0.0.1 for the test relays and the benchmark's latency proxy.
#include <arpa/inet.h>
#include <atomic>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace loopback {

inline sockaddr_in Address(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// A listening socket on a free port of 127.0.0.1; the port is stored in `port`.
inline int Listen(uint16_t& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = Address(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, 16);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

// A connection to 127.0.0.1:port, or -1.
inline int Connect(uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Address(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The next accepted connection, or -1 when none came within 50 ms (callers loop and look
// at their stop flag in between).
inline int AcceptSoon(int listenFd) {
    pollfd p{listenFd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) return -1;
    return ::accept(listenFd, nullptr, nullptr);
}

// Stops a listening socket (an accept loop then ends at its next look).
inline void Unlisten(int listenFd) {
    ::shutdown(listenFd, SHUT_RDWR);
    ::close(listenFd);
}

} // namespace loopback
