#pragma once
// Commissioning a batch: one sheet row per device, each written, verified by reading back and
// reported in a file that a re-run continues from.

#include <optional>
#include <string>
#include <vector>

#include "cli/command_table.h"

namespace varnok::cli {

struct SheetRow {
    int line = 0;  // in the sheet, the header being line 1
    std::vector<Setting> settings;
    std::optional<uint8_t> from_address;
    std::optional<int32_t> from_speed;
    std::string error;  // why the row is refused; nothing is sent for it
};

// The fields of one CSV line; a field in double quotes may hold commas and doubled quotes.
std::vector<std::string> csv_fields(const std::string& line);
// The rows of a sheet. Throws UsageError for a header naming an unknown column.
std::vector<SheetRow> parse_sheet(const std::string& text);

Job commission_command(const Invocation& call);

}  // namespace varnok::cli
