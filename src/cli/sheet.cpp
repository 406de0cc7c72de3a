#include "cli/sheet.h"

#include <algorithm>
#include <span>
#include <unordered_map>
#include <unordered_set>

#include "cli/options.h"
#include "device/cp1251.h"
#include "device/device.h"
#include "settings/utf8.h"

namespace varnok::cli {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool line_end(char c) { return c == '\n' || c == '\r'; }

// The line of the text's byte `at`, the first being 1.
int line_of(std::string_view text, size_t at)
{
    return 1 + int(std::count(text.begin(), text.begin() + std::ptrdiff_t(at), '\n'));
}

// `;` when the header line has one outside quotes or no `,` (a one-column sheet, where a comma
// can only be a decimal one); `,` otherwise.
char separator_of(std::string_view text)
{
    bool quoted = false, comma = false;
    for (const char c : text) {
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && line_end(c))
            break;
        else if (!quoted && c == ';')
            return ';';
        else if (!quoted && c == ',')
            comma = true;
    }
    return comma ? ',' : ';';
}

// A value with a decimal comma, as a `;` sheet holds it, with a point.
std::string with_point(const std::string& value)
{
    if (std::count(value.begin(), value.end(), ',') != 1 || value.find('.') != std::string::npos)
        return value;
    std::string out = value;
    std::replace(out.begin(), out.end(), ',', '.');
    return out;
}

// Columns that say which unit a row is and where it answers, not what is written to it.
bool row_column(const std::string& column)
{
    return column == "from_address" || column == "from_speed" || column == "unit_number";
}

