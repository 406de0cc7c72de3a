#include "settings/utf8.h"

namespace varnok::utf8 {

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

}  // namespace varnok::utf8
