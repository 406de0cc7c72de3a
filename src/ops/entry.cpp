#include "ops/entry.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "device/records.h"

namespace varnok {

namespace {

constexpr std::array<const char*, 7> kUnitNames = {"нет", "В", "кВ", "мА", "А", "кА", "Гц"};
// The same units as SI symbols in ASCII, as a Latin keyboard types them.
constexpr std::array<const char*, 7> kUnitSymbols = {"", "V", "kV", "mA", "A", "kA", "Hz"};
constexpr int kDigits = 4;

}  // namespace

std::optional<Entry> parse_entry(std::string_view text)
{
    int digits = 0, after = -1;
    unsigned number = 0;
    for (char c : text) {
        if (c == '.' && after < 0) {
            after = 0;
            continue;
        }
        if (c < '0' || c > '9')
            return std::nullopt;
        number = number * 10 + unsigned(c - '0');
        ++digits;
        if (after >= 0)
            ++after;
    }
    if (digits == 0 || after == 0 || after > 3)
        return std::nullopt;
    // Leading zeros carry no digit of the indicator ("0012" is 12); what is left must fit.
    if (number > 9999 || (digits > kDigits && text.find_first_not_of("0.") < text.size() - size_t(kDigits) - 1))
        return std::nullopt;
    return Entry{uint16_t(number), uint8_t(after < 0 ? 3 : 3 - after)};
}

std::string entry_text(const Entry& e)
{
    const int decimals = e.decpos < 3 ? 3 - e.decpos : 0;
    if (decimals == 0)
        return std::to_string(e.number);
    const unsigned p = decimals == 1 ? 10 : decimals == 2 ? 100 : 1000;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%0*u", e.number / p, decimals, e.number % p);
    return buf;
}

std::optional<Entry> entry_of(float value, uint8_t decpos)
{
    const uint8_t pos = decpos < 3 ? decpos : 3;
    const double scaled = std::round(double(value) * std::pow(10.0, 3 - pos));
    if (!(scaled >= 0 && scaled <= 9999))
        return std::nullopt;
    return Entry{uint16_t(scaled), pos};
}

std::optional<uint8_t> unit_code(std::string_view name)
{
    for (size_t i = 0; i < kUnitNames.size(); ++i)
        if (name == kUnitNames[i] || (i > 0 && name == kUnitSymbols[i]))
            return uint8_t(i);
    return std::nullopt;
}

std::string unit_name(uint8_t code) { return code < kUnitNames.size() ? kUnitNames[code] : std::to_string(code); }

std::string unit_symbol(uint8_t code) { return code < kUnitSymbols.size() ? kUnitSymbols[code] : std::to_string(code); }

std::string float_text(float value)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, r.ptr);
}

}  // namespace varnok
