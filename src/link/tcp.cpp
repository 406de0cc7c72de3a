#include "link/tcp.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "link/platform.h"
#include "link/sockets.h"

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

// Pumps `waiting`, if any, and tells whether time is left before `deadline` and no stop was asked.
bool pump_until(WaitPump* waiting, Clock::time_point deadline, const StopRequest* stop)
{
    if (waiting)
        waiting->pump();
    return Clock::now() < deadline && !(stop && stop->requested());
}

bool stopped(const StopRequest* stop) { return stop && stop->requested(); }

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
            WaitPump* waiting, const StopRequest* stop, std::vector<Address>& found, std::string& failure)
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
        const bool left = pump_until(waiting, deadline, stop);
        hold.lock();
        if (!left && !state->done && stopped(stop)) {
            failure = "поиск адреса " + host + ": прервано";
            return EINTR;
        }
        if (!left && !state->done) {
            failure = "поиск адреса " + host + ": нет ответа за " + std::to_string(kConnectMs / 1000) + " с";
            return ETIMEDOUT;
        }
    }
    if (state->code != 0) {
        failure = "поиск адреса " + host + ": " + sockets::lookup_failure(state->code, state->system_error);
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
int connect_by(const Address& a, Clock::time_point deadline, WaitPump* waiting, const StopRequest* stop, int& out)
{
    const int fd = sockets::open_stream(a.family, a.socktype, a.protocol);
    if (fd < 0)
        return sockets::error();
    const sockets::Native s = sockets::native(fd);
    int e = 0;
    if (::connect(s, reinterpret_cast<const sockaddr*>(&a.addr), a.len) != 0) {
        e = sockets::error();
        while (e == EINPROGRESS || e == EWOULDBLOCK) {
            pollfd p{s, POLLOUT, 0};
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            const int r = sockets::poll(&p, 1, int(std::clamp<long long>(left, 0, kWaitSliceMs)));
            socklen_t len = sizeof e;
            if (r > 0) {
                // Winsock tells a refused connection by POLLERR|POLLHUP with SO_ERROR set.
                if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&e), &len) != 0)
                    e = sockets::error();
                else
                    e = sockets::errno_of(e);
            } else if (r < 0 && sockets::error() != EINTR) {
                e = sockets::error();
            } else if (!pump_until(waiting, deadline, stop)) {
                e = stopped(stop) ? EINTR : ETIMEDOUT;
            }
        }
    }
    if (e != 0) {
        sockets::close(fd);
        return e;
    }
    // A frame goes out as soon as it is written, not gathered with the next one.
    const int on = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    out = fd;
    return 0;
}

}  // namespace

bool is_tcp_address(const std::string& where) { return where.rfind(kScheme, 0) == 0; }


int system_lookup(const std::string& host, const std::string& port, std::vector<Address>& found)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    sockets::start();
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
    if (const int e = look_up(lookup_, host, port, deadline, waiting, stop_, found, failure_); e != 0)
        return e;
    int e = EHOSTUNREACH;
    for (const Address& a : found) {
        if ((e = connect_by(a, deadline, waiting, stop_, fd)) == 0 || Clock::now() >= deadline || e == EINTR)
            break;
    }
    return e;
}

void TcpTransport::close(int fd) { sockets::close(fd); }

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

// What has come is read and dropped. Bytes found may be the head of more still on their way (a
// late answer, a line that never stops): the line is quiet only once a pause of a few
// characters follows them. A peer that keeps sending for kPurgeMs leaves it never quiet.
// Nothing found costs no wait.
int TcpTransport::purge_input(int fd)
{
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(kPurgeMs);
    const sockets::Native s = sockets::native(fd);
    // Three characters at the converter's line speed, at least 5 ms.
    const int quiet_ms =
        line_.BaudRate > 0 ? std::max(5, int((3 * 11 * 1000 + line_.BaudRate - 1) / line_.BaudRate)) : 5;
    bool discarded = false;
    uint8_t junk[4096];
    for (;;) {
        // The socket is non-blocking: this takes only what has come.
        const ssize_t r = ::recv(s, reinterpret_cast<char*>(junk), sizeof junk, 0);
        if (r == 0)
            return ECONNRESET;  // the converter closed the connection
        if (r < 0) {
            const int e = sockets::error();
            if (e != EAGAIN && e != EWOULDBLOCK && e != EINTR)
                return e;
            if (!discarded)
                return 0;
            pollfd p{s, POLLIN, 0};
            const int ready = sockets::poll(&p, 1, quiet_ms);
            if (ready == 0)
                return 0;
            if (ready < 0 && sockets::error() != EINTR)
                return sockets::error();
        }
        discarded = discarded || r > 0;
        if (stop_requested())
            return 0;  // the run ends: what is left is never read
        if (Clock::now() >= until)
            return kLineNotQuiet;
    }
}

ssize_t TcpTransport::write_some(int fd, const uint8_t* data, size_t n)
{
    const ssize_t r = ::send(sockets::native(fd), reinterpret_cast<const char*>(data), int(n), sockets::kSendFlags);
    if (r < 0)
        errno = sockets::error();
    return r;
}

}  // namespace varnok
