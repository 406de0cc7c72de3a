// The spool's folder on POSIX systems: made 0700, checked with every folder above it, locked
// with flock(), and every file reached through the folder's descriptor.
#include "cli/spool_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "settings/file_io.h"

namespace varnok::cli::spool_files {

namespace fs = std::filesystem;

struct Folder {
    int dir_fd;
    int lock_fd;
};

void FolderClose::operator()(Folder* f) const
{
    ::close(f->lock_fd);
    ::close(f->dir_fd);
    delete f;
}

namespace {

bool ends_with(const std::string& s, const char* tail)
{
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// What a file takes on the disk: its blocks, or its length where the file system counts none.
uint64_t disk_use(const struct stat& st)
{
    return std::max<uint64_t>(uint64_t(st.st_blocks) * 512, uint64_t(st.st_size));
}

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

std::string mode_text(mode_t mode)
{
    char s[8];
    std::snprintf(s, sizeof s, "%04o", unsigned(mode & 07777));
    return s;
}

// Why a folder on the way to the spool would let someone else swap what is below it: "" when it
// is this user's or the system's, and open to others' writes only where sticky (as /tmp).
std::string unsafe_folder(const struct stat& st)
{
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return "принадлежит другому пользователю (uid " + std::to_string(st.st_uid) + ")";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !(st.st_mode & S_ISVTX))
        return "открыта для записи другим (права " + mode_text(st.st_mode) + ")";
    return "";
}

void check_above(int fd, fs::path at, const fs::path& dir);

// The folder on the way to the spool `dir` that is there already, `at`, held by `fd`, and
// those above it, before anything is made in it.
void check_existing(int fd, const fs::path& at, const fs::path& dir)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throw std::runtime_error("очередь " + dir.string() + " не проверяется: " + std::strerror(errno));
    if (const std::string problem = unsafe_folder(st); !problem.empty())
        throw std::runtime_error("папка " + at.string() + " " + problem + ": очередь " + dir.string() +
                                 " в ней не ведём");
    check_above(fd, at, dir);
}

// The spool folder is the user's alone, and so is, or the system's, every folder above it; one
// that others may write in is safe only with the sticky bit (as /tmp), where no one renames or
// removes what is not theirs. Otherwise someone else could swap the folder or plant files in it.
void check_folders(int fd, const fs::path& dir)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throw std::runtime_error("очередь " + dir.string() + " не проверяется: " + std::strerror(errno));
    if (st.st_uid != ::geteuid())
        throw std::runtime_error("папка очереди " + dir.string() + " принадлежит другому пользователю (uid " +
                                 std::to_string(st.st_uid) + "): очередь в ней не ведём");
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        throw std::runtime_error("в папку очереди " + dir.string() + " могут писать другие (права " +
                                 mode_text(st.st_mode) + "): очередь в ней не ведём");
    check_above(fd, dir, dir);
}

