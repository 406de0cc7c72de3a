#include "link/serial_port.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace varnok {

namespace {

using Clock = std::chrono::steady_clock;

struct SpeedCode {
    uint32_t bits;
    speed_t code;
};

constexpr SpeedCode kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool speed_code(uint32_t bits, speed_t& code)
{
    for (const auto& s : kSpeeds)
        if (s.bits == bits) {
            code = s.code;
            return true;
        }
    return false;
}

uint32_t speed_bits(speed_t code)
{
    for (const auto& s : kSpeeds)
        if (s.code == code)
            return s.bits;
    return 0;
}

int ms_until(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

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

int SerialPort::open(const std::string& path)
{
    close();
    if (path.empty())
        return ENOENT;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    if (!isatty(fd)) {
        ::close(fd);
        return ENOTTY;
    }
    // Exclusive use: no other open of the terminal, and no other program holding the lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return e;
    }
    ::ioctl(fd, TIOCEXCL);
    fd_ = fd;
    return 0;
}

bool SerialPort::gone(int error)
{
    return error == EBADF || error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

void SerialPort::close()
{
    if (fd_ < 0)
        return;
    // Exclusive mode belongs to the terminal, not to this descriptor; give it back so the
    // next open, ours or anyone's, is not refused.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

int SerialPort::get_state(Dcb& dcb) const
{
    if (fd_ < 0)
        return EBADF;
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0)
        return errno;
    dcb.tio = tio;
    dcb.BaudRate = speed_bits(cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
    }
    if (!(tio.c_cflag & PARENB))
        dcb.Parity = 0;
    else if (tio.c_cflag & CMSPAR)
        dcb.Parity = (tio.c_cflag & PARODD) ? 3 : 4;
    else
        dcb.Parity = (tio.c_cflag & PARODD) ? 1 : 2;
    dcb.StopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
    return 0;
}

int SerialPort::set_state(const Dcb& dcb)
{
    if (fd_ < 0)
        return EBADF;
    termios tio = dcb.tio;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CRTSCTS);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    speed_t speed{};
    if (!speed_code(dcb.BaudRate, speed))
        return EINVAL;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);

    tio.c_cflag &= ~CSIZE;
    switch (dcb.ByteSize) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    case 8: tio.c_cflag |= CS8; break;
    default: return EINVAL;
    }

    tio.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    tio.c_iflag &= ~(INPCK);
    switch (dcb.Parity) {
    case 0: break;
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: return EINVAL;
    }
    if (dcb.Parity != 0)
        tio.c_iflag |= INPCK;

    switch (dcb.StopBits) {
    case 0: tio.c_cflag &= ~CSTOPB; break;
    case 2: tio.c_cflag |= CSTOPB; break;
    default: return EINVAL;  // one and a half stop bits has no termios form
    }

    // A pseudo-terminal drops PARENB and forces 8 data bits; the C library, reading that
    // back, reports a parity request as invalid although everything a pseudo-terminal can
    // keep was set. There the bits it keeps decide instead.
    const bool refused = tcsetattr(fd_, TCSANOW, &tio) != 0;
    const int refusal = errno;
    if (refused && (refusal != EINVAL || !is_pseudo_terminal()))
        return refusal;

    // The driver may quietly keep another speed; read it back.
    termios back{};
    if (tcgetattr(fd_, &back) != 0)
        return errno;
    if (cfgetospeed(&back) != speed)
        return EINVAL;
    constexpr tcflag_t kept = CSTOPB | PARODD | CMSPAR;
    if (refused && ((back.c_cflag & kept) != (tio.c_cflag & kept) || (back.c_iflag & INPCK) != (tio.c_iflag & INPCK)))
        return refusal;
    return 0;
}

// Unix 98 pseudo-terminal slaves have the major numbers 136 to 143.
bool SerialPort::is_pseudo_terminal() const
{
    struct stat st {};
    return fstat(fd_, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

int SerialPort::set_timeouts(const CommTimeouts& t)
{
    if (fd_ < 0)
        return EBADF;
    timeouts_ = t;
    return 0;
}

int SerialPort::purge_input()
{
    if (fd_ < 0)
        return EBADF;
    return tcflush(fd_, TCIFLUSH) == 0 ? 0 : errno;
}

int SerialPort::write(const uint8_t* data, size_t n, size_t& written)
{
    written = 0;
    if (fd_ < 0)
        return EBADF;
    const uint64_t total_ms = uint64_t(timeouts_.WriteTotalTimeoutMultiplier) * n +
                              timeouts_.WriteTotalTimeoutConstant;
    const bool bounded = total_ms != 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(total_ms);
    while (written < n) {
        const ssize_t r = ::write(fd_, data + written, n - written);
        if (r > 0) {
            written += size_t(r);
            continue;
        }
        if (r < 0 && errno != EAGAIN && errno != EINTR)
            return errno;
        pollfd p{fd_, POLLOUT, 0};
        const int wait = bounded ? ms_until(deadline) : -1;
        if (bounded && wait == 0)
            return 0;  // the write time-out ended the call; the caller sees `written`
        if (::poll(&p, 1, wait) < 0 && errno != EINTR)
            return errno;
    }
    return 0;
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
        if (r > 0)
            got = size_t(r);
        // Nothing there reads as 0 bytes; EIO is a hung-up terminal, as below.
        return r >= 0 || errno == EAGAIN || errno == EINTR ? 0 : errno;
    }
    const auto start = Clock::now();
    uint64_t total_ms = uint64_t(timeouts_.ReadTotalTimeoutMultiplier) * n +
                        timeouts_.ReadTotalTimeoutConstant;
    if (total_ms == 0 && timeouts_.ReadIntervalTimeout == 0)
        total_ms = kReadCapMs;
    const bool total_bounded = total_ms != 0;
    const auto total_deadline = start + std::chrono::milliseconds(total_ms);
    const auto cap_deadline = start + std::chrono::milliseconds(kReadCapMs);
    Clock::time_point interval_deadline{};

    while (got < n) {
        Clock::time_point deadline = total_bounded ? total_deadline : cap_deadline;
        if (got > 0 && timeouts_.ReadIntervalTimeout != 0 && interval_deadline < deadline)
            deadline = interval_deadline;
        short revents = 0;
        const int ready = wait_until(fd_, POLLIN, deadline, revents);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
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
        // End of file or EIO: the terminal was hung up (an adapter pulled, the far end of a
        // pseudo-terminal closed). Nothing can come any more.
        return r == 0 ? EIO : errno;
    }
    return 0;
}

}  // namespace varnok
