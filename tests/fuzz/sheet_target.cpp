// Arbitrary bytes as a commissioning sheet, and as CSV records with either separator.
// Properties: a sheet is taken whole or refused with its faults, never both; its rows come in
// the order of their lines, after the header; bytes that are UTF-8 are never read as
// Windows-1251; records written back with every field quoted read back the same.
#include <string>
#include <string_view>

#include "cli/sheet.h"
#include "settings/utf8.h"
#include "targets.h"

namespace varnok::fuzz {

namespace {

std::string quoted(const std::vector<cli::CsvRecord>& records, char separator)
{
    std::string out;
    for (const cli::CsvRecord& r : records) {
        for (size_t f = 0; f < r.fields.size(); ++f) {
            out += f == 0 ? "\"" : std::string(1, separator) + "\"";
            for (const char c : r.fields[f])
                out += c == '"' ? std::string("\"\"") : std::string(1, c);
            out += '"';
        }
        out += "\r\n";
    }
    return out;
}

}  // namespace

int commission_sheet(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const cli::Sheet sheet = cli::parse_sheet(bytes);
    expect(sheet.rows.empty() || sheet.problems.empty(), "a sheet taken with faults");
    int line = 1;
    for (const cli::SheetRow& row : sheet.rows) {
        expect(row.line > line, "rows out of the order of their lines");
        line = row.line;
    }
    for (const std::string& p : sheet.problems)
        expect(p.rfind("таблица", 0) == 0, "a fault that does not say it is the sheet's");
    const std::string_view text = sheet.bom ? bytes.substr(3) : bytes;
    if (utf8::well_formed(text))
        expect(!sheet.cp1251, "UTF-8 read as Windows-1251");

    for (const char separator : {',', ';'}) {
        std::string problem;
        const std::vector<cli::CsvRecord> records = cli::csv_records(bytes, separator, problem);
        int at = 0;
        for (const cli::CsvRecord& r : records) {
            expect(r.line > at && !r.fields.empty(), "a record before its predecessor or without a field");
            at = r.line;
        }
        if (!problem.empty())
            continue;
        const std::vector<cli::CsvRecord> again = cli::csv_records(quoted(records, separator), separator, problem);
        expect(problem.empty() && again.size() == records.size(), "quoted records do not read back");
        for (size_t i = 0; i < again.size() && i < records.size(); ++i)
            expect(again[i].fields == records[i].fields, "a quoted record reads back otherwise");
    }
    return 0;
}

}  // namespace varnok::fuzz