// Every folder above the one `fd` holds (the folder `at` on the way to the spool `dir`) is this
// user's or the system's, and others may write in it only where it is sticky.
void check_above(int fd, fs::path at, const fs::path& dir)
{
    int here = ::openat(fd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (;;) {
        const int up = ::openat(here, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        struct stat mine, above;
        const bool ok = up >= 0 && ::fstat(here, &mine) == 0 && ::fstat(up, &above) == 0;
        ::close(here);
        if (!ok) {
            const std::string why = std::strerror(errno);
            if (up >= 0)
                ::close(up);
            throw std::runtime_error("папки над очередью " + dir.string() + " не проверяются: " + why);
        }
        if (mine.st_dev == above.st_dev && mine.st_ino == above.st_ino) {
            ::close(up);
            return;  // the root
        }
        at = at.has_relative_path() ? at.parent_path() : at;
        const std::string name = at.empty() ? "над " + dir.string() : at.string();
        if (const std::string problem = unsafe_folder(above); !problem.empty()) {
            ::close(up);
            throw std::runtime_error("папка " + name + " " + problem + ": очередь " + dir.string() + " в ней не ведём");
        }
        here = up;
    }
}

}  // namespace

FolderPtr open(const fs::path& dir)
{
    // The links on the way are followed as the settings file's are; the folder reached is then
    // checked, and every name in it is used through it, never through a link. Folders still to
    // make are made only in one that passes the same check: nothing is left in another's.
    fs::path there = dir;
    std::error_code missing;
    while (!fs::exists(there, missing) && !missing && there.has_relative_path() && there.parent_path() != there)
        there = there.parent_path();
    if (there != dir && !there.empty()) {
        const int fd = ::open(there.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            try {
                check_existing(fd, there, dir);
            } catch (...) {
                ::close(fd);
                throw;
            }
            ::close(fd);
        }
    }
    std::string reason;
    if (!file_io::make_folder(dir.string(), reason))
        throw std::runtime_error("очередь " + dir.string() + " не создаётся: " + reason);
    const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0)
        throw std::runtime_error("очередь " + dir.string() + " не открывается: " + std::strerror(errno));
    try {
        check_folders(dir_fd, dir);
    } catch (...) {
        ::close(dir_fd);
        throw;
    }
    const int lock_fd = ::openat(dir_fd, "lock", O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    struct stat lock_st;
    if (lock_fd < 0 || ::fstat(lock_fd, &lock_st) != 0 || !S_ISREG(lock_st.st_mode)) {
        const std::string why = lock_fd < 0 ? std::strerror(errno) : "lock не обычный файл";
        if (lock_fd >= 0)
            ::close(lock_fd);
        ::close(dir_fd);
        throw std::runtime_error("очередь " + dir.string() + " не открывается: " + why);
    }
    if (::flock(lock_fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(lock_fd);
        ::close(dir_fd);
        throw std::runtime_error("очередь " + dir.string() + " занята другим запуском");
    }
    return FolderPtr(new Folder{dir_fd, lock_fd});
}

std::vector<Listed> list(Folder& f)
{
    std::vector<Listed> found;
    const int list_fd = ::openat(f.dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (DIR* d = list_fd < 0 ? nullptr : ::fdopendir(list_fd)) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..")
                continue;
            if (ends_with(name, ".tmp")) {
                ::unlinkat(f.dir_fd, name.c_str(), 0);  // a write cut short
                continue;
            }
            struct stat st;
            if (::fstatat(f.dir_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;  // gone meanwhile
            found.push_back({name, S_ISREG(st.st_mode), S_ISREG(st.st_mode) ? disk_use(st) : 0});
        }
        ::closedir(d);
    } else if (list_fd >= 0) {
        ::close(list_fd);
    }
    return found;
}

bool write(Folder& f, const std::string& name, const std::string& data, uint64_t& use, std::string& reason)
{
    const std::string tmp = name + ".tmp";
    ::unlinkat(f.dir_fd, tmp.c_str(), 0);
    const int fd =
        ::openat(f.dir_fd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    struct stat st;
    bool ok = fd >= 0 && write_all(fd, data) && ::fsync(fd) == 0 && ::fstat(fd, &st) == 0;
    int err = errno;
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::renameat(f.dir_fd, tmp.c_str(), f.dir_fd, name.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlinkat(f.dir_fd, tmp.c_str(), 0);
        reason = std::strerror(err);
        return false;
    }
    (void)::fsync(f.dir_fd);  // the message itself is on the disk already
    use = disk_use(st);
    return true;
}

Read read(Folder& f, const std::string& name, size_t limit, std::string& text, std::string& why)
{
    // Opened so that neither a link nor a FIFO put in its place is followed or waited on.
    const int fd = ::openat(f.dir_fd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    struct stat st;
    if (fd < 0 && errno == ENOENT)
        return Read::kGone;
    const std::string too_long = "длиннее " + std::to_string(limit) + " байт";
    if (fd < 0)
        why = errno == ELOOP ? "ссылка" : std::strerror(errno);
    else if (::fstat(fd, &st) != 0)
        why = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        why = "не обычный файл";
    else if (uint64_t(st.st_size) > limit)
        why = too_long;
    char buf[4096];
    while (fd >= 0 && why.empty()) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            why = std::strerror(errno);
        else if (n == 0)
            break;
        else if (text.size() + size_t(n) > limit)
            why = too_long;
        else
            text.append(buf, size_t(n));
    }
    if (fd >= 0)
        ::close(fd);
    return why.empty() ? Read::kOk : Read::kBad;
}

void remove(Folder& f, const std::string& name) { ::unlinkat(f.dir_fd, name.c_str(), 0); }

std::string rename(Folder& f, const std::string& from, const std::string& to)
{
    return ::renameat(f.dir_fd, from.c_str(), f.dir_fd, to.c_str()) == 0 ? "" : std::strerror(errno);
}

fs::path state_dir()
{
    if (const char* x = std::getenv("XDG_STATE_HOME"); x && *x == '/')
        return fs::path(x) / "varnok";
    // The home as the settings file finds it; never a shared folder in its place.
    const std::string home = file_io::home_folder();
    if (home.empty())
        throw std::runtime_error("нет домашней папки для очереди показаний: задайте HOME или XDG_STATE_HOME");
    return fs::path(home) / ".local" / "state" / "varnok";
}

}  // namespace varnok::cli::spool_files

namespace varnok::cli {

std::string path_text(const std::filesystem::path& p) { return p.string(); }

}  // namespace varnok::cli
