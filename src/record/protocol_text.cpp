#include "record/protocol_text.h"

#include <charconv>
#include <cmath>

#include "settings/utf8.h"

namespace varnok::record::text {

namespace {

std::string with_comma(std::string s)
{
    for (char& c : s)
        if (c == '.')
            c = ',';
    return s;
}

bool digits(const std::string& s, size_t from, size_t count)
{
    for (size_t i = from; i < from + count; ++i)
        if (i >= s.size() || s[i] < '0' || s[i] > '9')
            return false;
    return true;
}

}  // namespace

std::string fixed(double v, int decimals)
{
    if (!std::isfinite(v))
        return "—";
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    std::string s(buf, r.ptr);
    // A value that rounds to zero is shown without a sign.
    if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos)
        s.erase(0, 1);
    return with_comma(s);
}

std::string trimmed(double v, int decimals)
{
    std::string s = fixed(v, decimals);
    if (s.find(',') != std::string::npos) {
        while (s.back() == '0')
            s.pop_back();
        if (s.back() == ',')
            s.pop_back();
    }
    return s == "-0" ? "0" : s;
}

std::string shortest(float v)
{
    if (!std::isfinite(v))
        return "—";
    char buf[64];
    // The shortest digits that read back as the same float, never in exponent form: a
    // coefficient of 0.00005 prints as such, not as 5e-05.
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    return with_comma(std::string(buf, r.ptr));
}

std::string russian_date(const std::string& iso)
{
    if (iso.size() < 10 || !digits(iso, 0, 4) || iso[4] != '-' || !digits(iso, 5, 2) || iso[7] != '-' ||
        !digits(iso, 8, 2))
        return iso;
    return iso.substr(8, 2) + "." + iso.substr(5, 2) + "." + iso.substr(0, 4) + iso.substr(10);
}

const char* kind_name(CheckKind kind) { return kind == CheckKind::AsFound ? "до калибровки" : "после калибровки"; }

std::string with_unit(const std::string& title, const std::string& unit)
{
    return unit.empty() ? title : title + ", " + unit;
}

std::string printable(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size();) {
        const size_t at = i;
        const int32_t c = utf8::next_code_point(s, i);
        if (i == at)
            ++i;
        if (c < 0)
            out += '?';
        else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0))
            out += c == '\t' || c == '\n' || c == '\r' ? ' ' : '?';
        else
            out.append(s, at, i - at);
    }
    return out;
}

}  // namespace varnok::record::text
