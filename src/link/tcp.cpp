#include "link/tcp.h"

#include <cerrno>
#include <chrono>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "link/terminal.h"

namespace varnok {

namespace {

constexpr const char* kScheme = "tcp://";

// HOST and PORT of "tcp://HOST:PORT"; false when it is not of that form.
bool split_address(const std::string& where, std::string& host, std::string& port)
{
    if (!is_tcp_address(where))
        return false;
    const std::string rest = where.substr(std::char_traits<char>::length(kScheme));
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size())
        return false;
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
    if (host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    for (const char c : port)
        if (c < '0' || c > '9')
            return false;
    return !host.empty() && port.size() <= 5 && std::stoi(port) >= 1 && std::stoi(port) <= 65535;
}

// Connects a non-blocking socket within kConnectMs; 0 or the errno.
int connect_within(const addrinfo& a, int& out)
{
    const int fd = ::socket(a.ai_family, a.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.ai_protocol);
    if (fd < 0)
        return errno;
    int e = 0;
    if (::connect(fd, a.ai_addr, a.ai_addrlen) != 0) {
        e = errno;
        if (e == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            const int r = ::poll(&p, 1, kConnectMs);
            socklen_t len = sizeof e;
            if (r == 0)
                e = ETIMEDOUT;
            else if (r < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &e, &len) != 0)
                e = errno;
        }
    }
    if (e != 0) {
        ::close(fd);
        return e;
    }
    // A frame goes out as soon as it is written, not gathered with the next one.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    out = fd;
    return 0;
}

}  // namespace

bool is_tcp_address(const std::string& where) { return where.rfind(kScheme, 0) == 0; }

std::unique_ptr<Transport> transport_for(const std::string& where)
{
    if (is_tcp_address(where))
        return std::make_unique<TcpTransport>();
    return std::make_unique<TerminalTransport>();
}

int TcpTransport::open(const std::string& where, int& fd)
{
    std::string host, port;
    if (!split_address(where, host, port))
        return EINVAL;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || !found)
        return EHOSTUNREACH;
    int e = EHOSTUNREACH;
    for (const addrinfo* a = found; a; a = a->ai_next)
        if ((e = connect_within(*a, fd)) == 0)
            break;
    ::freeaddrinfo(found);
    return e;
}

void TcpTransport::close(int fd) { ::close(fd); }

int TcpTransport::get_state(int /*fd*/, Dcb& dcb) const
{
    dcb = line_;
    return 0;
}

int TcpTransport::set_state(int /*fd*/, const Dcb& dcb)
{
    line_ = dcb;
    return 0;
}

int TcpTransport::purge_input(int fd)
{
    uint8_t junk[256];
    for (;;) {
        const ssize_t r = ::recv(fd, junk, sizeof junk, MSG_DONTWAIT);
        if (r > 0)
            continue;
        if (r == 0)
            return ECONNRESET;  // the converter closed the connection
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : errno;
    }
}

ssize_t TcpTransport::write_some(int fd, const uint8_t* data, size_t n)
{
    return ::send(fd, data, n, MSG_NOSIGNAL);
}

}  // namespace varnok
