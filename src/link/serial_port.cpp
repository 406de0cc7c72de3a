#include "link/serial_port.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <poll.h>

#include "link/write_within.h"

namespace varnok {

namespace {

using Clock = std::chrono::steady_clock;

// While a stop may come, a wait is cut into slices this long, so that a stop asked just before
// the wait began (its signal already spent) still ends it soon.
constexpr auto kStopSlice = std::chrono::milliseconds(50);

// Waits for `events` on `fd` until `deadline`, to the microsecond (poll() counts whole
// milliseconds, which would make every time-out late by up to one).
int wait_until(int fd, short events, Clock::time_point deadline, short& revents)
{
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
    const long long ns = left < 0 ? 0 : left;
    timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    pollfd p{fd, events, 0};
    const int r = ::ppoll(&p, 1, &ts, nullptr);
    revents = p.revents;
    return r;
}

}  // namespace

int SerialPort::open(const std::string& path, WaitPump* waiting)
{
    close();
    broken_ = 0;
    where_ = path;
    if (!fixed_transport_)
        transport_ = transport_for(path);
    transport_->set_stop(stop_);
    return transport_->open(path, fd_, waiting);
}

bool SerialPort::is_open() const { return fd_ >= 0; }

bool SerialPort::connected() const
{
    if (fd_ < 0)
        return false;
    pollfd p{fd_, POLLRDHUP, 0};
    return ::poll(&p, 1, 0) == 0 || !(p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL));
}

void SerialPort::close()
{
    if (fd_ < 0)
        return;
    transport_->close(fd_);
    fd_ = -1;
}

// A connection that broke, or a terminal that was hung up (an adapter pulled, the far end of
// a pseudo-terminal closed), is closed, so that what follows fails at once instead of
// waiting on it; the error is kept for the one report of it.
int SerialPort::lose(int error)
{
    // A write that did not end in time: the far end stopped reading, or the adapter is stuck.
    const bool hung_up = error == EIO || error == ENXIO || error == ENODEV || error == EPIPE || error == ETIMEDOUT;
    if (!transport_->ends_broken() && !hung_up)
        return error;
    close();
    broken_ = error;
    return error;
}

int SerialPort::get_state(Dcb& dcb) const
{
    if (fd_ < 0)
        return EBADF;
    return transport_->get_state(fd_, dcb);
}

int SerialPort::set_state(const Dcb& dcb)
{
    if (fd_ < 0)
        return EBADF;
    return transport_->set_state(fd_, dcb);
}

int SerialPort::purge_input()
{
    if (fd_ < 0)
        return EBADF;
    const int e = transport_->purge_input(fd_);
    return e == 0 ? 0 : lose(e);
}

int SerialPort::set_timeouts(const CommTimeouts& t)
{
    if (fd_ < 0)
        return EBADF;
    timeouts_ = t;
    return 0;
}

int SerialPort::write(const uint8_t* data, size_t n, size_t& written)
{
    written = 0;
    if (fd_ < 0)
        return EBADF;
    // A time-out leaves the caller `written`; a write that did not end in time is a stuck line.
    const int e = write_within(*transport_, fd_, timeouts_, data, n, written);
    return e == 0 ? 0 : lose(e);
}

int SerialPort::read(uint8_t* data, size_t n, size_t& got)
{
    got = 0;
    if (fd_ < 0)
        return EBADF;
    if (n == 0)
        return 0;
    if (timeouts_.ReadIntervalTimeout == kReadNoWait && timeouts_.ReadTotalTimeoutMultiplier == 0 &&
        timeouts_.ReadTotalTimeoutConstant == 0) {
        const ssize_t r = ::read(fd_, data, n);
        const int e = r < 0 ? errno : 0;
        if (r > 0)
            got = size_t(r);
        // A terminal with nothing to read gives 0 bytes; a connection gives 0 at its end.
        if (transport_->ends_broken() && r == 0)
            return lose(ECONNRESET);
        return r >= 0 || e == EAGAIN || e == EINTR ? 0 : lose(e);
    }
    const auto start = Clock::now();
    uint64_t total_ms = uint64_t(timeouts_.ReadTotalTimeoutMultiplier) * n + timeouts_.ReadTotalTimeoutConstant;
    if (total_ms == 0 && timeouts_.ReadIntervalTimeout == 0)
        total_ms = kReadCapMs;
    const bool total_bounded = total_ms != 0;
    const auto total_deadline = start + std::chrono::milliseconds(total_ms);
    const auto cap_deadline = start + std::chrono::milliseconds(kReadCapMs);
    Clock::time_point interval_deadline{};

    while (got < n) {
        if (stop_ && stop_->requested())
            return 0;  // as a time-out: what came so far is the result
        Clock::time_point deadline = total_bounded ? total_deadline : cap_deadline;
        if (got > 0 && timeouts_.ReadIntervalTimeout != 0 && interval_deadline < deadline)
            deadline = interval_deadline;
        const Clock::time_point slice = stop_ ? std::min(deadline, Clock::now() + kStopSlice) : deadline;
        short revents = 0;
        const int ready = wait_until(fd_, POLLIN, slice, revents);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (ready == 0 && slice < deadline)
            continue;
        if (ready == 0)
            return 0;  // a time-out ends the read; what came so far is the result
        if (revents & POLLNVAL)
            return EBADF;
        const ssize_t r = ::read(fd_, data + got, n - got);
        if (r > 0) {
            got += size_t(r);
            interval_deadline = Clock::now() + std::chrono::milliseconds(timeouts_.ReadIntervalTimeout);
            continue;
        }
        if (r < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        // End of file where the wait said there was something: a connection whose far end
        // closed, or a terminal that was hung up.
        if (r == 0)
            return lose(transport_->ends_broken() ? ECONNRESET : EIO);
        return lose(errno);
    }
    return 0;
}

}  // namespace varnok
