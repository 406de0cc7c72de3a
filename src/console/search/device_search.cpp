#include "console/search/device_search.h"

#include <QDateTime>
#include <algorithm>

#include "console/busy.h"
#include "console/console_context.h"
#include "console/exchange_log.h"
#include "console/search/tfmsg.h"
#include "console/value_text.h"

namespace varnok {

namespace {

QString num(long long v) { return QString::number(v); }

QString padded(long long v, int width) { return QStringLiteral("%1").arg(v, width, 10, QLatin1Char('0')); }

struct Clock {
    qint64 h, n, s, z;
};

// Parts of an interval in milliseconds, read as a time of day: larger units drop off. A
// clock set back during the scan counts as no time.
Clock clock_of(qint64 ms)
{
    ms = std::max<qint64>(ms, 0);
    return {ms / 3600000 % 24, ms / 60000 % 60, ms / 1000 % 60, ms % 1000};
}

qint64 of_day(const QDateTime& t) { return t.time().msecsSinceStartOfDay(); }

// " h:nn:ss:zzz  " of a time of day.
QString time_of_day_text(const QDateTime& t)
{
    const Clock c = clock_of(of_day(t));
    return QStringLiteral(" ") + num(c.h) + ':' + padded(c.n, 2) + ':' + padded(c.s, 2) + ':' + padded(c.z, 3) +
           QStringLiteral("  ");
}

// ' "("s:zzz мс")"' of the time one number took.
QString number_time_text(qint64 ms)
{
    const Clock c = clock_of(ms);
    return QStringLiteral(" (") + num(c.s) + ':' + padded(c.z, 3) + QStringLiteral(" мс)");
}

// ' " всего:" n:ss:zzz ' of the time since the scan began.
QString total_time_text(qint64 ms)
{
    const Clock c = clock_of(ms);
    return QStringLiteral("  всего: ") + num(c.n) + ':' + padded(c.s, 2) + ':' + padded(c.z, 3) + ' ';
}

// "  hh:nn:ss:zzz мс " of the whole scan.
QString elapsed_text(qint64 ms)
{
    const Clock c = clock_of(ms);
    return QStringLiteral("  ") + padded(c.h, 2) + ':' + padded(c.n, 2) + ':' + padded(c.s, 2) + ':' + padded(c.z, 3) +
           QStringLiteral(" мс ");
}

QString now_text() { return long_time(QTime::currentTime()); }

qint64 ms_between(SearchTime from, SearchTime to) { return (to - from).count(); }

QDateTime date_time(SearchTime t) { return QDateTime::fromMSecsSinceEpoch(t.time_since_epoch().count()); }

bool ends_progress_line(int n) { return n == 75 || n == 150 || n == 225; }

}  // namespace

DeviceSearch::DeviceSearch(ConsoleContext& ctx, Shell shell)
    : ctx_(ctx), shell_(std::move(shell)), report_(shell_.log, [this](const QString& text) { shell_.status(5, text); }),
      search_(ctx.device, report_, *this, ctx.pump, ctx.notices)
{
}

// "  [ Pb=0<separator>Sb=1 ]": the line settings every request of a search goes out with.
QString DeviceSearch::line_settings(const char* separator) const
{
    return QString::fromStdString(line_settings_text(ctx_.link.settings(), separator));
}

void DeviceSearch::show_notice(const QString& text)
{
    shell_.notice.show();
    shell_.notice.setWaitText(text);
    shell_.notice.repaint();
    ctx_.pump.pump();
}

void DeviceSearch::scan_begins(uint8_t sys_num)
{
    progress_ = QStringLiteral(".");
    shell_.status(1, QStringLiteral(" Номер: ") + num(sys_num));
    shell_.status(5, QStringLiteral(" идет поиск прибора"));
}

void DeviceSearch::number_done(uint8_t n, uint8_t code, bool every_speed, const SearchTimes& t)
{
    if (every_speed) {
        shell_.log.append(QStringLiteral(" №=") + num(n) + QStringLiteral("  V=") + num(code) +
                          QStringLiteral(" ... ") + time_of_day_text(date_time(t.Time_over)) +
                          number_time_text(ms_between(t.Time_tmp, t.Time_over)) +
                          total_time_text(ms_between(t.Time_begin, t.Time_over)));
        shell_.log.select_last();
        shell_.log.repaint_info();
        return;
    }
    progress_ += '.';
    shell_.status(5, QStringLiteral(" Номер: ") + num(n) + QStringLiteral(" ск=") + num(code));
    if (code != 0)
        progress_ += num(n) + ' ';
    // The progress line is rewritten in place; after 75, 150 and 225 it stays and a new one begins.
    if (ends_progress_line(n - 1))
        shell_.log.append(progress_);
    else
        shell_.log.replace_last(progress_);
    shell_.log.select_last();
    shell_.log.repaint_info();
    if (ends_progress_line(n))
        progress_ = QStringLiteral(" ");
}

void DeviceSearch::scan_over(const SearchTimes& t)
{
    shell_.log.append(elapsed_text(ms_between(t.Time_begin, t.Time_over)) + QStringLiteral(" прошло  ") + now_text() +
                      ' ');
}

void DeviceSearch::adopted(uint8_t n, int32_t speed)
{
    shell_.status(1, QStringLiteral(" Номер: ") + num(n));
    shell_.status(2, QStringLiteral(" Скорость Обмена: ") + num(speed));
}

ScanResult DeviceSearch::poisk_pribor(bool scor_edina)
{
    const ScanResult r = search_.poisk_pribor(scor_edina);
    if (r.started) {
        shell_.log.select_last();
        shell_.log.repaint_info();
    }
    return r;
}

void DeviceSearch::N_poisk_priborClick()
{
    Busy busy(ctx_.busy);
    shell_.stop_polling();
    shell_.log.clear_lines();
    const QColor colour = shell_.log.info_colour();
    show_notice(QStringLiteral("Подождите!... Идет ПОИСК приборов, отвечающих на наш запрос....."));
    shell_.log.set_info_colour(Qt::red);
    poisk_pribor(false);
    shell_.notice.hide();
    shell_.log.set_info_colour(colour);
    shell_.resume_polling();
    shell_.show_tool_bar();
}

void DeviceSearch::N_poisk_numClick()
{
    Busy busy(ctx_.busy);
    const LinkSettings& line = ctx_.link.settings();
    shell_.stop_polling();
    show_notice(QStringLiteral("Подождите!... Идет ПОИСК НОМЕРОВ, отвечающих на скорость ") + num(line.scor_obmena) +
                QStringLiteral(" ..."));
    shell_.log.show_info();
    shell_.log.clear_info();
    shell_.log.append(QStringLiteral(" ищем отвечающий № на скорости ") + num(line.scor_obmena) + line_settings(", "));
    shell_.log.append(QStringLiteral(" начало в: ") + now_text() + QStringLiteral(" ..."));
    // The first progress line takes the place of this one.
    shell_.log.append(QStringLiteral(" "));
    shell_.log.repaint_info();

    const ScanResult scan = poisk_pribor(true);
    shell_.status(5, QStringLiteral(" "));
    shell_.notice.hide();

    if (scan.started) {
        const FirstFound first = search_.address_first_found();
        if (first.number != 0) {
            shell_.show_tool_bar();
            shell_.status(1, QStringLiteral(" Номер: ") + num(first.number));
            if (first.speed_changed)
                shell_.status(2, QStringLiteral(" Скорость Обмена: ") + num(first.speed));
        }
    }
    shell_.resume_polling();
}

void DeviceSearch::N_poisk_scorClick()
{
    Busy busy(ctx_.busy);
    const uint8_t number = ctx_.link.settings().sys_num;
    shell_.stop_polling();
    shell_.log.show_info();
    shell_.log.clear_info();
    show_notice(QStringLiteral("Подождите!... Идет ПОИСК СКОРОСТИ для номера ") + num(number) +
                QStringLiteral(" ...."));
    shell_.log.append(QStringLiteral(" ищем скорость для №=") + num(number) + line_settings(", "));
    shell_.log.append(QStringLiteral(" начало в: ") + now_text() + QStringLiteral(" ..."));
    shell_.log.repaint_info();
    shell_.status(5, QStringLiteral("№") + num(number) + QStringLiteral(" ищет скорость "));

    const SpeedFound found = search_.poisk_scor();
    shell_.log.append(QStringLiteral(" конец в: ") + now_text());
    shell_.notice.hide();
    if (found.code != 0)
        shell_.show_tool_bar();
    search_.adopt_speed(found);
    shell_.resume_polling();
}

void DeviceSearch::N_yes_otvetClick()
{
    Busy busy(ctx_.busy);
    shell_.log.show_info();
    search_.yes_otvet();
    shell_.log.select_last();
}

}  // namespace varnok
