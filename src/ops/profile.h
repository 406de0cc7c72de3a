#pragma once
// A device's configuration in a file: interface parameters, scales, setpoints and calibration
// as NAME=VALUE lines under their sections, versioned, with the device's name and version as
// comments, so that an engineer can read, compare and edit it.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ops/configuration.h"

namespace varnok {

class Device;
class Report;
class Sleeper;

inline constexpr int kProfileFormat = 1;

// The profile's text: the device's name and version in comments (control characters as '?'),
// the values by section, and the closing line with the checksum of all before it.
std::string profile_text(const std::vector<Setting>& settings, const std::string& name, const std::string& version);
// The settings of a profile, each name once and in its own section, and whether its closing
// line checked it. The text ends with a newline, and its last line, "# crc32=" and eight
// hexadecimal digits, is the CRC-32 of every byte before it; a profile of an earlier version
// has no such line and is taken unchecked. Throws ValueError with the line number of the first
// line it cannot take: a sum that does not match, a last line with no newline, a closing line
// that is not the last.
struct ProfileFile {
    std::vector<Setting> settings;
    bool checked = false;
};
ProfileFile parse_profile_file(const std::string& text);
std::vector<Setting> parse_profile(const std::string& text);
// The profile in a file (up to 64 KiB); ValueError names the path when it cannot be read.
ProfileFile read_profile_file(const std::string& path);
// Told of a profile taken unchecked, after its path.
inline constexpr const char* kUncheckedProfile =
    ": профиль без строки контрольной суммы (сохранён прежней версией), цел ли он, не проверить";
// The sections a load writes unless calibration is asked for by name: a device's zero,
// coefficient and PWM points are trims of its own unit, and another unit's would spoil its
// readings.
inline constexpr unsigned kLoadedSections = kInterface | kScales | kSetpoints;

// What a profile loads into a device: the values of the sections, but never the network
// number, so that a profile of one device clones it into another without two devices
// coming to share one number.
std::vector<Setting> loadable(const std::vector<Setting>& profile, unsigned sections);
// Whether the profile holds calibration values that a load of `sections` leaves alone.
bool leaves_calibration(const std::vector<Setting>& profile, unsigned sections);

// The addressed device's whole configuration as a profile's text, with its name and version
// ("?" for one not read). `complete` is false when a value could not be read: such a text
// is not to be saved.
struct DeviceProfile {
    bool complete = false;
    std::string text;
    size_t values = 0;                  // value lines in the text
    std::vector<std::string> left_out;  // keys of values that are no number, told in comments
};
DeviceProfile read_device_profile(Device& device, Report& report, Sleeper& pauses);

// What differs between the device and a profile, each with the device's value as text.
using Changes = std::vector<std::pair<Setting, std::string>>;

// A profile loaded into the addressed device, as the console and the tool both do it: the
// device's values of the sections read and compared with the file's loadable ones; the
// differences, when there are any, go to `confirm`, and only after its yes are they written
// and the sections read back.
struct ProfileLoad {
    enum Outcome {
        kReadFailed,   // the device's values were not read whole: nothing written
        kAlreadyHeld,  // nothing differs: nothing asked, nothing written
        kDeclined,     // `confirm` said no
        kApplied,      // written and read back: `done` says how it went
    };
    Outcome outcome = kReadFailed;
    Changes changes;
    Configuration::Applied done;
    // Written, and every value of the file held on the read-back.
    bool complete() const { return outcome == kApplied && done.all && !done.read_failed && done.left.empty(); }
};
ProfileLoad load_profile(Configuration& config, const std::vector<Setting>& profile, unsigned sections,
                         const std::function<bool(const Changes&)>& confirm);

}  // namespace varnok
