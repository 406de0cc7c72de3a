#include "settings/log_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/file_io.h"

namespace varnok::log_file {

namespace {

std::string os_reason(int err) { return std::strerror(err); }

}  // namespace

std::string state_folder()
{
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/')
        return std::string(state) + "/varnok";
    return file_io::home_folder() + "/.local/state/varnok";
}

std::vector<std::string> file_names(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return names;
    while (const dirent* e = ::readdir(d)) {
        struct stat st;
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            names.emplace_back(e->d_name);
    }
    ::closedir(d);
    return names;
}

void remove(const std::string& dir, const std::string& name) { (void)::unlink((dir + "/" + name).c_str()); }

bool Appender::open(const std::string& path, std::string& reason)
{
    close();
    const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;
    bool created = true;
    int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(path.c_str(), flags);
    }
    if (fd < 0) {
        // A link (O_NOFOLLOW) or a FIFO that nobody reads (O_NONBLOCK).
        reason = errno == ELOOP   ? "это ссылка, а не обычный файл"
                 : errno == ENXIO ? "это именованный канал (FIFO), а не обычный файл"
                                  : os_reason(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0)
        reason = os_reason(errno);
    else
        reason = file_io::unfit_target(st.st_mode, st.st_uid);
    if (!reason.empty()) {
        ::close(fd);
        return false;
    }
    if (created)
        (void)::fchmod(fd, 0600);
    (void)::fcntl(fd, F_SETFL, O_APPEND);
    h_ = fd;
    return true;
}

bool Appender::is_open() const { return h_ >= 0; }

bool Appender::append(const std::string& data, std::string& reason)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(int(h_), data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            reason = os_reason(n == 0 ? EIO : errno);
            return false;
        }
        done += size_t(n);
    }
    return true;
}

void Appender::close()
{
    if (h_ >= 0)
        ::close(int(h_));
    h_ = -1;
}

}  // namespace varnok::log_file
