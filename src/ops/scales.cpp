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
    const Exchange x = d_.zapros_pars_nastr_SCL_new(k);
    checked(report_, x);
    return x.err;
}

void Scales::report_write(const char* prefix, const Exchange& x)
{
    report_.failed(x, std::to_string(x.pr_out) + prefix + x.msg_buf_error());
}

Scales::Written Scales::write_scale(int k, uint16_t number, uint8_t decpos, uint8_t unit)
{
    const float value = entry_value(number, decpos);
    const uint16_t base = channel_base(k);

    Written w{};
    const Exchange top = d_.write_holding_pair(base + kOffUstavka, value);
    w.value = top.err;
    report_.exchange(top);
    if (!top.ok())
        report_write("2:", top);
    else
        d_.took_ustavka(k, value);

    const Exchange format = d_.write_holding(base + kOffScale, uint16_t(decpos * 256 + unit));
    w.format = format.err;
    report_.exchange(format);
    if (!format.ok()) {
        report_write("2:", format);
        return w;
    }
    // With both in the device, the readings show the new value with its own point and unit.
    if (w.value == kOk) {
        d_.took_format(k, decpos, unit);
    }
    return w;
}

uint8_t Scales::read_setpoints(int k)
{
    const Exchange x = d_.zapros_pars_nastr_UST_new(k);
    checked(report_, x);
    return x.err;
}

uint8_t Scales::write_setpoint(int k, Limit limit, uint16_t number, uint8_t decpos)
{
    return write_setpoint(k, limit, entry_value(number, decpos));
}

uint8_t Scales::write_setpoint(int k, Limit limit, float value)
{
    const Exchange x = d_.write_holding_pair(channel_base(k) + (limit == kMax ? kOffMax : kOffMin), value);
    report_.exchange(x);
    if (!x.ok()) {
        // The upper setpoint's line names its channel; the lower one's is "2:" for all three.
        const std::string prefix = limit == kMax ? " " + std::to_string(k) + ":" : "2:";
        report_write(prefix.c_str(), x);
    }
    return x.err;
}

}  // namespace varnok
