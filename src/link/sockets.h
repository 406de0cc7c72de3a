#pragma once
// The few places where Winsock and BSD sockets differ, so that the TCP transport is one
// source for both. A socket is carried in the transport's `int` descriptor: Windows keeps
// only the low 32 bits of a kernel handle significant, so the value survives the round trip.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <string>

namespace varnok::sockets {

#ifdef _WIN32
using Native = SOCKET;
inline Native native(int fd) { return Native(intptr_t(fd)); }
// Winsock's error codes in errno terms, as the rest of the link reports them: the last
// call's, or one that SO_ERROR gave.
int errno_of(int wsa_error);
int error();
// Starts Winsock once per process.
void start();
inline int close(int fd) { return ::closesocket(native(fd)); }
inline int poll(pollfd* fds, unsigned n, int ms) { return ::WSAPoll(fds, n, ms); }
inline constexpr int kSendFlags = 0;
#else
using Native = int;
inline Native native(int fd) { return fd; }
inline int errno_of(int e) { return e; }
inline int error() { return errno; }
inline void start() {}
inline int close(int fd) { return ::close(fd); }
inline int poll(pollfd* fds, unsigned n, int ms) { return ::poll(fds, nfds_t(n), ms); }
// A converter gone away is an error to handle, not the end of the program.
inline constexpr int kSendFlags = MSG_NOSIGNAL;
#endif

// A new non-blocking stream socket, or -1 with the reason in error().
int open_stream(int family, int socktype, int protocol);
// The reason of a failed name lookup, getaddrinfo's `code` with errno where it says so.
std::string lookup_failure(int code, int system_error);

}  // namespace varnok::sockets
