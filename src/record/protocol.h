#pragma once
// The unit's record of one accuracy check: what was applied at each test point, what the
// channel measured, the errors and the verdicts, the calibration constants, and who checked
// the unit against what. The operations fill it in; the protocol's renderers (PDF, CSV) and
// the front ends read it. Plain values only, so that every layer may hold one.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnok::record {

inline constexpr const char* kFit = "годен";
inline constexpr const char* kUnfit = "не годен";

// The instrument the reference values come from, and the due date of its own calibration.
struct ReferenceInstrument {
    std::string name;
    std::string number;
    std::string due_date;  // YYYY-MM-DD
};

// One test point of one channel.
struct CheckPoint {
    double percent = 0;    // of the channel's scale, -10..110
    double nominal = 0;    // percent x full-scale value / 100
    double reference = 0;  // what the reference instrument showed (the nominal unless typed)
    unsigned samples = 0;  // readings asked for
    std::vector<double> readings;  // those taken, in the channel's unit
    // Of the readings, only when all that were asked for were taken:
    double mean = 0, min = 0, max = 0, stdev = 0;
    double error = 0;          // mean - reference, in the channel's unit
    double reduced_error = 0;  // error / full-scale value x 100, in percent of the span
    // Empty when every reading was taken; else the one line that says why the point failed
    // (the read that failed, with its error text).
    std::string failure;
    bool measured() const { return failure.empty() && samples > 0 && readings.size() == samples; }
    // Measured and |reduced_error| <= tolerance.
    bool fit = false;
};

// A channel's stored zero and full-scale coefficient, as read back from the device.
struct Constants {
    bool read = false;  // false: the read failed and the values mean nothing
    uint16_t zero = 0;
    float coefficient = 0;
};

// One channel's check.
struct ChannelCheck {
    int channel = 1;          // 1..3
    double full_scale = 0;    // the scale's top value (Ustavka)
    std::string unit;         // the scale's unit text, trimmed ("В", "мА"...)
    Constants constants;      // read at the start of the check
    std::vector<CheckPoint> points;
    // Every point measured and fit.
    bool fit = false;
    const char* verdict() const { return fit ? kFit : kUnfit; }
};

enum class CheckKind { AsFound, AsLeft };

// One run of the check over the channels chosen.
struct CheckRun {
    CheckKind kind = CheckKind::AsFound;
    std::string started;  // local date and time, YYYY-MM-DD HH:MM:SS
    double tolerance = 0.5;  // accuracy class, percent of span
    std::vector<ChannelCheck> channels;
    bool fit() const
    {
        if (channels.empty())
            return false;
        for (const ChannelCheck& c : channels)
            if (!c.fit)
                return false;
        return true;
    }
};

// The unit checked: what the device told and what the engineer typed.
struct Unit {
    std::string name;            // as read from the device
    std::string version;         // as read from the device
    std::string factory_number;  // typed: the device has no register for it
    int network_number = 0;      // sys_num
    std::string line;            // the port and its settings, e.g. "COM1 9600 8N1" or a tcp:// address
};

// The protocol: one unit, one engineer, one reference, an as-found and an as-left run (either
// may be missing).
struct Protocol {
    std::string number;     // unique per unit and time
    std::string issued;     // local date and time, YYYY-MM-DD HH:MM:SS
    Unit unit;
    std::string engineer;
    ReferenceInstrument reference;
    double tolerance = 0.5;
    std::optional<CheckRun> as_found;
    std::optional<CheckRun> as_left;
    // The last run's verdict: as left when there is one, else as found.
    bool fit() const { return as_left ? as_left->fit() : as_found ? as_found->fit() : false; }
    const char* verdict() const { return fit() ? kFit : kUnfit; }
};

}  // namespace varnok::record
