#pragma once
// The device's records as the console keeps them, and the texts their codes stand for.

#include <array>
#include <bit>
#include <cstdint>

namespace varnok {

inline constexpr int kChannels = 3;

// One 32-bit device quantity, seen as an integer, a single-precision float or its words.
struct LongRec {
    uint32_t Long = 0;

    float as_float() const { return std::bit_cast<float>(Long); }
    void set_float(float f) { Long = std::bit_cast<uint32_t>(f); }
    uint16_t Lo() const { return static_cast<uint16_t>(Long); }
    uint16_t Hi() const { return static_cast<uint16_t>(Long >> 16); }
    uint8_t byte(int i) const { return static_cast<uint8_t>(Long >> (8 * i)); }
};

// Scale of a channel.
struct TParSCL {
    LongRec Ustavka;          // full-scale value, engineering units
    uint8_t DecPosition = 0;  // 0 "d.ddd" .. 3 "dddd"
    uint8_t Measure = 0;      // unit code, 0..6
    uint8_t Shift = 0;        // leading-blank pattern, kept by the console
};

// Setpoints of a channel.
struct TParUST {
    LongRec Max;
    uint8_t DecPositionMax = 0;
    LongRec Min;
    uint8_t DecPositionMin = 0;
    LongRec PWMH;
    LongRec PWML;
};

// Measurements and calibration of a channel.
struct TParChannel {
    float Urms_te = 0;    // engineering units
    LongRec Ncal;         // stored full-scale coefficient
    uint16_t Ref = 0;     // stored zero calibration
    LongRec new_ADCout;    // converter output last read
    uint16_t new_Ref = 0;  // zero reading last read
    uint16_t PWMH = 0;
    uint16_t PWML = 0;
};

// Unit texts by unit code; the one-letter units carry a trailing blank.
inline constexpr std::array<const char*, 7> txt_mes = {"  ", "В ", "кВ", "мА", "А ", "кА", "Гц"};
// Decimal-point patterns by decimal point position.
inline constexpr std::array<const char*, 4> txt_decpos = {"d.ddd", "dd.dd", "ddd.d", "dddd"};
// Leading-blank patterns.
inline constexpr std::array<const char*, 4> txt_shift = {"dddd", "_ddd", "__dd", "___d"};

// Table texts that tolerate a code outside the table: empty rather than out of bounds.
inline const char* unit_text(uint8_t measure) { return measure < txt_mes.size() ? txt_mes[measure] : ""; }
inline const char* decpos_text(uint8_t pos) { return pos < txt_decpos.size() ? txt_decpos[pos] : ""; }

}  // namespace varnok
