#include "device/cp1251.h"

#include <array>

namespace varnok {

namespace {

// Unicode code points of the bytes 80..FF hex; FFFD marks the one unassigned byte.
constexpr std::array<char16_t, 128> kUpper = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

void append_utf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string cp1251_to_utf8(std::span<const uint8_t> bytes)
{
    std::string out;
    for (const uint8_t b : bytes) {
        if (b == 0)
            break;
        append_utf8(out, b < 0x80 ? char32_t(b) : char32_t(kUpper[b - 0x80]));
    }
    return out;
}

std::string utf8_to_cp1251(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<uint8_t>(text[i]);
        char32_t c = 0;
        size_t len = 1;
        if (lead < 0x80) {
            c = lead;
        } else if ((lead & 0xE0) == 0xC0 && i + 1 < text.size()) {
            c = char32_t(lead & 0x1F) << 6 | (text[i + 1] & 0x3F);
            len = 2;
        } else if ((lead & 0xF0) == 0xE0 && i + 2 < text.size()) {
            c = char32_t(lead & 0x0F) << 12 | char32_t(text[i + 1] & 0x3F) << 6 | (text[i + 2] & 0x3F);
            len = 3;
        } else {
            c = 0xFFFD;
            len = (lead & 0xF8) == 0xF0 ? 4 : 1;
        }
        i += len;
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        char byte = '?';
        for (size_t k = 0; k < kUpper.size(); ++k)
            if (kUpper[k] == c && c != 0xFFFD) {
                byte = static_cast<char>(0x80 + k);
                break;
            }
        out += byte;
    }
    return out;
}

}  // namespace varnok
