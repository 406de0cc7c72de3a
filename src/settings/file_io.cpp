#include "settings/file_io.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <deque>

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
void remove_stale_temps(int dir, const std::string& base)
{
    const int fd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* d = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!d) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
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

// Where a write lands: the folder that holds the file, open, and the file's name in it.
struct Place {
    int dir = -1;
    std::string name;
    bool kernel_link = false;  // the name is a link of the kernel's own (/proc/self/fd/N)
    Place() = default;
    Place(const Place&) = delete;
    Place& operator=(const Place&) = delete;
    ~Place()
    {
        if (dir >= 0)
            ::close(dir);
    }
    void move_to(int next)
    {
        if (dir >= 0)
            ::close(dir);
        dir = next;
    }
};

void append_parts(const std::string& path, std::deque<std::string>& parts)
{
    std::deque<std::string> more;
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start && path.compare(start, end - start, ".") != 0)
            more.emplace_back(path, start, end - start);
        start = end + 1;
    }
    parts.insert(parts.begin(), more.begin(), more.end());
}

std::string joined(const std::string& dir, const std::string& name)
{
    return dir.empty() ? name : dir == "/" ? "/" + name : dir + "/" + name;
}

// The rule of the kernel's protected_symlinks: a link in a sticky world-writable folder is
// followed only when it belongs to the follower or to the folder's owner, so that a link
// another user planted in /tmp cannot turn a write there into one anywhere else.
bool may_follow(int dir, const struct stat& link)
{
    struct stat d;
    if (::fstat(dir, &d) != 0)
        return false;
    const bool shared = (d.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
    return !shared || link.st_uid == ::geteuid() || link.st_uid == d.st_uid;
}

bool on_proc(int dir)
{
    struct statfs fs;
    return ::fstatfs(dir, &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

// A walk in progress: the folder reached, held open in `place`, and the names still to walk.
struct Walk {
    Place& place;
    std::deque<std::string> parts;  // the names still to walk, the next first
    std::string at;                 // the folder reached, as text for messages
    int links = 0;                  // links followed so far
};

enum class LinkStep { kFailed, kOn, kReached };

// The link `name` (its lstat `st`) met in the folder reached: checked with may_follow(), then
// followed by its text, whose names go before the rest of the walk. kReached: the walk ends at
// it, a kernel's own link being the last name.
LinkStep follow_link(Walk& w, const std::string& name, const struct stat& st, std::string& reason)
{
    Place& place = w.place;
    const std::string here = joined(w.at, name);
    if (++w.links > 40) {
        reason = os_reason(ELOOP);
        return LinkStep::kFailed;
    }
    if (!may_follow(place.dir, st)) {
        reason = "ссылка " + here + " в общей папке чужая (не ваша и не владельца папки), по ней не пишем";
        errno = EPERM;
        return LinkStep::kFailed;
    }
    // The kernel's own links lead to what a process has open, by no path to walk.
    if (on_proc(place.dir)) {
        if (w.parts.empty()) {
            place.name = name;
            place.kernel_link = true;
            return LinkStep::kReached;
        }
        place.move_to(::openat(place.dir, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        w.at = here;
        return LinkStep::kOn;
    }
    std::string target(size_t(st.st_size > 0 ? st.st_size : PATH_MAX) + 1, '\0');
    const ssize_t n = ::readlinkat(place.dir, name.c_str(), target.data(), target.size());
    if (n <= 0 || size_t(n) >= target.size()) {
        reason = n < 0 ? os_reason(errno) : "ссылка " + here + " изменилась при чтении";
        return LinkStep::kFailed;
    }
    target.resize(size_t(n));
    append_parts(target, w.parts);
    if (target[0] == '/') {
        place.move_to(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        w.at = "/";
    }
    return LinkStep::kOn;  // a link to "/" leaves no names: the walk ends on a folder
}

// Walks `path` one name at a time from a folder held open, as the kernel does, checking every
// link it meets with may_follow() and following the rest by their text, so that no link it has
// not checked is followed and nothing can be swapped in behind the check. The end of the walk
// is the file a write to `path` reaches: the end of its chain of links, or a name to create (a
// link whose target is not there yet names the file to create, counted from the link's folder,
// so that the write keeps the link). `make_folders`: missing folders on the way are created
// (mode 0700, private as configuration folders should be).
bool resolve(const std::string& path, bool make_folders, Place& place, std::string& reason)
{
    if (path.empty()) {
        reason = os_reason(ENOENT);
        return false;
    }
    Walk w{place, {}, path[0] == '/' ? "/" : ""};
    append_parts(path, w.parts);
    place.move_to(::open(w.at.empty() ? "." : "/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    while (place.dir >= 0 && !w.parts.empty()) {
        const std::string name = std::move(w.parts.front());
        w.parts.pop_front();
        struct stat st;
        const bool exists = ::fstatat(place.dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (!exists && errno != ENOENT) {
            reason = os_reason(errno);
            return false;
        }
        if (exists && S_ISLNK(st.st_mode)) {
            const LinkStep step = follow_link(w, name, st, reason);
            if (step == LinkStep::kOn)
                continue;
            return step == LinkStep::kReached;
        }
        if (w.parts.empty() && name != "..") {
            place.name = name;
            return true;
        }
        if (w.parts.empty())
            break;
        const std::string here = joined(w.at, name);
        if (!exists && make_folders && ::mkdirat(place.dir, name.c_str(), 0700) != 0 && errno != EEXIST) {
            reason = "папка " + here + " не создана: " + os_reason(errno);
            return false;
        }
        const int next = ::openat(place.dir, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            reason = errno == ENOTDIR ? here + " не является папкой" : os_reason(errno);
            return false;
        }
        place.move_to(next);
        w.at = here;
    }
    if (place.dir < 0) {
        reason = os_reason(errno);
        return false;
    }
    reason = path + " не является именем файла";  // "/", ".." and the like
    errno = EINVAL;
    return false;
}

std::string kind_of(mode_t mode)
{
    if (S_ISDIR(mode))
        return "папка";
    if (S_ISCHR(mode))
        return "символьное устройство";
    if (S_ISBLK(mode))
        return "блочное устройство";
    if (S_ISFIFO(mode))
        return "именованный канал (FIFO)";
    if (S_ISSOCK(mode))
        return "сокет";
    if (S_ISLNK(mode))
        return "ссылка";
    return "не файл";
}

std::string owner_and_mode(unsigned mode, unsigned uid)
{
    const passwd* pw = ::getpwuid(uid_t(uid));
    char m[8];
    std::snprintf(m, sizeof m, "%04o", mode & 07777);
    return "владелец " +
           (pw && pw->pw_name ? std::string(pw->pw_name) + " (uid " + std::to_string(uid) + ")"
                              : "uid " + std::to_string(uid)) +
           ", права " + m;
}

// What is at the end of the walk: nothing (true, `present` false), something a writer may use
// (true), or something it may not (false with the reason). A pipe this process has open, reached
// through the kernel's own link, is taken when `own_pipe`.
bool judge(const Place& place, bool own_pipe, bool& present, std::string& reason)
{
    struct stat st;
    present = ::fstatat(place.dir, place.name.c_str(), &st, place.kernel_link ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
    if (!present) {
        if (errno == ENOENT)
            return true;
        reason = os_reason(errno);
        return false;
    }
    if (own_pipe && place.kernel_link && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
        return true;
    reason = unfit_target(st.st_mode, st.st_uid);
    return reason.empty();
}

}  // namespace

std::string unfit_target(unsigned mode, unsigned uid)
{
    if (!S_ISREG(mode))
        return "это " + kind_of(mode) + ", а не обычный файл";
    // Another's file, or one anyone may write to, may hold what someone planted there.
    if (uid != ::geteuid() && uid != 0)
        return "файл принадлежит другому пользователю: " + owner_and_mode(mode, uid);
    if (mode & S_IWOTH)
        return "в файл могут писать все: " + owner_and_mode(mode, uid);
    return "";
}

bool check_target(const std::string& path, std::string& reason)
{
    Place place;
    bool present = false;
    if (!resolve(path, false, place, reason))
        return errno == ENOENT;  // a folder still to make: nothing there yet
    return judge(place, true, present, reason);
}

std::string home_folder()
{
    if (const char* h = std::getenv("HOME"); h && h[0] == '/')
        return h;
    const passwd* pw = ::getpwuid(::getuid());
    return pw && pw->pw_dir ? pw->pw_dir : "";
}

std::string default_settings_path()
{
    // A relative XDG_CONFIG_HOME is invalid and ignored, as for every other XDG program.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/varnok.ini";
    const std::string home = home_folder();
    return (home.empty() ? std::string(".") : home) + "/.config/varnok.ini";
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

bool read_ends(const std::string& path, size_t count, std::string& head, std::string& tail, std::string& reason)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        reason = os_reason(errno);
        return false;
    }
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok)
        reason = os_reason(errno);
    head.clear();
    tail.clear();
    const auto read_at = [&](off_t at, size_t n, std::string& out) {
        out.assign(n, '\0');
        size_t got = 0;
        while (ok && got < n) {
            const ssize_t r = ::pread(fd, out.data() + got, n - got, at + off_t(got));
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0) {
                reason = os_reason(errno);
                ok = false;
            } else if (r == 0) {
                break;  // cut short meanwhile
            } else {
                got += size_t(r);
            }
        }
        out.resize(got);
    };
    if (ok && S_ISREG(st.st_mode)) {
        const size_t n = std::min(count, size_t(st.st_size));
        read_at(0, n, head);
        read_at(st.st_size - off_t(n), n, tail);
    }
    ::close(fd);
    return ok;
}

bool replace(const std::string& path, const std::string& data, Stamp& stamp, std::string& reason)
{
    Place place;
    if (!resolve(path, true, place, reason))
        return false;
    bool present = false;
    if (!judge(place, false, present, reason))
        return false;
    const int dir = place.dir;
    const std::string& base = place.name;
    remove_stale_temps(dir, base);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = temp_prefix(base) + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".tmp";
        fd = ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, 0644);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        reason = os_reason(errno);
        return false;
    }

    // The new file takes over the permissions of the one it replaces; its owner is the writer.
    struct stat old;
    if (present && ::fstatat(dir, base.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode))
        (void)::fchmod(fd, old.st_mode & 07777);

    struct stat st;
    bool ok = write_all(fd, data) && ::fsync(fd) == 0 && ::fstat(fd, &st) == 0;
    if (!ok)
        reason = os_reason(errno);
    if (::close(fd) != 0 && ok) {
        reason = os_reason(errno);
        ok = false;
    }
    // A rename replaces the name itself, whatever was put there meanwhile, and never follows it.
    if (ok && ::renameat(dir, temp.c_str(), dir, base.c_str()) != 0) {
        reason = os_reason(errno);
        ok = false;
    }
    if (!ok) {
        ::unlinkat(dir, temp.c_str(), 0);
        return false;
    }

    // Make the rename itself durable; the content is already safe, so a failure here is not fatal.
    const int dfd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
    }
    stamp = stamp_from(st);
    return true;
}

std::FILE* open_for_writing(const std::string& path, bool append, std::string& reason)
{
    Place place;
    if (!resolve(path, false, place, reason))
        return nullptr;
    bool present = false;
    if (!judge(place, true, present, reason))
        return nullptr;
    // O_NOFOLLOW: a link put at the name since the walk is not followed unchecked. O_NONBLOCK: a
    // FIFO put there meanwhile does not hold the open; what was opened is judged again, and only
    // then emptied.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (append ? O_APPEND : 0) |
                      (place.kernel_link ? 0 : O_NOFOLLOW);
    const int fd = ::openat(place.dir, place.name.c_str(), flags, 0644);
    if (fd < 0) {
        reason = errno == ENXIO ? "канал никто не читает" : os_reason(errno);
        return nullptr;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0)
        reason = os_reason(errno);
    else if (!(place.kernel_link && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))))
        reason = unfit_target(st.st_mode, st.st_uid);
    if (reason.empty() && !append && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0)
        reason = os_reason(errno);
    if (reason.empty())
        (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = reason.empty() ? ::fdopen(fd, append ? "a" : "w") : nullptr;
    if (!file) {
        if (reason.empty())
            reason = os_reason(errno);
        ::close(fd);
    }
    return file;
}

bool append_record(std::FILE* file, const std::string& data, std::string& reason)
{
    if (std::fflush(file) != 0) {
        reason = os_reason(errno);
        return false;
    }
    const int fd = ::fileno(file);
    struct stat st;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // Where the record starts: the end, when the file appends; else where it is written.
    const off_t at = !regular ? -1 : (::fcntl(fd, F_GETFL) & O_APPEND) ? st.st_size : ::lseek(fd, 0, SEEK_CUR);
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {  // an output left non-blocking by whoever opened it
            pollfd p{fd, POLLOUT, 0};
            (void)::poll(&p, 1, 1000);
            continue;
        }
        reason = os_reason(n == 0 ? EIO : errno);
        // What the record added past the old end goes; the place to write is where it began.
        if (at >= 0 && done > 0 && ::ftruncate(fd, std::max(at, st.st_size)) == 0)
            (void)::lseek(fd, at, SEEK_SET);
        return false;
    }
    return true;
}

bool sync(std::FILE* file, std::string& reason)
{
    if (std::fflush(file) != 0 || (::fsync(::fileno(file)) != 0 && errno != EINVAL && errno != EROFS)) {
        reason = os_reason(errno);
        return false;
    }
    return true;
}

bool make_folder(const std::string& dir, std::string& reason)
{
    Place place;
    if (!resolve(dir, true, place, reason))
        return false;
    struct stat st;
    if (::mkdirat(place.dir, place.name.c_str(), 0700) != 0 && errno != EEXIST) {
        reason = "папка " + dir + " не создана: " + os_reason(errno);
        return false;
    }
    if (::fstatat(place.dir, place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) {
        reason = dir + " не является папкой";
        return false;
    }
    return true;
}

}  // namespace varnok::file_io
