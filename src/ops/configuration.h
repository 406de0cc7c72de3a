#pragma once
// The device's configuration as named values ("scale1=12.34", "speed=19200"): checked from
// text, read from the device, compared and written with the adoption the console makes. The
// command-line tool's `set`, its profiles and its commissioning, and the console's profile
// menu items share them.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "ops/entry.h"

namespace varnok {

class Device;
class Report;
class Sleeper;

// A value that cannot be taken; the text says which and why (Russian, one line).
class ValueError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A whole number within lo..hi; `what` names it in the message.
long parse_number(const std::string& text, long lo, long hi, const std::string& what);
int32_t parse_speed(const std::string& text);
uint8_t parse_parity(const std::string& text);
// "none", "odd", "even" of a parity code 0..2.
const char* parity_name(uint8_t parity);
uint8_t parse_stopbit(const std::string& text);

// One named value of the device, as `set` and profiles give it; checked before anything is sent.
struct Setting {
    // In the order of writing: the device's own values first, the line settings after them
    // and the address last, so that every write but the last goes out at the settings the tool
    // started with.
    enum Name {
        kBrightness,
        kScale,
        kUnit,
        kMax,
        kMin,
        kZero,
        kCoefficient,
        kPwmLow,
        kPwmHigh,
        kParity,
        kStopbits,
        kSpeed,
        kAddress
    };
    Name name;
    int channel = 0;  // 1..3 of the channel values
    Entry entry;      // scale, max, min, as the indicator takes them
    long number = 0;  // unit code, brightness, zero, PWM points, parity, stop bits, speed, address
    float real = 0;   // the coefficient; max and min as the device holds them

    std::string key() const;   // "scale1", "speed"
    // The value as `set` and profiles write it; "нет значения" for a float the device holds
    // that is not a number (an erased word), which no profile or `set` takes.
    std::string text() const;
    // Whether it is a float the device holds that is not a number: no device takes it back.
    bool no_number() const;
};

// The profile sections, as --only names them.
enum Section : unsigned { kInterface = 1, kScales = 2, kSetpoints = 4, kCalibration = 8, kAllSections = 15 };
unsigned section_of(Setting::Name name);
const char* section_name(unsigned section);
// "interface,scales" -> the sections' bits; throws ValueError for an unknown name.
unsigned parse_sections(const std::string& list);

// The setting a name stands for, its value unset. Throws ValueError for an unknown name.
Setting setting_named(const std::string& name, bool calibration);
// Every name a setting goes by ("brightness", "scale1", ...), calibration's where `calibration`
// allows them.
std::vector<std::string> setting_keys(bool calibration);
// One NAME=VALUE; calibration values (zeroN, coefficientN, pwm_lowN, pwm_highN) only where
// `calibration` allows them, that is in a profile, which also takes a setpoint as the device
// holds it (any finite number: -5, 25.094055) where `set` and sheets take an indicator entry.
// Throws ValueError naming the item.
Setting parse_setting(const std::string& name, const std::string& value, bool calibration);
// `set`'s items, each name once, in the order they are written.
std::vector<Setting> parse_settings(const std::vector<std::string>& items);

// Whether the device's value `have` is what `want` asks for.
bool holds(const Setting& have, const Setting& want);
// Every value of `want` the device does not hold, with the device's value as text ("?" when
// it gave none).
std::vector<std::pair<Setting, std::string>> differences(const std::vector<Setting>& have,
                                                         const std::vector<Setting>& want);

class Configuration {
public:
    Configuration(Device& device, Report& report, Sleeper& pauses) : d_(device), report_(report), pauses_(pauses) {}

    // The values of the sections as the addressed device holds them; `failed` when a read
    // failed (its values are left out).
    std::vector<Setting> read(unsigned sections, bool& failed);
    // Writes the settings in order, stopping at the first the device did not take; true when
    // all were taken. `changed_line` tells whether a speed, parity, stop bits or address was
    // adopted.
    bool write(const std::vector<Setting>& settings, bool& changed_line);

    struct Applied {
        bool all = false;           // every write was taken
        bool changed_line = false;  // as write() tells it
        bool read_failed = false;   // the read-back did not read everything
        // What the device does not hold afterwards, with its value: the changes themselves
        // when a write was refused.
        std::vector<std::pair<Setting, std::string>> left;
    };
    // Writes the `changes` (differences() from `want`) and reads the sections back.
    Applied apply(const std::vector<std::pair<Setting, std::string>>& changes, const std::vector<Setting>& want,
                  unsigned sections);

private:
    Device& d_;
    Report& report_;
    Sleeper& pauses_;
};

}  // namespace varnok
