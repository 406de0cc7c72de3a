// The protocol as CSV in the tool's spreadsheet dialect, as a Russian spreadsheet opens it
// with a double click: a BOM, ';' between the fields, the decimal comma, local dates, CRLF.
// A header, then one row per test point, each row carrying the protocol's own fields too, so
// that a sheet of many protocols can be filtered by unit, date or channel.
#include <string>
#include <vector>

#include "record/protocol_files.h"
#include "record/protocol_text.h"

namespace varnok::record {

namespace {

constexpr char kSeparator = ';';
constexpr const char* kBom = "\xEF\xBB\xBF";
constexpr const char* kEol = "\r\n";

// Quoted when it holds the separator or a quote (line ends are made blanks before).
std::string field(const std::string& raw)
{
    const std::string text = text::printable(raw);
    if (text.find_first_of(std::string{kSeparator, '"'}) == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + '"';
}

std::string line(const std::vector<std::string>& cells)
{
    std::string s;
    for (size_t k = 0; k < cells.size(); ++k)
        s += (k ? std::string(1, kSeparator) : std::string()) + field(cells[k]);
    return s + kEol;
}

const std::vector<std::string> kTitles = {
    "Протокол", "Дата", "Прибор", "Версия", "Заводской номер", "Сетевой номер", "Линия", "Поверитель",
    "Эталон", "Номер эталона", "Эталон поверен до", "Проверка", "Начало проверки", "Допуск, %", "Канал",
    "Единица", "Шкала", "Ноль", "Коэффициент", "Точка, %", "Номинал", "Эталон", "Отсчётов", "Взято",
    "Среднее", "Минимум", "Максимум", "СКО", "Погрешность", "Приведённая погрешность, %", "Заключение по точке",
    "Отказ", "Заключение по каналу", "Заключение"};

}  // namespace

std::string protocol_csv(const Protocol& p)
{
    std::string csv = kBom + line(kTitles);
    for (const std::optional<CheckRun>* run : {&p.as_found, &p.as_left}) {
        if (!*run)
            continue;
        const CheckRun& r = **run;
        for (const ChannelCheck& c : r.channels)
            for (const CheckPoint& pt : c.points) {
                const bool m = pt.measured();
                const auto value = [&](double v) { return m ? text::fixed(v, 4) : std::string(); };
                csv += line({p.number,
                             text::russian_date(p.issued),
                             p.unit.name,
                             p.unit.version,
                             p.unit.factory_number,
                             std::to_string(p.unit.network_number),
                             p.unit.line,
                             p.engineer,
                             p.reference.name,
                             p.reference.number,
                             text::russian_date(p.reference.due_date),
                             text::kind_name(r.kind),
                             text::russian_date(r.started),
                             text::trimmed(r.tolerance, 3),
                             std::to_string(c.channel),
                             c.unit,
                             text::trimmed(c.full_scale, 4),
                             c.constants.read ? std::to_string(c.constants.zero) : "",
                             c.constants.read ? text::shortest(c.constants.coefficient) : "",
                             text::trimmed(pt.percent, 2),
                             text::fixed(pt.nominal, 4),
                             text::fixed(pt.reference, 4),
                             std::to_string(pt.samples),
                             std::to_string(pt.readings.size()),
                             value(pt.mean),
                             value(pt.min),
                             value(pt.max),
                             value(pt.stdev),
                             value(pt.error),
                             m ? text::fixed(pt.reduced_error, 3) : "",
                             pt.fit ? kFit : kUnfit,
                             m ? "" : (pt.failure.empty() ? "измерение не выполнено" : pt.failure),
                             c.verdict(),
                             p.verdict()});
            }
    }
    return csv;
}

std::string protocol_number(const Unit& unit, const std::string& issued)
{
    std::string who;
    for (char ch : unit.factory_number)
        if (ch != ' ' || !who.empty())
            who += ch;
    while (!who.empty() && who.back() == ' ')
        who.pop_back();
    if (who.empty())
        who = "№" + std::to_string(unit.network_number);
    // YYYYMMDD-HHMMSS from the digits of "YYYY-MM-DD HH:MM:SS".
    std::string digits;
    for (char ch : issued)
        if (ch >= '0' && ch <= '9')
            digits += ch;
    if (digits.size() > 8)
        digits.insert(8, "-");
    return who + "-" + digits;
}

}  // namespace varnok::record
