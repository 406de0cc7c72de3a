// The files the command line names for the broker, read on POSIX systems: a pipe or a FIFO
// as it comes, with a time limit.
#include "cli/mqtt_files.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "cli/options.h"
#include "cli/session.h"

namespace varnok::cli {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The cause of the failure to open `fd` as a file to read, empty when there is none.
std::string unreadable(int fd, bool& fifo)
{
    struct stat st;
    fifo = false;
    if (::fstat(fd, &st) != 0)
        return std::strerror(errno);
    if (S_ISDIR(st.st_mode))
        return "на месте файла папка";
    if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode))
        return "не файл и не канал";
    fifo = S_ISFIFO(st.st_mode);
    return {};
}

}  // namespace

std::string read_without_waiting(const std::string& path, const std::string& head, const Reading& how)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        throw UsageError(head + std::strerror(errno));
    bool fifo = false;
    std::string why = unreadable(fd, fifo);
    const auto until = Clock::now() + 10s;
    std::string text;
    bool waited = false;
    std::string buf(how.chunk, '\0');
    while (why.empty() && !(how.one_line && text.find_first_of("\r\n") != std::string::npos)) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n > 0) {
            text.append(buf.data(), size_t(n));
            if (text.size() > how.limit)
                why = how.too_long;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            why = std::strerror(errno);
            break;
        }
        // The end of the file, or of the pipe once a writer has come and gone.
        if (n == 0 && (!fifo || !text.empty() || waited))
            break;
        // In slices: Ctrl-C that came just before the wait ends it too.
        if (interrupted()) {
            why = "прервано";
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        const int r = left > 0 ? ::poll(&p, 1, int(std::min<long long>(left, 100))) : 0;
        if (r == 0 && left <= 100)
            why = how.too_late;
        waited = r > 0;
    }
    ::close(fd);
    if (!why.empty())
        throw UsageError(head + why);
    return text;
}

std::string held_copy(const std::string& text, const std::string& head)
{
    // The TLS library opens the file by its name, on each connection: it gets a copy in memory
    // that stays open for the whole run, so that a pipe read once still serves every reconnect.
    const int copy = ::memfd_create("varnok-cafile", MFD_CLOEXEC);
    size_t done = 0;
    while (copy >= 0 && done < text.size()) {
        const ssize_t n = ::write(copy, text.data() + done, text.size() - done);
        if (n <= 0)
            throw UsageError(head + std::strerror(errno));
        done += size_t(n);
    }
    if (copy < 0)
        throw UsageError(head + std::strerror(errno));
    return "/proc/self/fd/" + std::to_string(copy);
}

}  // namespace varnok::cli
