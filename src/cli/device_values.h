#pragma once
// The device's configuration and readings as printable values, and the settings of `set`.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/value.h"
#include "ops/entry.h"

namespace varnok {
class Device;
}

namespace varnok::cli {

class Session;

// Reads everything `info` shows from the addressed device; `failed` is set when a read failed
// (its value stays null). A device that gives neither its name nor its version is taken for
// absent: nothing more is asked of it.
Value read_info(Session& s, bool& failed);

// One named value of the device, as `set` and profiles give it; checked before anything is sent.
struct Setting {
    // In the order of writing: the device's own values first, the line settings after them
    // and the address last, so that every write but the last goes out at the settings the tool
    // started with.
    enum Name { kBrightness, kScale, kUnit, kMax, kMin, kZero, kCoefficient, kPwmLow, kPwmHigh, kParity, kStopbits, kSpeed, kAddress };
    Name name;
    int channel = 0;  // 1..3 of the channel values
    Entry entry;      // scale, max, min, as the indicator takes them
    long number = 0;  // unit code, brightness, zero, PWM points, parity, stop bits, speed, address
    float real = 0;   // the coefficient; max and min as the device holds them

    std::string key() const;   // "scale1", "speed"
    std::string text() const;  // the value as `set` and profiles write it
};

// The profile sections, as --only names them.
enum Section : unsigned { kInterface = 1, kScales = 2, kSetpoints = 4, kCalibration = 8, kAllSections = 15 };
unsigned section_of(Setting::Name name);
const char* section_name(unsigned section);
// "interface,scales" -> the sections' bits; throws UsageError for an unknown name.
unsigned parse_sections(const std::string& list);

// One NAME=VALUE; calibration values (zeroN, coefficientN, pwm_lowN, pwm_highN) only where
// `calibration` allows them. Throws UsageError naming the item.
Setting parse_setting(const std::string& name, const std::string& value, bool calibration);
// `set`'s items, each name once, in the order they are written.
std::vector<Setting> parse_settings(const std::vector<std::string>& items);

// Reads the values of the sections from the addressed device; `failed` when a read failed
// (its values are left out).
std::vector<Setting> read_settings(Session& s, unsigned sections, bool& failed);
// Whether the device's value `have` is what `want` asks for.
bool holds(const Setting& have, const Setting& want);

// Writes the settings in order, stopping at the first the device did not take; true when all
// were taken. `changed_line` tells whether a speed, parity, stop bits or address was adopted.
bool write_settings(Session& s, const std::vector<Setting>& settings, bool& changed_line);

}  // namespace varnok::cli
