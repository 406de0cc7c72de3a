// The trim of the full-scale converter output, and the two points of each PWM output.
#include "device/device.h"
#include "ops/calibration.h"

namespace varnok {

namespace {

constexpr uint32_t kBaseCeiling = 16777216;  // a carry no longer raises a base this high

// Per channel (index 1..3): whether a read of one point reads both (channel 3 reads only the
// one asked for), and the pause after a lower point's step has written it.
constexpr std::array<bool, 4> kReadsBothPoints = {false, true, true, false};
constexpr std::array<unsigned, 4> kPwmLowStepPauseMs = {0, 300, 500, 500};
constexpr unsigned kPwmHighStepPauseMs = 400;

constexpr uint16_t pwm_register(int k, PwmPoint point)
{
    return channel_base(k) + (point == kPwmLow ? kOffPWML : kOffPWMH);
}

}  // namespace

uint32_t trim_carry(uint32_t& base, uint8_t& offset, int top, uint8_t unit)
{
    offset = unit;
    if (base < kBaseCeiling)
        base += static_cast<uint32_t>(top);
    return trim_output(base, offset);
}

uint32_t trim_borrow(uint32_t& base, uint8_t& offset, int top, uint8_t unit)
{
    offset = static_cast<uint8_t>(top - unit);
    if (base > uint32_t(top))
        base -= static_cast<uint32_t>(top);
    return trim_output(base, offset);
}

PerChannel Calibration::read_pwm()
{
    return each_channel([&](int k) { return shown(d_.zapros_PWM(k)); });
}

uint8_t Calibration::read_pwm_point(int k, PwmPoint point)
{
    return shown(kReadsBothPoints[size_t(k)] ? d_.zapros_PWM(k) : d_.read_holding(pwm_register(k, point), 1));
}

uint8_t Calibration::write_pwm(int k, PwmPoint point, uint16_t value)
{
    const Exchange x = d_.write_holding(pwm_register(k, point), value);
    checked(refusals_, x);
    return x.err;
}

uint8_t Calibration::step_pwm(int k, PwmPoint point, uint16_t value)
{
    const uint8_t e = write_pwm(k, point, value);
    pause(point == kPwmLow ? kPwmLowStepPauseMs[size_t(k)] : kPwmHighStepPauseMs);
    return e;
}

}  // namespace varnok
