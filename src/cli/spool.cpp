#include "cli/spool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "cli/options.h"
#include "settings/file_io.h"

namespace varnok::cli {

namespace fs = std::filesystem;

namespace {

bool write_all(int fd, const std::string& s)
{
    size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

}  // namespace

Spool::Spool(fs::path dir, uint64_t limit_bytes) : dir_(std::move(dir)), limit_(limit_bytes)
{
    // The folder may stand where others write (/tmp when there is no home): the links on its way
    // are followed as the settings file's are, and the files in it never through a link.
    std::string reason;
    if (!file_io::make_folder(dir_.string(), reason))
        throw std::runtime_error("очередь " + dir_.string() + " не создаётся: " + reason);
    std::error_code ec;
    lock_fd_ = ::open((dir_ / "lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock_fd_ < 0)
        throw std::runtime_error("очередь " + dir_.string() + " не открывается: " + std::strerror(errno));
    if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(lock_fd_);
        throw std::runtime_error("очередь " + dir_.string() + " занята другим запуском");
    }
    std::vector<std::pair<uint64_t, uint64_t>> found;
    for (const fs::directory_entry& e : fs::directory_iterator(dir_, ec)) {
        const std::string name = e.path().filename().string();
        if (e.path().extension() == ".tmp") {
            fs::remove(e.path(), ec);  // a write cut short
            continue;
        }
        if (e.path().extension() != ".json")
            continue;
        char* end = nullptr;
        const unsigned long long seq = std::strtoull(name.c_str(), &end, 10);
        if (seq == 0 || std::string(end) != ".json")
            continue;
        found.emplace_back(seq, e.file_size(ec));
    }
    std::sort(found.begin(), found.end());
    for (const auto& [seq, size] : found) {
        entries_.emplace_back(seq, size);
        bytes_ += size;
        next_ = seq + 1;
    }
}

Spool::~Spool()
{
    if (lock_fd_ >= 0)
        ::close(lock_fd_);
}

fs::path Spool::file(uint64_t seq) const
{
    char name[32];
    std::snprintf(name, sizeof name, "%020llu.json", static_cast<unsigned long long>(seq));
    return dir_ / name;
}

size_t Spool::push(const std::string& message)
{
    std::lock_guard lock(mutex_);
    const uint64_t seq = next_++;
    const fs::path path = file(seq);
    const fs::path tmp = path.string() + ".tmp";
    // Written aside and renamed, so that a run cut short leaves no half message behind.
    ::unlink(tmp.c_str());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    const bool ok = fd >= 0 && write_all(fd, message);
    if (fd >= 0)
        ::close(fd);
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        ::unlink(tmp.c_str());
        throw std::runtime_error("очередь " + dir_.string() + ": показание не записано: " + why);
    }
    entries_.emplace_back(seq, message.size());
    bytes_ += message.size();
    size_t dropped = 0;
    while (bytes_ > limit_ && entries_.size() > 1) {
        std::error_code ec;
        fs::remove(file(entries_.front().first), ec);
        bytes_ -= entries_.front().second;
        entries_.pop_front();
        ++dropped;
    }
    return dropped;
}

std::optional<Spool::Entry> Spool::front()
{
    for (;;) {
        uint64_t seq = 0;
        {
            std::lock_guard lock(mutex_);
            if (entries_.empty())
                return std::nullopt;
            seq = entries_.front().first;
        }
        // The file is not changed once named; a drop may remove it meanwhile, and a file gone
        // or emptied by hand is passed over rather than sent empty.
        std::string text;
        if (const int fd = ::open(file(seq).c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
            char buf[4096];
            for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
                text.append(buf, size_t(n));
            ::close(fd);
        }
        if (!text.empty())
            return Entry{seq, std::move(text)};
        pop(seq);
    }
}

void Spool::pop(uint64_t seq)
{
    std::lock_guard lock(mutex_);
    if (entries_.empty() || entries_.front().first != seq)
        return;
    std::error_code ec;
    fs::remove(file(seq), ec);
    bytes_ -= entries_.front().second;
    entries_.pop_front();
}

size_t Spool::size() const
{
    std::lock_guard lock(mutex_);
    return entries_.size();
}

uint64_t Spool::bytes() const
{
    std::lock_guard lock(mutex_);
    return bytes_;
}

fs::path state_dir()
{
    if (const char* x = std::getenv("XDG_STATE_HOME"); x && *x == '/')
        return fs::path(x) / "varnok";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local" / "state" / "varnok";
}

}  // namespace varnok::cli
