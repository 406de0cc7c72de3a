#include "console/frame_log.h"

#include <QDir>

#include "console/value_text.h"

namespace varnok {

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
    return folder() + QStringLiteral("/frames-") + day.toString(QStringLiteral("yyyy-MM-dd")) +
           QStringLiteral(".log");
}

void FrameLog::set_enabled(bool on)
{
    settle();
    enabled_ = on;
    if (!on) {
        file_.close();
        day_ = {};
    }
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

void FrameLog::write(const QDateTime& at, const QString& text)
{
    if (!enabled_)
        return;
    if (!file_.isOpen() || at.date() != day_) {
        file_.close();
        day_ = at.date();
        file_.setFileName(file_of(day_));
        if (!QDir().mkpath(folder())) {
            fail(QStringLiteral("папка ") + folder() + QStringLiteral(" не создана"));
            return;
        }
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
            fail(file_.errorString());
            return;
        }
    }
    const QByteArray line = (at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")) + text + QLatin1Char('\n')).toUtf8();
    if (file_.write(line) != line.size() || !file_.flush()) {
        fail(file_.errorString());
        file_.close();
        return;
    }
    failed_ = false;
}

// Told once; the next failure is told again only after a line went through.
void FrameLog::fail(const QString& reason)
{
    if (!failed_ && report_)
        report_(QStringLiteral("журнал обмена не записан в файл ") + file_.fileName() + QStringLiteral(": ") + reason);
    failed_ = true;
}

}  // namespace varnok
