#include "support/raw_line.h"

#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace varnok::test {

RawLine::RawLine(const std::string& path, speed_t speed)
{
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        throw std::runtime_error("cannot open " + path);
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(fd_, TCSANOW, &t);
    tcflush(fd_, TCIOFLUSH);
}

RawLine::~RawLine() { ::close(fd_); }

RawLine::Clock::time_point RawLine::send(const Bytes& b)
{
    const auto at = Clock::now();
    if (::write(fd_, b.data(), b.size()) != ssize_t(b.size()))
        throw std::runtime_error("short write");
    return at;
}

std::vector<std::pair<uint8_t, RawLine::Clock::time_point>> RawLine::receive(size_t want,
                                                                             std::chrono::milliseconds limit)
{
    std::vector<std::pair<uint8_t, Clock::time_point>> got;
    const auto deadline = Clock::now() + limit;
    while (got.size() < want) {
        const int left = int(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count());
        pollfd p{fd_, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, left) <= 0)
            break;
        uint8_t buf[64];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        const auto at = Clock::now();
        for (ssize_t i = 0; i < n; ++i)
            got.emplace_back(buf[i], at);
    }
    return got;
}

}  // namespace varnok::test
