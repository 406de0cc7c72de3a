#pragma once
// A device's configuration in a file: interface parameters, scales, setpoints and calibration
// as NAME=VALUE lines under their sections, versioned, with the device's name and version as
// comments, so that an engineer can read, compare and edit it.

#include <string>
#include <vector>

#include "ops/configuration.h"

namespace varnok {

inline constexpr int kProfileFormat = 1;

std::string profile_text(const std::vector<Setting>& settings, const std::string& name, const std::string& version);
// The settings of a profile, each name once and in its own section. Throws ValueError with
// the line number of the first line it cannot take.
std::vector<Setting> parse_profile(const std::string& text);
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

}  // namespace varnok
