#include "link/sockets.h"

#include <cstring>

namespace varnok::sockets {

#ifdef _WIN32

int errno_of(int e)
{
    switch (e) {
    case WSAEWOULDBLOCK: return EWOULDBLOCK;
    case WSAEINPROGRESS: return EINPROGRESS;
    case WSAEINTR: return EINTR;
    case WSAECONNREFUSED: return ECONNREFUSED;
    case WSAECONNRESET: return ECONNRESET;
    case WSAECONNABORTED: return ECONNABORTED;
    case WSAENETUNREACH: return ENETUNREACH;
    case WSAEHOSTUNREACH: return EHOSTUNREACH;
    case WSAETIMEDOUT: return ETIMEDOUT;
    case WSAENOTCONN: return ENOTCONN;
    case WSAEADDRNOTAVAIL: return EADDRNOTAVAIL;
    case WSAEAFNOSUPPORT: return EAFNOSUPPORT;
    case WSAENOBUFS: return ENOBUFS;
    case WSAEMFILE: return EMFILE;
    default: return e == 0 ? 0 : EIO;
    }
}

int error() { return errno_of(::WSAGetLastError()); }

void start()
{
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

int open_stream(int family, int socktype, int protocol)
{
    start();
    const SOCKET s = ::socket(family, socktype, protocol);
    if (s == INVALID_SOCKET)
        return -1;
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return int(intptr_t(s));
}

std::string lookup_failure(int code, int /*system_error*/)
{
    std::string text = ::gai_strerrorA(code);
    while (!text.empty() && (text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

#else

int open_stream(int family, int socktype, int protocol)
{
    return ::socket(family, socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
}

std::string lookup_failure(int code, int system_error)
{
    return code == EAI_SYSTEM ? std::strerror(system_error) : ::gai_strerror(code);
}

#endif

}  // namespace varnok::sockets
