#include "support/pty.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace varnok::test {

Pty::Pty()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    slave_ = ptsname(master_);
    keeper_ = ::open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    tcgetattr(keeper_, &tio);
    cfmakeraw(&tio);
    tcsetattr(keeper_, TCSANOW, &tio);
}

Pty::~Pty()
{
    join();
    hang_up();
}

void Pty::hang_up()
{
    if (keeper_ >= 0)
        ::close(keeper_);
    if (master_ >= 0)
        ::close(master_);
    keeper_ = master_ = -1;
}

void Pty::discard_input() { tcflush(keeper_, TCIFLUSH); }

void Pty::feed(const Bytes& bytes)
{
    if (!bytes.empty() && ::write(master_, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
        throw std::runtime_error("feed failed");
}

void Pty::feed_after(std::chrono::milliseconds delay, Bytes bytes)
{
    feeders_.emplace_back([this, delay, bytes = std::move(bytes)] {
        std::this_thread::sleep_for(delay);
        feed(bytes);
    });
}

void Pty::answer(size_t request_size, Bytes answer)
{
    join();
    feeders_.emplace_back([this, request_size, answer = std::move(answer)] {
        const Bytes request = take(request_size, std::chrono::seconds(10));
        heard_.insert(heard_.end(), request.begin(), request.end());
        if (request.size() == request_size)
            feed(answer);
    });
}

void Pty::join()
{
    for (auto& t : feeders_)
        t.join();
    feeders_.clear();
}

Bytes Pty::take(size_t want, std::chrono::milliseconds timeout)
{
    Bytes out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < want) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            break;
        uint8_t chunk[256];
        const ssize_t r = ::read(master_, chunk, sizeof chunk);
        if (r <= 0)
            break;
        out.insert(out.end(), chunk, chunk + r);
    }
    return out;
}

}  // namespace varnok::test
