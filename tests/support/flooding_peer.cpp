#include "support/flooding_peer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace varnok::test {

FloodingPeer::FloodingPeer(bool flood, uint8_t byte) : flood_(flood), byte_(byte)
{
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // port 0: one the system gives, ours alone
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 8) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { serve(); });
}

FloodingPeer::~FloodingPeer()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (fd_ >= 0)
        ::close(fd_);
}

std::string FloodingPeer::where() const
{
    return port_ ? "tcp://127.0.0.1:" + std::to_string(port_) : std::string();
}

void FloodingPeer::serve()
{
    struct Conn {
        int fd;
        bool asked;
    };
    std::vector<Conn> conns;
    const std::vector<char> burst(4096, char(byte_));
    char in[512];
    while (!stop_) {
        // A flood waits only while the other end's buffers are full.
        std::vector<pollfd> p{{fd_, POLLIN, 0}};
        for (const Conn& c : conns)
            p.push_back({c.fd, short(c.asked && flood_ ? POLLIN | POLLOUT : POLLIN), 0});
        ::poll(p.data(), p.size(), 20);
        if (p[0].revents & POLLIN) {
            const int c = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (c >= 0) {
                conns.push_back({c, false});
                ++connections_;
            }
        }
        for (size_t i = 0; i < conns.size();) {
            Conn& c = conns[i];
            bool gone = false;
            const ssize_t r = ::recv(c.fd, in, sizeof in, 0);
            if (r > 0 && !c.asked) {
                c.asked = true;
                ++requests_;
            }
            gone = r == 0 || (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
            // Without a pause: as much as the connection takes, at once, every turn.
            while (!gone && c.asked && flood_) {
                const ssize_t w = ::send(c.fd, burst.data(), burst.size(), MSG_NOSIGNAL);
                if (w > 0) {
                    sent_ += w;
                    continue;
                }
                gone = w < 0 && errno != EAGAIN && errno != EWOULDBLOCK;
                break;
            }
            if (gone) {
                ::close(c.fd);
                conns.erase(conns.begin() + long(i));
            } else {
                ++i;
            }
        }
    }
    for (const Conn& c : conns)
        ::close(c.fd);
}

}  // namespace varnok::test
