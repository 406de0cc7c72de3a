#pragma once
// A commissioning sheet as spreadsheets save it: `,` or `;` between cells, UTF-8 with or
// without a byte-order mark or Windows-1251, quoting as RFC 4180 has it. Pure functions of
// the file's bytes: nothing here touches a file or a device.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ops/configuration.h"

namespace varnok::cli {

// One record of a CSV text and the line it begins on (the first line is 1).
struct CsvRecord {
    int line = 0;
    std::vector<std::string> fields;
};

// The records of `text` with `separator` between fields: a field in double quotes may hold
// the separator, CR, LF and doubled quotes. Lines end with LF, CRLF or CR. An empty text has
// no records. On a quote left open or text after a closing quote, `problem` names the line
// and the records before it are returned.
std::vector<CsvRecord> csv_records(std::string_view text, char separator, std::string& problem);

struct SheetRow {
    int line = 0;  // where its record begins in the sheet, the header being line 1
    std::vector<Setting> settings;
    std::optional<uint8_t> from_address;
    std::optional<int32_t> from_speed;
    std::string unit_number;  // the unit's factory number, which its history records name
};

struct Sheet {
    char separator = ',';
    bool bom = false;     // the file began with UTF-8's byte-order mark
    bool cp1251 = false;  // the file was not UTF-8 and was read as Windows-1251
    std::vector<SheetRow> rows;
    // One line per fault found ("таблица, строка 3, столбец max1: ..."); when there is any,
    // `rows` is empty: a sheet is taken whole or not at all.
    std::vector<std::string> problems;
};

// The sheet in a file's bytes. Every row is checked; rows with no cell filled are skipped.
Sheet parse_sheet(std::string_view bytes);

}  // namespace varnok::cli
