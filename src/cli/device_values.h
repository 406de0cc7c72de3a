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

// One `set` item, checked before anything is sent.
struct Setting {
    enum Name { kBrightness, kScale, kUnit, kMax, kMin, kParity, kStopbits, kSpeed, kAddress };
    Name name;
    int channel = 0;  // 1..3 of the channel settings
    Entry entry;      // scale, max, min
    long number = 0;  // unit code, brightness, parity, stop bits, speed, address
};

// NAME=VALUE items in the order they are written: the device's own values first, the line
// settings after them and the address last, so that every write but the last goes out at the
// settings the tool started with. Throws UsageError naming the first bad item.
std::vector<Setting> parse_settings(const std::vector<std::string>& items);

// Writes the settings in order, stopping at the first the device did not take; true when all
// were taken. `changed_line` tells whether a speed, parity, stop bits or address was adopted.
bool write_settings(Session& s, const std::vector<Setting>& settings, bool& changed_line);

}  // namespace varnok::cli
