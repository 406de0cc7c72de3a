#pragma once
// Values as the device's four-digit indicator takes them ("12.34": the digits 1234 with the
// point after the second), and the unit names, as text for files and command lines.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnok {

struct Entry {
    uint16_t number = 0;  // the four digits, 0..9999
    uint8_t decpos = 3;   // 0 d.ddd, 1 dd.dd, 2 ddd.d, 3 dddd
    bool operator==(const Entry&) const = default;
};

// Digits with at most one point, at most four digits in all and at most three after the
// point; no sign, no blanks. The point's place gives the decimal point position.
std::optional<Entry> parse_entry(std::string_view text);
// The text of an entry, with as many decimals as its point position gives: "12.34", "0.750".
std::string entry_text(const Entry& e);
// The entry that shows `value` with the point at `decpos` (rounded to the nearest digit);
// none when it needs more than four digits or is negative.
std::optional<Entry> entry_of(float value, uint8_t decpos);

// Unit codes 0..6 by name: "нет", "В", "кВ", "мА", "А", "кА", "Гц", or the Latin "V", "kV",
// "mA", "A", "kA", "Hz".
std::optional<uint8_t> unit_code(std::string_view name);
std::string unit_name(uint8_t code);
// Its ASCII SI symbol: "mA" for "мА", "" for none.
std::string unit_symbol(uint8_t code);

// The shortest decimal text that reads back as the same single-precision value.
std::string float_text(float value);

}  // namespace varnok
