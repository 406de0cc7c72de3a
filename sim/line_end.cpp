#include "sim/line_end.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace varnok::sim {

namespace {

struct Speed {
    uint32_t baud;
    speed_t code;
};
constexpr Speed kSpeeds[] = {{4800, B4800},     {9600, B9600}, {19200, B19200}, {38400, B38400},  {57600, B57600},
                             {115200, B115200}, {1200, B1200}, {2400, B2400},   {230400, B230400}};

speed_t speed_code(uint32_t baud)
{
    for (const auto& s : kSpeeds)
        if (s.baud == baud)
            return s.code;
    return B9600;
}

uint32_t baud_of(speed_t code)
{
    for (const auto& s : kSpeeds)
        if (s.code == code)
            return s.baud;
    return 0;
}

void set_line_bits(termios& t, const LineSettings& line)
{
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CRTSCTS | PARENB | PARODD | CSTOPB);
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    if (line.parity) {
        t.c_cflag |= PARENB | (line.parity == 1 ? PARODD : 0);
        t.c_iflag |= INPCK | IGNPAR;  // a character with a parity error is dropped
    }
    if (line.stop_bits == 2)
        t.c_cflag |= CSTOPB;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed_code(line.baud()));
    cfsetospeed(&t, speed_code(line.baud()));
}

std::string os_error(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

std::string TerminalLine::text() const
{
    return std::to_string(baud) + " bit/s 8" + parity_letter(parity) + std::to_string(stop_bits);
}

Terminal::~Terminal() { close(); }

void Terminal::close()
{
    if (listener_ >= 0)
        ::close(listener_);
    if (keeper_ >= 0)
        ::close(keeper_);
    if (fd_ >= 0)
        ::close(fd_);
    listener_ = keeper_ = fd_ = -1;
}

std::string Terminal::open_pty(const LineSettings& initial)
{
    close();
    kind_ = Kind::pty;
    fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return os_error("posix_openpt");
    if (grantpt(fd_) != 0 || unlockpt(fd_) != 0)
        return os_error("unlockpt");
    const char* name = ptsname(fd_);
    if (!name)
        return os_error("ptsname");
    path_ = name;
    keeper_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (keeper_ < 0)
        return os_error("open " + path_);
    // The terminal starts raw, at the device's own line.
    termios t{};
    if (tcgetattr(keeper_, &t) != 0)
        return os_error("tcgetattr");
    set_line_bits(t, initial);
    if (tcsetattr(keeper_, TCSANOW, &t) != 0)
        return os_error("tcsetattr");
    return {};
}

std::string Terminal::open_device(const std::string& path, const LineSettings& line)
{
    close();
    kind_ = Kind::device;
    path_ = path;
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return os_error("open " + path);
    if (!isatty(fd_))
        return path + " is not a terminal";
    return configure(line);
}

std::string Terminal::open_tcp(uint16_t port, const LineSettings& line)
{
    close();
    kind_ = Kind::tcp;
    configured_ = line;
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        return os_error("socket");
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    socklen_t len = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return os_error("listen on 127.0.0.1:" + std::to_string(port));
    path_ = "tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    return {};
}

void Terminal::open_socket(int fd)
{
    close();
    kind_ = Kind::socket;
    fd_ = fd;
    path_ = "socket";
}

int Terminal::accept_master()
{
    // Every connection waiting is taken, so that each is counted when it comes; the last one
    // stays.
    int taken = 0;
    for (;;) {
        const int c = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (c < 0)
            return taken;
        drop_master();
        const int on = 1;
        ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        fd_ = c;
        ++taken;
    }
}

void Terminal::drop_master()
{
    if (kind_ != Kind::tcp || fd_ < 0)
        return;
    ::close(fd_);
    fd_ = -1;
}

std::string Terminal::configure(const LineSettings& line)
{
    if (kind_ == Kind::tcp)
        configured_ = line;
    if (kind_ != Kind::device)
        return {};
    termios t{};
    if (tcgetattr(fd_, &t) != 0)
        return os_error("tcgetattr " + path_);
    set_line_bits(t, line);
    if (tcsetattr(fd_, TCSADRAIN, &t) != 0)
        return os_error("tcsetattr " + path_);
    tcflush(fd_, TCIFLUSH);
    configured_ = line;
    return {};
}

bool Terminal::line_seen(TerminalLine& line) const
{
    if (kind_ == Kind::socket) {
        line = master_line_;
        return true;
    }
    if (kind_ != Kind::pty) {
        line = {configured_.baud(), configured_.parity, configured_.stop_bits};
        return true;
    }
    termios t{};
    if (tcgetattr(fd_, &t) != 0)
        return false;
    line.baud = baud_of(cfgetospeed(&t));
    line.stop_bits = (t.c_cflag & CSTOPB) ? 2 : 1;
    // The kernel clears PARENB of a pseudo-terminal but keeps PARODD and CMSPAR, and the
    // input check INPCK that a master turns on with parity: that tells even from none.
    if (t.c_cflag & CMSPAR)
        line.parity = (t.c_cflag & PARODD) ? TerminalLine::kMark : TerminalLine::kSpace;
    else if (t.c_cflag & PARODD)
        line.parity = 1;
    else
        line.parity = (t.c_iflag & INPCK) ? 2 : 0;
    return true;
}

}  // namespace varnok::sim
