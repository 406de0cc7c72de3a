#include <cstdio>

#include "support/hex.h"

namespace varnok::test {

std::string hex(const Bytes& bytes)
{
    std::string s;
    char pair[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(pair, sizeof pair, i ? " %.2X" : "%.2X", unsigned(bytes[i]));
        s += pair;
    }
    return s;
}

Bytes unhex(const std::string& text)
{
    Bytes out;
    unsigned v = 0;
    int digits = 0;
    for (const char c : text) {
        int d = -1;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        if (d < 0)
            continue;
        v = v * 16 + unsigned(d);
        if (++digits == 2) {
            out.push_back(uint8_t(v));
            v = 0;
            digits = 0;
        }
    }
    return out;
}

}  // namespace varnok::test
