#pragma once
// Calibration of the channels: the stored zero and full-scale coefficient read and written,
// the live zero readings and converter outputs that new values come from, averages of them,
// the trim of a converter output, and the two points of each PWM output. Every exchange is
// shown through a report; a refused write goes to a report of its own (the console shows it
// in a message box). Pauses go through a sleeper the caller chooses. What one step measures
// or computes for the next (the pending zero, converter output and coefficient of each
// channel) the calibration keeps itself; the device's records hold what the device said.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "device/records.h"
#include "ops/report.h"

namespace varnok {

class Device;
class Sleeper;

// The coefficient that turns a converter output into the scale's top value, in single precision.
float coefficient(float top, uint32_t output);

// Of a request made to channels 1, 2, 3 in turn: which channels (index 1..3) it succeeded for.
using PerChannel = std::array<bool, 4>;

enum PwmPoint : int { kPwmLow, kPwmHigh };

// What an average shows while it runs: each exchange, and a failed reading's error line, as a
// report; a good reading and the mean as numbers, for the caller to write out.
class AverageLines : public Report {
public:
    virtual void zero_reading(unsigned i, uint16_t zero) = 0;
    virtual void zero_mean(uint16_t mean) = 0;
    // A converter output with the coefficient it alone would give (a 0 taken as 1).
    virtual void output_reading(unsigned i, uint32_t output, double coefficient) = 0;
    virtual void output_mean(uint32_t mean, float coefficient) = 0;
};

// The trim of a converter output: an offset within 0..top over a base. A step past the top
// carries a whole range into the base, a step below 0 borrows one; both give the new output
// (offset + base). A base of 2^24 or more is no longer raised, one not above the top no
// longer lowered: the output then moves by the offset alone.
inline uint32_t trim_output(uint32_t base, uint8_t offset) { return offset + base; }
uint32_t trim_carry(uint32_t& base, uint8_t& offset, int top, uint8_t unit);
uint32_t trim_borrow(uint32_t& base, uint8_t& offset, int top, uint8_t unit);

class Calibration {
public:
    Calibration(Device& device, Report& report, Report& refusals, Sleeper& pauses)
        : d_(device), report_(report), refusals_(refusals), pauses_(&pauses)
    {
    }
    void set_pauses(Sleeper& pauses) { pauses_ = &pauses; }

    // The stored zero and coefficient of each channel (three registers from the zero), into
    // the channel records.
    PerChannel read_stored();
    // One channel's stored zero; its stored coefficient.
    uint8_t read_zero(int k);
    uint8_t read_coefficient(int k);

    struct Live {
        PerChannel read;                  // the live values
        std::array<uint8_t, 4> measured;  // the codes of the measured values read back after them
    };
    // The live zero readings of the three channels (each good one pending), then their
    // measured values.
    Live take_zeros();
    // The live converter outputs of the three channels (each good one pending), then their
    // measured values. The coefficients are not derived: an output of 0 stays 0 until then.
    Live take_outputs();
    uint8_t take_zero(int k);
    uint8_t take_output(int k);

    // The start of a session: the outputs awaiting a coefficient start at 1, so none is ever
    // derived from 0.
    void start_session();
    // The pending values: the zero a reading or an average gave, the converter output a
    // coefficient comes from, the coefficient derived from it.
    uint16_t pending_zero(int k) const { return zero_[size_t(k)]; }
    uint32_t pending_output(int k) const { return output_[size_t(k)]; }
    const LongRec& pending_coefficient(int k) const { return coefficient_[size_t(k)]; }

    // The output a coefficient is derived from, as the trim made it.
    void set_output(int k, uint32_t output);
    // The pending coefficient: the scale's top over the pending output; an output of 0
    // becomes 1 first.
    void derive_coefficient(int k);

    struct Written {
        uint8_t code;
        uint8_t measured;  // the read-back after the pause; only when the write was taken
    };
    // Writes a zero; a coefficient. When the device took it, the measured value is read back
    // after a pause that gives the device time to apply it.
    Written write_zero(int k, uint16_t zero);
    Written write_coefficient(int k, float coefficient);
    // The channel's measured value into Ch[k].Urms_te. Its exchange is not shown; a failure
    // is its error line.
    uint8_t read_back(int k);
    // The read-back after a step of a zero's up-down control, after a pause when the step wrote.
    uint8_t read_back_after_zero_step(int k, bool wrote);
    // The read-back after a trim step that wrote, after its pause.
    uint8_t read_back_after_trim_step(int k);

    // `n` = 2^log2n live zero readings, shown as they come; when all were good, their mean to
    // the nearest integer (halves going up) becomes the pending zero.
    std::optional<uint16_t> average_zero(int k, unsigned n, unsigned log2n, AverageLines& lines);
    // `n` converter outputs with a pause after each; when all were good, their mean becomes
    // the pending output and the coefficient of the mean the pending coefficient.
    std::optional<uint32_t> average_output(int k, unsigned n, unsigned log2n, AverageLines& lines);

    // Both PWM points of each channel, into the channel records.
    PerChannel read_pwm();
    // One channel's point (channels 1 and 2 read both).
    uint8_t read_pwm_point(int k, PwmPoint point);
    uint8_t write_pwm(int k, PwmPoint point, uint16_t value);
    // A write made by a step of a point's up-down control, and the pause after it.
    uint8_t step_pwm(int k, PwmPoint point, uint16_t value);

private:
    // The exchange just made, shown through the report; its code.
    uint8_t shown(const Exchange& x);
    // A request made to channels 1, 2, 3 in turn, each shown and judged on its own.
    PerChannel each_channel(const std::function<uint8_t(int)>& request);
    Live take_each(uint8_t (Calibration::*take)(int));
    Written written(int k, const Exchange& x);
    void pause(unsigned ms);

    Device& d_;
    Report& report_;
    Report& refusals_;
    Sleeper* pauses_;
    // Index 1..3. A good reading becomes pending as it comes, an average's mean after it.
    std::array<uint16_t, kChannels + 1> zero_{};
    std::array<uint32_t, kChannels + 1> output_{};
    std::array<LongRec, kChannels + 1> coefficient_{};
};

}  // namespace varnok
