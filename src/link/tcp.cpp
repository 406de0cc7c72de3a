#include "link/tcp.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "link/platform.h"
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

using Clock = std::chrono::steady_clock;

// Pumps `waiting`, if any, and tells whether time is left before `deadline`.
bool pump_until(WaitPump* waiting, Clock::time_point deadline)
{
    if (waiting)
        waiting->pump();
    return Clock::now() < deadline;
}

// A lookup that may outlive the opening that asked for it: the thread and the opening share
// its outcome, and the last of them to let go frees it.
struct Lookup {
    std::mutex m;
    std::condition_variable done_cv;
    bool done = false;
    int code = 0;
    int system_error = 0;
    std::vector<Address> found;
};

// Looks the name up by `deadline`, pumping while it waits; 0 and the addresses, or an errno
// with the reason in `failure`.
int look_up(const NameLookup& lookup, const std::string& host, const std::string& port, Clock::time_point deadline,
            WaitPump* waiting, std::vector<Address>& found, std::string& failure)
{
    const auto state = std::make_shared<Lookup>();
    try {
        std::thread([state, lookup, host, port] {
            std::vector<Address> out;
            const int code = lookup(host, port, out);
            const int system_error = errno;
            const std::lock_guard<std::mutex> hold(state->m);
            state->code = code;
            state->system_error = system_error;
            state->found = std::move(out);
            state->done = true;
            state->done_cv.notify_all();
        }).detach();
    } catch (const std::system_error& e) {
        failure = "поиск адреса " + host + ": " + e.what();
        return EAGAIN;
    }
    std::unique_lock<std::mutex> hold(state->m);
    while (!state->done) {
        state->done_cv.wait_until(hold, std::min(deadline, Clock::now() + std::chrono::milliseconds(kWaitSliceMs)));
        if (state->done)
            break;
        hold.unlock();
        const bool left = pump_until(waiting, deadline);
        hold.lock();
        if (!left && !state->done) {
            failure = "поиск адреса " + host + ": нет ответа за " + std::to_string(kConnectMs / 1000) + " с";
            return ETIMEDOUT;
        }
    }
    if (state->code != 0) {
        failure = "поиск адреса " + host + ": " +
                  (state->code == EAI_SYSTEM ? std::strerror(state->system_error) : ::gai_strerror(state->code));
        return EHOSTUNREACH;
    }
    if (state->found.empty()) {
        failure = "поиск адреса " + host + ": адресов нет";
        return EHOSTUNREACH;
    }
    found = std::move(state->found);
    return 0;
}

// Connects a non-blocking socket by `deadline`, pumping while it waits; 0 or the errno.
int connect_by(const Address& a, Clock::time_point deadline, WaitPump* waiting, int& out)
{
    const int fd = ::socket(a.family, a.socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.protocol);
    if (fd < 0)
        return errno;
    int e = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a.addr), a.len) != 0) {
        e = errno;
        while (e == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            const int r = ::poll(&p, 1, int(std::clamp<long long>(left, 0, kWaitSliceMs)));
            socklen_t len = sizeof e;
            if (r > 0) {
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &e, &len) != 0)
                    e = errno;
            } else if (r < 0 && errno != EINTR) {
                e = errno;
            } else if (!pump_until(waiting, deadline)) {
                e = ETIMEDOUT;
            }
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

int system_lookup(const std::string& host, const std::string& port, std::vector<Address>& found)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int code = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
    if (code != 0)
        return code;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        if (a->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        Address x;
        x.family = a->ai_family;
        x.socktype = a->ai_socktype;
        x.protocol = a->ai_protocol;
        std::memcpy(&x.addr, a->ai_addr, a->ai_addrlen);
        x.len = a->ai_addrlen;
        found.push_back(x);
    }
    ::freeaddrinfo(list);
    return 0;
}

// One deadline for the whole opening: a slow lookup or an address that does not answer
// leaves the others only what is left of it.
int TcpTransport::open(const std::string& where, int& fd, WaitPump* waiting)
{
    failure_.clear();
    std::string host, port;
    if (!split_address(where, host, port))
        return EINVAL;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kConnectMs);
    std::vector<Address> found;
    if (const int e = look_up(lookup_, host, port, deadline, waiting, found, failure_); e != 0)
        return e;
    int e = EHOSTUNREACH;
    for (const Address& a : found) {
        if ((e = connect_by(a, deadline, waiting, fd)) == 0 || Clock::now() >= deadline)
            break;
    }
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

ssize_t TcpTransport::write_some(int fd, const uint8_t* data, size_t n) { return ::send(fd, data, n, MSG_NOSIGNAL); }

}  // namespace varnok
