// Socket error codes and texts in the Winsock form the user sees:
// "Socket Error # %d\r\n%s", e.g. "Socket Error # 10061\r\nConnection refused.".
// Also the small poll-based wait used by the connection and the TLS transport.
#pragma once

#include <string>

namespace sockerr {

constexpr int kTimedOut = 10060;         // WSAETIMEDOUT
constexpr int kConnRefused = 10061;      // WSAECONNREFUSED
constexpr int kConnReset = 10054;        // WSAECONNRESET
constexpr int kHostNotFound = 11001;     // WSAHOST_NOT_FOUND

// Winsock code for an errno value; errno values without a Winsock counterpart keep
// their own number.
int WinsockCodeFromErrno(int err);
// Description of a Winsock code ("Connection refused."); for an unknown code the
// platform's text of the errno value (or "Unknown socket error.").
std::string WinsockErrorText(int code);
// "Socket Error # <code>\r\n<text>".
std::string SocketErrorMessage(int code);

// Waits until fd is ready for the poll events (POLLIN / POLLOUT) or timeoutMs passes.
// Returns true when ready (also on error/hang-up conditions, which the next call
// reports), false on time-out. Restarts after EINTR with the remaining time.
bool WaitFd(int fd, short events, int timeoutMs);

}  // namespace sockerr
