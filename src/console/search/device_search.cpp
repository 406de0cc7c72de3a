#include "console/search/device_search.h"

#include <algorithm>

#include "console/busy.h"
#include "console/console_context.h"
#include "console/exchange_log.h"
#include "console/search/tfmsg.h"
#include "console/value_text.h"

namespace varnok {

namespace {

constexpr int kLastNumber = 247;

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

// The speed of a recorded speed code; a code outside the table keeps the speed in force.
int32_t speed_of(uint8_t code, int32_t current) { return code >= 1 && code < scor.size() ? scor[code] : current; }

bool ends_progress_line(int n) { return n == 75 || n == 150 || n == 225; }

}  // namespace

DeviceSearch::DeviceSearch(ConsoleContext& ctx, Shell shell) : ctx_(ctx), shell_(std::move(shell)) {}

// "  [ Pb=0<separator>Sb=1 ]": the line settings every request of a search goes out with.
QString DeviceSearch::line_settings(const char* separator) const
{
    const LinkSettings& line = ctx_.link.settings();
    return QStringLiteral("  [ Pb=") + num(line.parity) + QString::fromUtf8(separator) + QStringLiteral("Sb=") +
           num(line.stopbit) + QStringLiteral(" ]");
}

void DeviceSearch::show_notice(const QString& text)
{
    shell_.notice.show();
    shell_.notice.setWaitText(text);
    shell_.notice.repaint();
    ctx_.pump.pump();
}

void DeviceSearch::settle_port()
{
    Link& link = ctx_.link;
    link.vich_timeout(number_scor(link.settings().scor_obmena), 8);
}

void DeviceSearch::scan_at_current_speed(int n, QString& progress)
{
    Device& d = ctx_.device;
    progress += '.';
    d.scor_CN[n] = d.otvet_ustsv(uint8_t(n));
    shell_.status(5, QStringLiteral(" Номер: ") + num(n) + QStringLiteral(" ск=") + num(d.scor_CN[n]));
    if (d.scor_CN[n] != 0)
        progress += num(n) + ' ';
    // The progress line is rewritten in place; after 75, 150 and 225 it stays and a new one begins.
    if (ends_progress_line(n - 1))
        shell_.log.append(progress);
    else
        shell_.log.replace_last(progress);
    shell_.log.select_last();
    shell_.log.repaint_info();
    if (ends_progress_line(n))
        progress = QStringLiteral(" ");
}

void DeviceSearch::scan_every_speed(int n)
{
    Device& d = ctx_.device;
    d.scor_CN[n] = d.poisk_scor(uint8_t(n));
    Time_over = QDateTime::currentDateTime();
    shell_.log.append(QStringLiteral(" №=") + num(n) + QStringLiteral("  V=") + num(d.scor_CN[n]) +
                      QStringLiteral(" ... ") + time_of_day_text(Time_over) +
                      number_time_text(Time_tmp.msecsTo(Time_over)) + total_time_text(Time_begin.msecsTo(Time_over)));
    Time_tmp = Time_over;
    shell_.log.select_last();
    shell_.log.repaint_info();
}

bool DeviceSearch::poisk_pribor(bool scor_edina)
{
    Link& link = ctx_.link;
    const LinkSettings& line = link.settings();
    Device& d = ctx_.device;
    if (scor_edina && line.scor_obmena == 0) {
        // Every number would ask for a speed in turn; once is enough.
        link.notices.message_box("выберите скорость ");
        return false;
    }

    QString progress = QStringLiteral(".");
    Time_begin = QDateTime::currentDateTime();
    Time_tmp = Time_begin;
    shell_.status(1, QStringLiteral(" Номер: ") + num(line.sys_num));
    shell_.status(5, QStringLiteral(" идет поиск прибора"));
    const uint8_t saved_sys_num = line.sys_num;
    link.keys.pressed_since_last_query(kKeyQ);

    for (int n = 1; n <= kLastNumber; ++n) {
        link.set_sys_num(uint8_t(n));
        bool interrupted = false;
        try {
            if (scor_edina)
                scan_at_current_speed(n, progress);
            else
                scan_every_speed(n);
        } catch (const SearchAborted&) {
            interrupted = true;  // X while a silent number was awaited
        }
        // A port that cannot be opened fails alike for every number: the scan ends rather
        // than show its message box for each of 247 numbers (and each speed), and says why.
        if (!interrupted && !link.hcom().is_open()) {
            shell_.log.append(QStringLiteral("поиск прекращён на ") + num(n) + QStringLiteral(" номере: порт ") +
                              QString::fromStdString(line.name_comport) + QStringLiteral(" не открывается"));
            break;
        }
        if (interrupted || link.keys.pressed_since_last_query(kKeyQ)) {
            shell_.log.append(QStringLiteral("прерван поиск на ") + num(n) + QStringLiteral(" номере"));
            break;
        }
    }

    Time_over = QDateTime::currentDateTime();
    shell_.log.append(elapsed_text(Time_begin.msecsTo(Time_over)) + QStringLiteral(" прошло  ") + now_text() + ' ');

    // Every number that ever answered, this scan's or an earlier one's; the console ends
    // addressing the highest of them at its speed. The speed code, the operator's choice, stays.
    link.set_sys_num(saved_sys_num);
    QString numbers = QStringLiteral(" ");
    int count = 0;
    for (int n = 1; n <= kLastNumber; ++n) {
        if (d.scor_CN[n] == 0)
            continue;
        link.set_sys_num(uint8_t(n));
        ++count;
        numbers += num(n) + ' ';
        link.set_speed_keeping_code(speed_of(d.scor_CN[n], line.scor_obmena));
        shell_.status(1, QStringLiteral(" Номер: ") + num(n));
        shell_.status(2, QStringLiteral(" Скорость Обмена: ") + num(line.scor_obmena));
    }
    // The port was left at the last speed tried; it goes to the speed kept, or back to the
    // speed the scan began with when nobody answered.
    settle_port();

    shell_.log.append(QStringLiteral("Ответилo:") + num(count) + QStringLiteral(" приборов:   №№: ") + numbers +
                      QStringLiteral("  :! паритет:") + num(line.parity) + QStringLiteral(" стопбит:") +
                      num(line.stopbit) + QStringLiteral(" !"));
    shell_.log.select_last();
    shell_.log.repaint_info();
    return true;
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
    Link& link = ctx_.link;
    const LinkSettings& line = link.settings();
    Device& d = ctx_.device;
    shell_.stop_polling();
    show_notice(QStringLiteral("Подождите!... Идет ПОИСК НОМЕРОВ, отвечающих на скорость ") + num(line.scor_obmena) +
                QStringLiteral(" ..."));
    shell_.log.show_info();
    shell_.log.clear_info();
    shell_.log.append(QStringLiteral(" ищем отвечающий № на скорости ") + num(line.scor_obmena) + line_settings(", "));
    shell_.log.append(QStringLiteral(" начало в: ") + now_text() + QStringLiteral(" ..."));
    shell_.log.append(QStringLiteral(" "));
    shell_.log.repaint_info();

    const bool scanned = poisk_pribor(true);
    shell_.status(5, QStringLiteral(" "));
    shell_.notice.hide();

    if (scanned) {
        int n = 1;
        while (n <= kLastNumber && d.scor_CN[n] == 0)
            ++n;
        if (n <= kLastNumber) {
            shell_.show_tool_bar();
            link.set_sys_num(uint8_t(n));
            shell_.status(1, QStringLiteral(" Номер: ") + num(n));
            // An earlier scan may have found a higher number at another speed, and the scan
            // ended at that one's speed: the number chosen is addressed at its own.
            const int32_t speed = speed_of(d.scor_CN[n], line.scor_obmena);
            if (line.scor_obmena != speed) {
                link.set_speed_keeping_code(speed);
                settle_port();
                shell_.status(2, QStringLiteral(" Скорость Обмена: ") + num(speed));
            }
            shell_.log.append(QStringLiteral("на скорости ") + num(speed) + QStringLiteral(" отозвался №") + num(n) +
                              line_settings(" , "));
        } else {
            link.notices.message_box("на скорости " + std::to_string(line.scor_obmena) +
                                     " не отвечает ни один номер из 1..247");
        }
    }
    shell_.resume_polling();
}

void DeviceSearch::N_poisk_scorClick()
{
    Busy busy(ctx_.busy);
    Link& link = ctx_.link;
    const LinkSettings& line = link.settings();
    Device& d = ctx_.device;
    const uint8_t number = line.sys_num;
    shell_.stop_polling();
    shell_.log.show_info();
    shell_.log.clear_info();
    show_notice(QStringLiteral("Подождите!... Идет ПОИСК СКОРОСТИ для номера ") + num(number) + QStringLiteral(" ...."));
    shell_.log.append(QStringLiteral(" ищем скорость для №=") + num(number) + line_settings(", "));
    shell_.log.append(QStringLiteral(" начало в: ") + now_text() + QStringLiteral(" ..."));
    shell_.log.repaint_info();
    shell_.status(5, QStringLiteral("№") + num(number) + QStringLiteral(" ищет скорость "));

    uint8_t code = 0;
    bool aborted = false;
    try {
        code = d.poisk_scor(number);
        d.scor_CN[number] = code;
    } catch (const SearchAborted&) {
        aborted = true;  // X: the search ends as if no speed had answered, without the message
    }
    shell_.log.append(QStringLiteral(" конец в: ") + now_text());
    shell_.notice.hide();

    if (code != 0) {
        // The time-outs in force are those of the speed that answered: it was the last one tried.
        shell_.show_tool_bar();
        link.set_speed_keeping_code(scor[code]);
        if (link.init_com_port_new() == 0) {
            shell_.status(5, QStringLiteral(" Ответил на Скорость Обмена: ") + num(line.scor_obmena));
            shell_.log.append(QStringLiteral("№") + num(line.sys_num) + QStringLiteral(" ответил на ") +
                              num(line.scor_obmena) + line_settings(", "));
        } else {
            shell_.log.append(QStringLiteral("ошибка инициализации dcb"));
        }
    } else {
        settle_port();
        if (!aborted)
            link.notices.message_box("№" + std::to_string(line.sys_num) + " не отвечает ни на одной из скоростей " +
                                     "  при Pb=" + std::to_string(line.parity) + " и Sb=" +
                                     std::to_string(line.stopbit));
    }
    shell_.resume_polling();
}

void DeviceSearch::N_yes_otvetClick()
{
    Busy busy(ctx_.busy);
    Link& link = ctx_.link;
    const LinkSettings& line = link.settings();
    shell_.log.show_info();
    QString text = QStringLiteral(" #=") + num(line.sys_num) + QStringLiteral(" V=") + num(line.scor_obmena) +
                   QStringLiteral(" : Pb=") + num(line.parity) + QStringLiteral(" Sb=") + num(line.stopbit) +
                   QStringLiteral(" : ");
    if (ctx_.device.zapros_adr(line.sys_num) == kOk) {
        text += QStringLiteral("OK!");
    } else {
        text += QStringLiteral(" нет ответа");
        link.notices.message_box(text.toStdString());
    }
    shell_.log.append(text);
    shell_.log.select_last();
}

}  // namespace varnok
