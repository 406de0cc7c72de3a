#include "cli/spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "settings/file_io.h"
#include "settings/utf8.h"

namespace varnok::cli {

namespace fs = std::filesystem;

namespace {

// Names run from 00000000000000000001.json; ten nines of headroom below 2^64 keep the next
// number from ever wrapping.
constexpr uint64_t kLastSeq = 9'999'999'999'999'999'999ull;
// A reading is a few hundred bytes: a longer file is none of ours.
constexpr int64_t kLongestMessage = 1 << 20;

std::string name_of(uint64_t seq)
{
    char name[32];
    std::snprintf(name, sizeof name, "%020llu.json", static_cast<unsigned long long>(seq));
    return name;
}

// The number of a message's name as name_of() writes it; 0 for any other name.
uint64_t seq_of(const std::string& name)
{
    if (name.size() != 25 || name.compare(20, 5, ".json") != 0)
        return 0;
    uint64_t seq = 0;
    for (size_t i = 0; i < 20; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        const uint64_t digit = uint64_t(name[i] - '0');
        if (seq > (kLastSeq - digit) / 10)
            return 0;
        seq = seq * 10 + digit;
    }
    return seq;
}

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

Spool::Spool(fs::path dir, uint64_t limit_bytes) : dir_(std::move(dir)), limit_(limit_bytes)
{
    open_folder();
    pick_up();
}

void Spool::open_folder()
{
    // The links on the way are followed as the settings file's are; the folder reached is then
    // checked, and every name in it is used through it, never through a link. Folders still to
    // make are made only in one that passes the same check: nothing is left in another's.
    fs::path there = dir_;
    std::error_code missing;
    while (!fs::exists(there, missing) && !missing && there.has_relative_path() && there.parent_path() != there)
        there = there.parent_path();
    if (there != dir_ && !there.empty()) {
        const int fd = ::open(there.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            try {
                check_existing(fd, there, dir_);
            } catch (...) {
                ::close(fd);
                throw;
            }
            ::close(fd);
        }
    }
    std::string reason;
    if (!file_io::make_folder(dir_.string(), reason))
        throw std::runtime_error("очередь " + dir_.string() + " не создаётся: " + reason);
    dir_fd_ = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd_ < 0)
        throw std::runtime_error("очередь " + dir_.string() + " не открывается: " + std::strerror(errno));
    try {
        check_folders(dir_fd_, dir_);
    } catch (...) {
        ::close(dir_fd_);
        throw;
    }
    lock_fd_ = ::openat(dir_fd_, "lock", O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    struct stat lock_st;
    if (lock_fd_ < 0 || ::fstat(lock_fd_, &lock_st) != 0 || !S_ISREG(lock_st.st_mode)) {
        const std::string why = lock_fd_ < 0 ? std::strerror(errno) : "lock не обычный файл";
        if (lock_fd_ >= 0)
            ::close(lock_fd_);
        ::close(dir_fd_);
        throw std::runtime_error("очередь " + dir_.string() + " не открывается: " + why);
    }
    if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(lock_fd_);
        ::close(dir_fd_);
        throw std::runtime_error("очередь " + dir_.string() + " занята другим запуском");
    }
}

void Spool::pick_up()
{
    std::vector<std::pair<uint64_t, uint64_t>> found;
    std::vector<std::pair<std::string, std::string>> bad;
    const int list_fd = ::openat(dir_fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (DIR* d = list_fd < 0 ? nullptr : ::fdopendir(list_fd)) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (ends_with(name, ".tmp")) {
                ::unlinkat(dir_fd_, name.c_str(), 0);  // a write cut short
                continue;
            }
            if (!ends_with(name, ".json"))
                continue;
            const uint64_t seq = seq_of(name);
            struct stat st;
            if (seq == 0)
                bad.emplace_back(name, "имя не номер очереди");
            else if (::fstatat(dir_fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;  // gone meanwhile
            else if (!S_ISREG(st.st_mode))
                bad.emplace_back(name, "не обычный файл");
            else
                found.emplace_back(seq, disk_use(st));
        }
        ::closedir(d);
    } else if (list_fd >= 0) {
        ::close(list_fd);
    }
    for (const auto& [name, why] : bad)
        set_aside_locked(name, why);
    std::sort(found.begin(), found.end());
    for (const auto& [seq, use] : found) {
        entries_.emplace_back(seq, use);
        bytes_ += use;
        next_ = seq + 1;
    }
}

Spool::~Spool()
{
    if (lock_fd_ >= 0)
        ::close(lock_fd_);
    if (dir_fd_ >= 0)
        ::close(dir_fd_);
}

size_t Spool::push(const std::string& message)
{
    std::lock_guard lock(mutex_);
    if (next_ > kLastSeq)
        throw std::runtime_error("очередь " + dir_.string() + ": номера сообщений исчерпаны");
    const uint64_t seq = next_++;
    const std::string name = name_of(seq);
    const std::string tmp = name + ".tmp";
    // Written aside, synced and renamed, and the folder synced: a run cut short or a power cut
    // leaves the whole message or none.
    ::unlinkat(dir_fd_, tmp.c_str(), 0);
    const int fd =
        ::openat(dir_fd_, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    struct stat st;
    bool ok = fd >= 0 && write_all(fd, message) && ::fsync(fd) == 0 && ::fstat(fd, &st) == 0;
    int err = errno;
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::renameat(dir_fd_, tmp.c_str(), dir_fd_, name.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlinkat(dir_fd_, tmp.c_str(), 0);
        throw std::runtime_error("очередь " + dir_.string() + ": показание не записано: " + std::strerror(err));
    }
    (void)::fsync(dir_fd_);  // the message itself is on the disk already
    const uint64_t use = disk_use(st);
    entries_.emplace_back(seq, use);
    bytes_ += use;
    size_t dropped = 0;
    while (bytes_ > limit_ && entries_.size() > 1) {
        ::unlinkat(dir_fd_, name_of(entries_.front().first).c_str(), 0);
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
        // The file is not changed once named; a drop may remove it meanwhile. Only a regular
        // file is read, opened so that neither a link nor a FIFO put in its place is followed or
        // waited on.
        const std::string name = name_of(seq);
        std::string text, why;
        const int fd = ::openat(dir_fd_, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        struct stat st;
        if (fd < 0 && errno == ENOENT) {
            pop(seq);
            continue;
        }
        if (fd < 0)
            why = errno == ELOOP ? "ссылка" : std::strerror(errno);
        else if (::fstat(fd, &st) != 0)
            why = std::strerror(errno);
        else if (!S_ISREG(st.st_mode))
            why = "не обычный файл";
        else if (st.st_size > kLongestMessage)
            why = "длиннее " + std::to_string(kLongestMessage) + " байт";
        char buf[4096];
        while (fd >= 0 && why.empty()) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                why = std::strerror(errno);
            else if (n == 0)
                break;
            else if (text.size() + size_t(n) > size_t(kLongestMessage))
                why = "длиннее " + std::to_string(kLongestMessage) + " байт";
            else
                text.append(buf, size_t(n));
        }
        if (fd >= 0)
            ::close(fd);
        if (why.empty() && text.empty())
            why = "пустой файл";
        if (why.empty())
            return Entry{seq, std::move(text)};
        set_aside(seq, why);
    }
}

void Spool::pop(uint64_t seq)
{
    std::lock_guard lock(mutex_);
    if (entries_.empty() || entries_.front().first != seq)
        return;
    ::unlinkat(dir_fd_, name_of(seq).c_str(), 0);
    bytes_ -= entries_.front().second;
    entries_.pop_front();
}

void Spool::set_aside(uint64_t seq, const std::string& why)
{
    std::lock_guard lock(mutex_);
    if (entries_.empty() || entries_.front().first != seq)
        return;
    bytes_ -= entries_.front().second;
    entries_.pop_front();
    set_aside_locked(name_of(seq), why);
}

void Spool::set_aside_locked(const std::string& name, const std::string& why)
{
    // Out of the queue whatever becomes of the rename: it is not tried again in this run.
    const std::string aside = name + ".bad";
    const bool moved = ::renameat(dir_fd_, name.c_str(), dir_fd_, aside.c_str()) == 0;
    if (aside_++ == 0)
        aside_first_ = name + ": " + why +
                       (moved ? ", отложен как " + aside : std::string(", не переименован: ") + std::strerror(errno));
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

size_t Spool::set_aside_count() const
{
    std::lock_guard lock(mutex_);
    return aside_;
}

std::string Spool::set_aside_first() const
{
    std::lock_guard lock(mutex_);
    return aside_first_;
}

fs::path spool_folder(const std::string& topic)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string name;
    for (const char ch : topic) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
            c == '_')
            name += ch;
        else
            name += {'%', hex[c >> 4], hex[c & 15]};
    }
    fs::path out;
    for (size_t at = 0; at < name.size(); at += 200)
        out /= name.substr(at, 200);
    return out;
}

std::string spool_topic(const fs::path& relative)
{
    std::string name;
    for (const auto& part : relative)
        name += part.string();
    return utf8::percent_decoded(name);
}

fs::path state_dir()
{
    if (const char* x = std::getenv("XDG_STATE_HOME"); x && *x == '/')
        return fs::path(x) / "varnok";
    // The home as the settings file finds it; never a shared folder in its place.
    std::string home;
    // A relative HOME would put the spool under whatever folder the tool runs in.
    if (const char* h = std::getenv("HOME"); h && *h == '/')
        home = h;
    else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir)
        home = pw->pw_dir;
    else
        throw std::runtime_error("нет домашней папки для очереди показаний: задайте HOME или XDG_STATE_HOME");
    return fs::path(home) / ".local" / "state" / "varnok";
}

}  // namespace varnok::cli
