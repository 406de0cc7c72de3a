#include "link/terminal_transport.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "link/serial_port.h"
#include "link/tcp.h"

namespace varnok {

namespace {

struct SpeedCode {
    uint32_t bits;
    speed_t code;
};

constexpr SpeedCode kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
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

}  // namespace

std::unique_ptr<Transport> transport_for(const std::string& where)
{
    if (is_tcp_address(where))
        return std::make_unique<TcpTransport>();
    return std::make_unique<TerminalTransport>();
}

int TerminalTransport::open(const std::string& path, int& out, WaitPump* /*waiting*/)
{
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
    out = fd;
    return 0;
}

void TerminalTransport::close(int fd)
{
    // Exclusive mode belongs to the terminal, not to this descriptor; give it back so the
    // next open, ours or anyone's, is not refused.
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
}

int TerminalTransport::get_state(int fd, Dcb& dcb) const
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
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

int TerminalTransport::set_state(int fd, const Dcb& dcb)
{
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
    const bool refused = tcsetattr(fd, TCSANOW, &tio) != 0;
    const int refusal = errno;
    if (refused && (refusal != EINVAL || !is_pseudo_terminal(fd)))
        return refusal;

    // The driver may quietly keep another speed; read it back.
    termios back{};
    if (tcgetattr(fd, &back) != 0)
        return errno;
    if (cfgetospeed(&back) != speed)
        return EINVAL;
    constexpr tcflag_t kept = CSTOPB | PARODD | CMSPAR;
    if (refused && ((back.c_cflag & kept) != (tio.c_cflag & kept) || (back.c_iflag & INPCK) != (tio.c_iflag & INPCK)))
        return refusal;
    return 0;
}

// Unix 98 pseudo-terminal slaves have the major numbers 136 to 143.
bool TerminalTransport::is_pseudo_terminal(int fd)
{
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

int TerminalTransport::purge_input(int fd) { return tcflush(fd, TCIFLUSH) == 0 ? 0 : errno; }

ssize_t TerminalTransport::write_some(int fd, const uint8_t* data, size_t n) { return ::write(fd, data, n); }

}  // namespace varnok