// A factory number as a cell gives it: printable, one line, at most 64 bytes.
std::string parse_unit_number(const std::string& cell)
{
    if (cell.size() > 64)
        throw UsageError("заводской номер длиннее 64 байт");
    if (std::any_of(cell.begin(), cell.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
        throw UsageError("в заводском номере управляющий символ");
    return cell;
}

bool holds_decimals(const std::string& column)
{
    if (row_column(column))
        return false;
    const Setting::Name name = setting_named(column, false).name;
    return name == Setting::kScale || name == Setting::kMax || name == Setting::kMin;
}

// The header's faults: unknown, calibration and repeated columns, each name told once at its
// first place. Names are counted in a table: a header of 100,000 names is checked at once.
void check_header(const std::vector<std::string>& header, std::vector<std::string>& problems)
{
    std::unordered_map<std::string_view, size_t> times;
    for (const std::string& name : header)
        ++times[name];
    std::unordered_set<std::string_view> told;
    for (const std::string& name : header) {
        if (name.empty())
            continue;  // allowed while its cells are empty
        if (!told.insert(name).second)
            continue;
        const std::string shown = utf8::visible(name);
        if (const size_t n = times[name]; n > 1)
            problems.push_back("таблица, строка 1: столбец \"" + shown + "\" назван " + std::to_string(n) +
                               " раза, а значение у параметра одно");
        if (row_column(name))
            continue;
        Setting column{};
        try {
            column = setting_named(name, true);
        } catch (const UsageError&) {
            problems.push_back("таблица, строка 1: неизвестный столбец \"" + shown + "\"");
            continue;
        }
        // A unit's calibration is its own: a sheet of a batch never writes it.
        if (section_of(column.name) == kCalibration)
            problems.push_back("таблица, строка 1: столбец \"" + shown +
                               "\": калибровка у каждого прибора своя, таблица её не записывает");
    }
}

// One row's values; its faults, one line per cell, go to `problems`.
SheetRow parse_row(const CsvRecord& record, const std::vector<std::string>& header, char separator,
                   std::vector<std::string>& problems)
{
    SheetRow row;
    row.line = record.line;
    const std::string where = "таблица, строка " + std::to_string(record.line);
    if (record.fields.size() != header.size()) {
        problems.push_back(where + ": " + std::to_string(record.fields.size()) + " столбцов вместо " +
                           std::to_string(header.size()));
        return row;
    }
    for (size_t c = 0; c < header.size(); ++c) {
        const std::string& name = header[c];
        const std::string& cell = record.fields[c];
        if (cell.empty())
            continue;
        if (name.empty()) {
            problems.push_back(where + ", столбец " + std::to_string(c + 1) + ": значение в столбце без имени");
            continue;
        }
        try {
            const std::string value = separator == ';' && holds_decimals(name) ? with_point(cell) : cell;
            if (name == "from_address")
                row.from_address = uint8_t(parse_number(value, kMinSysNum, kMaxSysNum, name));
            else if (name == "from_speed")
                row.from_speed = parse_speed(value);
            else if (name == "unit_number")
                row.unit_number = parse_unit_number(cell);
            else
                row.settings.push_back(parse_setting(name, value, false));
        } catch (const UsageError& e) {
            problems.push_back(where + ", столбец " + name + ": " + e.what());
        }
    }
    std::stable_sort(row.settings.begin(), row.settings.end(),
                     [](const Setting& a, const Setting& b) { return a.name < b.name; });
    return row;
}

}  // namespace

std::vector<CsvRecord> csv_records(std::string_view text, char separator, std::string& problem)
{
    std::vector<CsvRecord> out;
    problem.clear();
    int line = 1;
    size_t i = 0;
    while (i < text.size()) {
        CsvRecord record;
        record.line = line;
        record.fields.emplace_back();
        for (;;) {
            std::string& field = record.fields.back();
            if (text[i] == '"') {
                const int opened = line;
                for (++i;; ++i) {
                    if (i == text.size()) {
                        problem = "строка " + std::to_string(opened) + ": кавычка не закрыта до конца файла";
                        return out;
                    }
                    if (text[i] == '"') {
                        if (i + 1 < text.size() && text[i + 1] == '"')
                            ++i;
                        else
                            break;
                    }
                    // A line ends at LF, CRLF or CR: CRLF counts once.
                    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')))
                        ++line;
                    field += text[i];
                }
                ++i;
                if (i < text.size() && text[i] != separator && !line_end(text[i])) {
                    problem = "строка " + std::to_string(line) +
                              ": после закрывающей кавычки ещё знаки (кавычка внутри ячейки пишется двумя: \"\")";
                    return out;
                }
            } else {
                while (i < text.size() && text[i] != separator && !line_end(text[i]))
                    field += text[i++];
            }
            if (i == text.size())
                break;
            if (text[i] == separator) {
                ++i;
                record.fields.emplace_back();
                if (i == text.size())
                    break;
                continue;
            }
            i += text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
            ++line;
            break;
        }
        out.push_back(std::move(record));
    }
    return out;
}

Sheet parse_sheet(std::string_view bytes)
{
    Sheet sheet;
    sheet.bom = bytes.substr(0, kBom.size()) == kBom;
    if (sheet.bom)
        bytes.remove_prefix(kBom.size());
    if (const size_t zero = bytes.find('\0'); zero != std::string_view::npos) {
        sheet.problems.push_back("таблица, строка " + std::to_string(line_of(bytes, zero)) +
                                 ": нулевой байт; таблица читается как текст CSV (UTF-8 или Windows-1251)");
        return sheet;
    }
    std::string text;
    if (utf8::well_formed(bytes)) {
        text = bytes;
    } else if (sheet.bom) {
        sheet.problems.push_back("таблица начинается с метки UTF-8, но дальше не в UTF-8");
        return sheet;
    } else {
        // Not UTF-8: a spreadsheet's "CSV" under Russian regional settings writes Windows-1251.
        sheet.cp1251 = true;
        text = cp1251_to_utf8(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    }
    sheet.separator = separator_of(text);
    std::string problem;
    const std::vector<CsvRecord> records = csv_records(text, sheet.separator, problem);
    if (!problem.empty()) {
        sheet.problems.push_back("таблица, " + problem);
        return sheet;
    }
    if (records.empty()) {
        sheet.problems.push_back("таблица пуста");
        return sheet;
    }
    const std::vector<std::string>& header = records.front().fields;
    check_header(header, sheet.problems);
    if (!sheet.problems.empty())
        return sheet;
    for (size_t r = 1; r < records.size(); ++r) {
        const std::vector<std::string>& f = records[r].fields;
        if (std::all_of(f.begin(), f.end(), [](const std::string& cell) { return cell.empty(); }))
            continue;
        sheet.rows.push_back(parse_row(records[r], header, sheet.separator, sheet.problems));
    }
    if (!sheet.problems.empty())
        sheet.rows.clear();
    return sheet;
}

}  // namespace varnok::cli
