#include "console/frame_log.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/value_text.h"

namespace varnok {

namespace {

QString os_reason(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// mkdir -p. The folders made are the user's alone (0700 whatever the umask): the frames
// tell what is on the line; folders already there are left as they are.
bool make_private_dirs(const QString& dir, QString& reason)
{
    const QByteArray path = QFile::encodeName(dir);
    for (qsizetype pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/')
            continue;
        const QByteArray part = path.left(pos);
        if (::mkdir(part.constData(), 0700) == 0)
            (void)::chmod(part.constData(), 0700);
        else if (errno != EEXIST) {
            reason = os_reason(errno);
            return false;
        }
    }
    struct stat st;
    if (::stat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        reason = QStringLiteral("это не папка");
        return false;
    }
    return true;
}

bool write_all(int fd, const QByteArray& data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += n;
    }
    return true;
}

}  // namespace

FrameLog::FrameLog(std::function<void(const QString&)> report, QObject* parent)
    : QObject(parent), report_(std::move(report))
{
    settle_timer.setSingleShot(true);
    settle_timer.setInterval(0);
    connect(&settle_timer, &QTimer::timeout, this, &FrameLog::settle);
}

// The last answer still goes to the file; the information window may be gone by now.
FrameLog::~FrameLog()
{
    report_ = nullptr;
    settle();
    close_file();
}

QString FrameLog::folder()
{
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.startsWith(QLatin1Char('/')))
        return state + QStringLiteral("/varnok");
    return QDir::homePath() + QStringLiteral("/.local/state/varnok");
}

QString FrameLog::file_of(const QDate& day)
{
    return folder() + QStringLiteral("/frames-") + day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".log");
}

void FrameLog::set_enabled(bool on)
{
    settle();
    enabled_ = on;
    if (!on)
        close_file();
}

void FrameLog::set_keep_days(int days)
{
    keep_days_ = days;
    pruned_ = {};
}

void FrameLog::sent(const uint8_t* bytes, size_t n)
{
    settle();
    if (!enabled_)
        return;
    write(QDateTime::currentDateTime(), QStringLiteral("ЗАПРОС ") + hex_bytes(bytes, n).trimmed());
}

void FrameLog::received(const uint8_t* bytes, size_t n)
{
    settle();
    if (!enabled_)
        return;
    answer_at_ = QDateTime::currentDateTime();
    answer_ = QStringLiteral("ОТВЕТ ") + (n > 0 ? hex_bytes(bytes, n).trimmed() : QStringLiteral("нет ответа"));
    answer_waits_ = true;
    settle_timer.start();
}

void FrameLog::error_line(const QString& line)
{
    if (!answer_waits_)
        return;
    answer_ += QStringLiteral(" | ") + line.trimmed();
    settle();
}

void FrameLog::settle()
{
    if (!answer_waits_)
        return;
    answer_waits_ = false;
    settle_timer.stop();
    write(answer_at_, answer_);
}

void FrameLog::close_file()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    day_ = {};
}

// Opens the file of day_ for appending: only a regular file (never through a link, and
// without waiting on a FIFO put in its place), made private to the user when created here.
bool FrameLog::open_day(QString& reason)
{
    if (!make_private_dirs(folder(), reason)) {
        reason = QStringLiteral("папка ") + folder() + QStringLiteral(" не создана: ") + reason;
        return false;
    }
    const QByteArray name = QFile::encodeName(path_);
    const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK;
    bool created = true;
    int fd = ::open(name.constData(), flags | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(name.constData(), flags);
    }
    if (fd < 0) {
        // A link (O_NOFOLLOW) or a FIFO that nobody reads (O_NONBLOCK).
        reason = errno == ELOOP || errno == ENXIO ? QStringLiteral("это не обычный файл") : os_reason(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = QStringLiteral("это не обычный файл");
        ::close(fd);
        return false;
    }
    if (created)
        (void)::fchmod(fd, 0600);
    (void)::fcntl(fd, F_SETFL, O_APPEND);
    fd_ = fd;
    return true;
}

// Removes the day files older than the days kept, by their names' dates: only names of
// exactly the form frames-YYYY-MM-DD.log, only in the log's folder, once per day opened.
void FrameLog::remove_old_days()
{
    if (keep_days_ <= 0 || pruned_ == day_)
        return;
    pruned_ = day_;
    const QDate oldest_kept = day_.addDays(1 - keep_days_);
    DIR* d = ::opendir(QFile::encodeName(folder()).constData());
    if (!d)
        return;
    while (const dirent* e = ::readdir(d)) {
        const QString name = QFile::decodeName(e->d_name);
        if (name.size() != 21 || !name.startsWith(QLatin1String("frames-")) || !name.endsWith(QLatin1String(".log")))
            continue;
        const QString date = name.mid(7, 10);
        const QDate day = QDate::fromString(date, QStringLiteral("yyyy-MM-dd"));
        if (day.isValid() && day.toString(QStringLiteral("yyyy-MM-dd")) == date && day < oldest_kept)
            ::unlinkat(::dirfd(d), e->d_name, 0);
    }
    ::closedir(d);
}

void FrameLog::write(const QDateTime& at, const QString& text)
{
    if (!enabled_)
        return;
    if (fd_ < 0 || at.date() != day_) {
        close_file();
        day_ = at.date();
        path_ = file_of(day_);
        QString reason;
        if (!open_day(reason)) {
            fail(reason);
            return;
        }
        port_due_ = true;
        remove_old_days();
    }
    const QString stamp = at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz "));
    const QString port = port_ ? port_() : QString();
    QString lines;
    if (port_due_ || port != port_written_)
        lines = stamp + (QStringLiteral("ПОРТ ") + port).trimmed() + QLatin1Char('\n');
    lines += stamp + text + QLatin1Char('\n');
    if (!write_all(fd_, lines.toUtf8())) {
        fail(os_reason(errno));
        close_file();
        return;
    }
    port_due_ = false;
    port_written_ = port;
    failed_ = false;
}

// Told once; the next failure is told again only after a line went through.
void FrameLog::fail(const QString& reason)
{
    if (!failed_ && report_)
        report_(QStringLiteral("журнал обмена не записан в файл ") + path_ + QStringLiteral(": ") + reason);
    failed_ = true;
}

}  // namespace varnok
