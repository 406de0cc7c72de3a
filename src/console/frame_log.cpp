#include "console/frame_log.h"

#include <QDir>

#include "modbus/exchange.h"
#include "settings/file_io.h"

namespace varnok {

namespace {

// A frame's bytes as the exchange lines show them, without the blank after the last.
QString hex_line(const uint8_t* bytes, size_t n)
{
    return QString::fromLatin1(hex_bytes(std::span<const uint8_t>(bytes, n))).trimmed();
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

QString FrameLog::folder() { return QDir::fromNativeSeparators(QString::fromStdString(log_file::state_folder())); }

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
    write(QDateTime::currentDateTime(), QStringLiteral("ЗАПРОС ") + hex_line(bytes, n));
}

void FrameLog::received(const uint8_t* bytes, size_t n)
{
    settle();
    if (!enabled_)
        return;
    answer_at_ = QDateTime::currentDateTime();
    answer_ = QStringLiteral("ОТВЕТ ") + (n > 0 ? hex_line(bytes, n) : QStringLiteral("нет ответа"));
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
    file_.close();
    day_ = {};
}

// Opens the file of day_ for appending: only a regular file (never through a link, and
// without waiting on a FIFO put in its place), made private to the user when created here.
bool FrameLog::open_day(QString& reason)
{
    std::string why;
    if (!file_io::make_folder(QDir::toNativeSeparators(folder()).toStdString(), why)) {
        reason = QString::fromStdString(why);
        return false;
    }
    if (!file_.open(QDir::toNativeSeparators(path_).toStdString(), why)) {
        reason = QString::fromStdString(why);
        return false;
    }
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
    const std::string dir = QDir::toNativeSeparators(folder()).toStdString();
    for (const std::string& file : log_file::file_names(dir)) {
        const QString name = QString::fromStdString(file);
        if (name.size() != 21 || !name.startsWith(QLatin1String("frames-")) || !name.endsWith(QLatin1String(".log")))
            continue;
        const QString date = name.mid(7, 10);
        const QDate day = QDate::fromString(date, QStringLiteral("yyyy-MM-dd"));
        if (day.isValid() && day.toString(QStringLiteral("yyyy-MM-dd")) == date && day < oldest_kept)
            log_file::remove(dir, file);
    }
}

void FrameLog::write(const QDateTime& at, const QString& text)
{
    if (!enabled_)
        return;
    if (!file_.is_open() || at.date() != day_) {
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
    std::string why;
    if (!file_.append(lines.toStdString(), why)) {
        fail(QString::fromStdString(why));
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
