#include "ops/search.h"

#include <algorithm>

#include "ops/report.h"

namespace varnok {

namespace {

SearchTime now() { return std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now()); }

// The speed of a recorded speed code; a code outside the table keeps the speed in force.
int32_t speed_of(uint8_t code, int32_t current) { return code >= 1 && code < scor.size() ? scor[code] : current; }

std::string num(long long v) { return std::to_string(v); }

}  // namespace

std::string line_settings_text(const LinkSettings& line, const char* separator)
{
    return "  [ Pb=" + num(line.parity) + separator + "Sb=" + num(line.stopbit) + " ]";
}

void Search::settle_port()
{
    Link& link = d_.link();
    link.vich_timeout(number_scor(link.settings().scor_obmena));
}

uint8_t Search::ask(bool scor_edina, KeyStop& x) { return scor_edina ? d_.otvet_ustsv(&x) : d_.poisk_scor(&x); }

ScanResult Search::poisk_pribor(bool scor_edina, uint8_t from, uint8_t to)
{
    Link& link = d_.link();
    const LinkSettings& line = link.settings();
    ScanResult r;
    if (scor_edina && line.scor_obmena == 0) {
        // Every number would ask for a speed in turn; once is enough.
        notices_.message_box("выберите скорость ");
        return r;
    }
    r.started = true;

    times.Time_begin = now();
    times.Time_tmp = times.Time_begin;
    progress_.scan_begins(line.sys_num);
    const uint8_t saved_sys_num = line.sys_num;
    keys_.pressed_since_last_query(kKeyQ);  // a Q pressed before the scan does not count
    scan_numbers(scor_edina, std::max<int>(from, kMinSysNum), std::min<int>(to, kMaxSysNum), r);
    times.Time_over = now();
    progress_.scan_over(times);

    link.set_sys_num(saved_sys_num);
    adopt_found(r);
    return r;
}

bool Search::ask_number(int n, bool scor_edina)
{
    d_.link().set_sys_num(uint8_t(n));
    KeyStop x(keys_, kKeyX);
    const uint8_t code = ask(scor_edina, x);
    if (x.pressed())
        return false;  // X while a silent number was awaited
    d_.record_speed(n, code);
    if (!scor_edina)
        times.Time_over = now();
    progress_.number_done(uint8_t(n), code, !scor_edina, times);
    if (!scor_edina)
        times.Time_tmp = times.Time_over;
    return true;
}

void Search::scan_numbers(bool scor_edina, int first, int last, ScanResult& r)
{
    Link& link = d_.link();
    for (int n = first; n <= last; ++n) {
        const bool interrupted = !ask_number(n, scor_edina);
        // A port that cannot be opened fails alike for every number: the scan ends rather
        // than show its message box for each number (and each speed), and says why.
        if (!interrupted && !link.hcom().is_open()) {
            report_.line("поиск прекращён на " + num(n) + " номере: порт " + link.settings().name_comport +
                         " не открывается");
            r.port_failed_at = uint8_t(n);
            return;
        }
        if (interrupted || keys_.pressed_since_last_query(kKeyQ)) {
            report_.line("прерван поиск на " + num(n) + " номере");
            r.interrupted_at = uint8_t(n);
            return;
        }
    }
}

void Search::adopt_found(ScanResult& r)
{
    // Every number that ever answered, this scan's or an earlier one's; the search ends
    // addressing the highest of them at its speed. The speed code, the operator's choice, stays.
    Link& link = d_.link();
    const LinkSettings& line = link.settings();
    std::string numbers = " ";
    for (int n = kMinSysNum; n <= kMaxSysNum; ++n) {
        const uint8_t code = d_.scor_CN(size_t(n));
        if (code == 0)
            continue;
        link.set_sys_num(uint8_t(n));
        r.found.push_back(uint8_t(n));
        numbers += num(n) + ' ';
        link.set_speed_keeping_code(speed_of(code, line.scor_obmena));
        progress_.adopted(uint8_t(n), line.scor_obmena);
    }
    // The port was left at the last speed tried; it goes to the speed kept, or back to the
    // speed the scan began with when nobody answered.
    settle_port();

    report_.line("Ответилo:" + num(long(r.found.size())) + " приборов:   №№: " + numbers +
                 "  :! паритет:" + num(line.parity) + " стопбит:" + num(line.stopbit) + " !");
}

FirstFound Search::address_first_found()
{
    Link& link = d_.link();
    const LinkSettings& line = link.settings();
    FirstFound f;
    int n = kMinSysNum;
    while (n <= kMaxSysNum && d_.scor_CN(size_t(n)) == 0)
        ++n;
    if (n > kMaxSysNum) {
        notices_.message_box("на скорости " + num(line.scor_obmena) + " не отвечает ни один номер из 1..247");
        return f;
    }
    link.set_sys_num(uint8_t(n));
    f.number = uint8_t(n);
    // An earlier scan may have found a higher number at another speed, and the scan ended at
    // that one's speed: the number chosen is addressed at its own.
    f.speed = speed_of(d_.scor_CN(size_t(n)), line.scor_obmena);
    if (line.scor_obmena != f.speed) {
        link.set_speed_keeping_code(f.speed);
        settle_port();
        f.speed_changed = true;
    }
    report_.line("на скорости " + num(f.speed) + " отозвался №" + num(n) + line_settings_text(line, " , "));
    return f;
}

SpeedFound Search::poisk_scor()
{
    const uint8_t number = d_.link().settings().sys_num;
    SpeedFound s;
    KeyStop x(keys_, kKeyX);
    const uint8_t code = d_.poisk_scor(&x);
    if (x.pressed()) {
        s.aborted = true;  // X: as if no speed had answered, without the message
        return s;
    }
    s.code = code;
    d_.record_speed(number, s.code);
    return s;
}

bool Search::adopt_speed(const SpeedFound& found)
{
    Link& link = d_.link();
    const LinkSettings& line = link.settings();
    if (found.code >= 1 && found.code < scor.size()) {
        // The time-outs in force are those of the speed that answered: it was the last one tried.
        link.set_speed_keeping_code(scor[found.code]);
        if (link.init_com_port_new() != 0) {
            report_.line("ошибка инициализации dcb");
            return false;
        }
        report_.status(" Ответил на Скорость Обмена: " + num(line.scor_obmena));
        report_.line("№" + num(line.sys_num) + " ответил на " + num(line.scor_obmena) + line_settings_text(line, ", "));
        return true;
    }
    settle_port();
    if (!found.aborted)
        notices_.message_box("№" + num(line.sys_num) + " не отвечает ни на одной из скоростей " +
                             "  при Pb=" + num(line.parity) + " и Sb=" + num(line.stopbit));
    return false;
}

bool Search::yes_otvet()
{
    const LinkSettings& line = d_.link().settings();
    std::string text = " #=" + num(line.sys_num) + " V=" + num(line.scor_obmena) + " : Pb=" + num(line.parity) +
                       " Sb=" + num(line.stopbit) + " : ";
    const bool answered = d_.zapros_adr().ok();
    if (answered) {
        text += "OK!";
    } else {
        text += " нет ответа";
        notices_.message_box(text);
    }
    report_.line(text);
    return answered;
}

}  // namespace varnok
