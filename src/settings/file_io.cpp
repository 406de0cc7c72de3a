#include "settings/file_io.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnok::file_io {
namespace {

std::string os_reason(int err) { return std::strerror(err); }

Stamp stamp_from(const struct stat& st)
{
    Stamp s;
    s.present = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtime_ns = int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return s;
}

std::string parent_of(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// mkdir -p; new folders are private to the user, as configuration folders should be.
bool make_dirs(const std::string& dir, std::string& reason)
{
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return true;
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos != dir.size() && dir[pos] != '/')
            continue;
        const std::string part = dir.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            reason = "папка " + part + " не создана: " + os_reason(errno);
            return false;
        }
    }
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        reason = dir + " не является папкой";
        return false;
    }
    return true;
}

bool write_all(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

// The temporary file a writer uses for `base` in its folder: ".<base>.<pid>-<n>.tmp".
std::string temp_prefix(const std::string& base) { return "." + base + "."; }

// Removes the temporary files that writers killed before their rename left behind: those
// whose process is gone.
void remove_stale_temps(const std::string& dir, const std::string& base)
{
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    const std::string prefix = temp_prefix(base);
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - 4, 4, ".tmp") != 0)
            continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (pid <= 0 || *end != '-' || pid == ::getpid())
            continue;
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            ::unlinkat(::dirfd(d), name.c_str(), 0);
    }
    ::closedir(d);
}

// The file a write to `path` replaces: the end of its chain of links, or `path` itself when
// it is no link. A link whose target does not exist yet names the file to create (a relative
// target counts from the link's folder), so that the write keeps the link.
bool write_target(const std::string& path, std::string& target, std::string& reason)
{
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        target = real;
        std::free(real);
        return true;
    }
    target = path;
    for (int hops = 0;; ++hops) {
        struct stat st;
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return true;
        if (hops == 40) {
            reason = os_reason(ELOOP);
            return false;
        }
        std::string next(size_t(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlink(target.c_str(), next.data(), next.size());
        if (n < 0 || size_t(n) >= next.size()) {
            reason = n < 0 ? os_reason(errno) : "ссылка " + target + " изменилась при чтении";
            return false;
        }
        next.resize(size_t(n));
        target = next.starts_with('/') ? next : parent_of(target) + "/" + next;
    }
}

}  // namespace

std::string default_settings_path()
{
    // A relative XDG_CONFIG_HOME is invalid and ignored, as for every other XDG program.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/varnok.ini";
    std::string home;
    if (const char* h = std::getenv("HOME"); h && *h)
        home = h;
    else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        home = pw->pw_dir;
    else
        home = ".";
    return home + "/.config/varnok.ini";
}

Stamp stamp_of(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return {};
    return stamp_from(st);
}

bool read_whole(const std::string& path, size_t limit, std::string& data, Stamp& stamp, std::string& reason)
{
    // O_NONBLOCK: a FIFO put in the file's place must not hang the start-up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        reason = os_reason(errno);
        return false;
    }
    struct stat st;
    bool ok = false;
    if (::fstat(fd, &st) != 0)
        reason = os_reason(errno);
    else if (S_ISDIR(st.st_mode))
        reason = "на месте файла папка";
    else if (!S_ISREG(st.st_mode))
        reason = "это не обычный файл";
    else if (uint64_t(st.st_size) > limit)
        reason = "файл длиннее " + std::to_string(limit) + " байт";
    else
        ok = true;

    data.clear();
    char chunk[4096];
    while (ok) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            reason = os_reason(errno);
            ok = false;
        } else if (n == 0) {
            break;
        } else if (data.size() + size_t(n) > limit) {  // grew while being read
            reason = "файл длиннее " + std::to_string(limit) + " байт";
            ok = false;
        } else {
            data.append(chunk, size_t(n));
        }
    }
    if (ok)
        stamp = stamp_from(st);
    ::close(fd);
    return ok;
}

bool replace(const std::string& path, const std::string& data, Stamp& stamp, std::string& reason)
{
    std::string target;
    if (!write_target(path, target, reason))
        return false;
    const std::string dir = parent_of(target);
    if (!make_dirs(dir, reason))
        return false;

    const std::string base = target.substr(target.rfind('/') + 1);
    remove_stale_temps(dir, base);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = dir + "/" + temp_prefix(base) + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        reason = os_reason(errno);
        return false;
    }

    // The new file takes over the permissions and owner of the one it replaces.
    struct stat old;
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        (void)::fchmod(fd, old.st_mode & 07777);
        (void)!::fchown(fd, old.st_uid, old.st_gid);
    }

    struct stat st;
    bool ok = write_all(fd, data) && ::fsync(fd) == 0 && ::fstat(fd, &st) == 0;
    if (!ok)
        reason = os_reason(errno);
    if (::close(fd) != 0 && ok) {
        reason = os_reason(errno);
        ok = false;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        reason = os_reason(errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }

    // Make the rename itself durable; the content is already safe, so a failure here is not fatal.
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
    }
    stamp = stamp_from(st);
    return true;
}

}  // namespace varnok::file_io
