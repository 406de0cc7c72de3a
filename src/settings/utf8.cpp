#include "settings/utf8.h"

namespace varnok::utf8 {

namespace {

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

int32_t next_code_point(std::string_view s, size_t& i)
{
    const auto byte = [&](size_t k) { return uint8_t(s[k]); };
    const uint8_t lead = byte(i++);
    if (lead < 0x80)
        return lead;
    size_t more = 0;
    int32_t c = 0, least = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1, c = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2, c = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3, c = lead & 0x07, least = 0x10000;
    } else {
        return -1;
    }
    for (; more > 0; --more, ++i) {
        if (i >= s.size() || (byte(i) & 0xC0) != 0x80)
            return -1;
        c = (c << 6) | (byte(i) & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return -1;
    return c;
}

bool well_formed(std::string_view s)
{
    for (size_t i = 0; i < s.size();)
        if (next_code_point(s, i) < 0)
            return false;
    return true;
}

std::string visible(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = uint8_t(s[i]);
        if (c < 0x20 || c == 0x7F) {
            out += '?';
        } else if (c == 0xC2 && i + 1 < s.size() && uint8_t(s[i + 1]) >= 0x80 && uint8_t(s[i + 1]) <= 0x9F) {
            out += '?';  // U+0080..U+009F
            ++i;
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string percent_decoded(std::string_view s, PercentFault* fault)
{
    if (fault)
        *fault = PercentFault::kNone;
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const int hi = s[i] == '%' && i + 2 < s.size() ? hex_digit(s[i + 1]) : -1;
        const int lo = hi >= 0 ? hex_digit(s[i + 2]) : -1;
        if (fault && s[i] == '%' && (lo < 0 || (hi == 0 && lo == 0))) {
            *fault = lo < 0 ? PercentFault::kMalformed : PercentFault::kZero;
            return out;
        }
        if (lo >= 0) {
            out += char(hi * 16 + lo);
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

}  // namespace varnok::utf8
