#include "ops/scales.h"

#include <string>

#include "device/device.h"
#include "ops/report.h"

namespace varnok {

float entry_value(uint16_t number, uint8_t decpos)
{
    static constexpr float kDivisor[] = {1000.0f, 100.0f, 10.0f};
    const float v = float(number);
    return decpos < 3 ? v / kDivisor[decpos] : v;
}

uint8_t Scales::read_scale(int k)
{
    const uint8_t e = d_.zapros_pars_nastr_SCL_new(k);
    checked(report_, d_.mb, e);
    return e;
}

void Scales::report_write(const char* prefix, uint8_t code)
{
    report_.line(std::to_string(d_.link.pr_out) + prefix + d_.mb.msg_buf_error(code));
}

Scales::Written Scales::write_scale(int k, uint16_t number, uint8_t decpos, uint8_t unit)
{
    const float value = entry_value(number, decpos);
    const uint16_t base = channel_base(k);
    TParSCL& scale = d_.parScl[size_t(k)];

    Written w{};
    w.value = d_.write_holding_pair(base + kOffUstavka, value);
    report_.exchange(d_.mb);
    if (w.value != kOk)
        report_write("2:", w.value);
    else
        scale.Ustavka.set_float(value);

    w.format = d_.write_holding(base + kOffScale, uint16_t(decpos * 256 + unit));
    report_.exchange(d_.mb);
    if (w.format != kOk) {
        report_write("2:", w.format);
        return w;
    }
    // With both in the device, the readings show the new value with its own point and unit.
    if (w.value == kOk) {
        scale.DecPosition = decpos;
        scale.Measure = unit;
    }
    return w;
}

uint8_t Scales::read_setpoints(int k)
{
    const uint8_t e = d_.zapros_pars_nastr_UST_new(k);
    checked(report_, d_.mb, e);
    return e;
}

uint8_t Scales::write_setpoint(int k, Limit limit, uint16_t number, uint8_t decpos)
{
    const uint8_t e =
        d_.write_holding_pair(channel_base(k) + (limit == kMax ? kOffMax : kOffMin), entry_value(number, decpos));
    report_.exchange(d_.mb);
    if (e != kOk) {
        // The upper setpoint's line names its channel; the lower one's is "2:" for all three.
        const std::string prefix = limit == kMax ? " " + std::to_string(k) + ":" : "2:";
        report_write(prefix.c_str(), e);
    }
    return e;
}

}  // namespace varnok
