#pragma once
// The readings' requests: the full poll and the periodic tick, the single reads a click on a
// field makes, the indicator brightness, the device's name and version. Each operation says
// which reads succeeded; what a read brought is in the device records.

#include <array>
#include <cstdint>

#include "device/records.h"
#include "ops/scales.h"

namespace varnok {

class Device;
class Report;

// What one poll read. A read that failed leaves its channel's values as they were.
struct PollResult {
    struct Channel {
        bool scale = false;      // its scale
        bool setpoints = false;  // its two setpoints
        bool measured = false;   // its measured value
        bool percent = false;    // and the percentage of the scale made of it (none of a zero scale)
        float Urms_proc = 0;     // that percentage, when there is one
    };
    std::array<Channel, kChannels + 1> ch{};  // index 1..3
    bool freq = false;
};

struct TickResult {
    enum Outcome {
        kPolled,            // the number answered and was polled
        kStoppedAnswering,  // the number had a speed but did not answer: polling ends
        kSpeedLost,         // no speed known for the number: nothing sent, the tick counted
    };
    Outcome outcome = kPolled;
    PollResult poll;       // of kPolled
    bool give_up = false;  // of kSpeedLost: too many such ticks in a row, no more are wanted
};

class Polling {
public:
    Polling(Device& device, Report& report);

    // The start of a session: the port set up anew and the number asked once, unseen. When it
    // answers, its speed is noted for the tick; true then.
    bool attach();
    // The start-up probe of the number in force at the line's settings: the speed code it
    // answered at, noted for it (0 for none).
    uint8_t probe();

    // One poll: with `full` the scales and setpoints of the three channels first; then their
    // measured values (and percentages), the frequency, and the PWM points. Each channel's
    // read stands on its own answer.
    PollResult zapros_par(bool full);
    // A periodic tick: when the number has a known speed, an address check and a poll of the
    // measured values; `period_s` goes into its status text.
    TickResult tick(int period_s);

    bool read_freq();
    // Channel k's measured value alone (no percentage).
    bool read_measured(int k);
    bool read_scale(int k);
    bool read_light();
    // Writes a brightness 1..3, unless it is the one the device last reported. A busy
    // device's later answer is taken without asking again. The code (good when nothing was
    // written).
    uint8_t write_light(uint8_t brightness);
    // The device's name, its software version; the text is the device's tmp_text().
    bool read_name();
    bool read_version();

    // Ticks in a row at a number with no known speed.
    uint8_t u_err() const { return u_err_; }

private:
    bool read_text(uint16_t first_register);

    uint8_t u_err_ = 0;

    Device& d_;
    Report& report_;
    Scales scales_;
};

}  // namespace varnok
