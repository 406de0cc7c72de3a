#include "link/write_within.h"

#include <cerrno>
#include <chrono>

#include "link/sockets.h"

namespace varnok {

int write_within(Transport& transport, int fd, const CommTimeouts& t, const uint8_t* data, size_t n, size_t& written)
{
    using Clock = std::chrono::steady_clock;
    written = 0;
    const uint64_t total_ms = uint64_t(t.WriteTotalTimeoutMultiplier) * n + t.WriteTotalTimeoutConstant;
    const bool bounded = total_ms != 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(total_ms);
    while (written < n) {
        const ssize_t r = transport.write_some(fd, data + written, n - written);
        if (r > 0) {
            written += size_t(r);
            continue;
        }
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return errno;
        int wait = -1;
        if (bounded) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return ETIMEDOUT;
            wait = int(left);
        }
        pollfd p{sockets::native(fd), POLLOUT, 0};
        if (sockets::poll(&p, 1, wait) < 0 && sockets::error() != EINTR)
            return sockets::error();
    }
    return 0;
}

}  // namespace varnok
