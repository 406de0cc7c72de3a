#pragma once
// TCP ports of 127.0.0.1 for tests that run beside each other. A port is taken below the
// system's ephemeral range, which the kernel never hands out by itself, from a stretch of
// its own for each test process: two tests started side by side do not pick the same one.

#include <arpa/inet.h>
#include <fstream>
#include <netinet/in.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace varnok::test {

inline sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Whether `call` (bind or connect) takes a fresh socket to `port`; the socket closed again.
inline bool loopback_takes(int port, int (*call)(int, const sockaddr*, socklen_t))
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = loopback(port);
    const bool ok = call(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// Whether a socket can be bound to `port` now.
inline bool bindable(int port) { return loopback_takes(port, ::bind); }

// Whether something accepts connections on `port` of 127.0.0.1.
inline bool accepts(int port) { return loopback_takes(port, ::connect); }

// A TCP port of 127.0.0.1 that nothing listens on now, for a server the test starts.
inline int free_port()
{
    int low = 32768;
    std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> low;
    const int first = 10000, span = low - first;  // ports of no service and no outgoing connection
    if (span < 1000)
        throw std::runtime_error("no room below the ephemeral ports");
    static int taken = 0;  // this process's stretch: four ports, then the next stretches
    const int start = int(::getpid() % (span / 4)) * 4;
    for (int i = 0; i < span; ++i) {
        const int port = first + (start + taken++) % span;
        if (bindable(port))
            return port;
    }
    throw std::runtime_error("no free TCP port");
}

// A port of 127.0.0.1 bound and held, but not listening: a connection to it is refused for
// as long as the test holds it, and no other test can start a server there meanwhile.
class RefusingPort {
public:
    RefusingPort()
    {
        sockaddr_in a = loopback(0);
        socklen_t len = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("no port to hold");
        port_ = ntohs(a.sin_port);
    }
    ~RefusingPort() { ::close(fd_); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    int port() const { return port_; }
    std::string url() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

private:
    int fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port_ = 0;
};

}  // namespace varnok::test
