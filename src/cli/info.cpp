#include "cli/info.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "cli/options.h"
#include "cli/session.h"
#include "ops/calibration.h"
#include "ops/interface_params.h"
#include "ops/polling.h"
#include "ops/scales.h"

namespace varnok::cli {

namespace {

Value num(float v) { return Value::real(v); }

// A value with the decimals of its point, as the indicator shows it; the plain value when the
// four digits cannot hold it.
Value shown(float v, uint8_t decpos)
{
    const std::optional<Entry> e = entry_of(v, decpos);
    return e && std::isfinite(v) ? Value::number(entry_text(*e)) : num(v);
}

Value maybe(bool ok, Value v) { return ok ? std::move(v) : Value(); }

}  // namespace

Value channel_settings(const Device& d, const PollResult& poll)
{
    Value channels = Value::array();
    for (int k = 1; k <= kChannels; ++k) {
        const PollResult::Channel& c = poll.ch[size_t(k)];
        const TParSCL& scl = d.parScl(size_t(k));
        const TParUST& ust = d.parUst(size_t(k));
        Value& v = channels.push(Value::object());
        v.set("channel", Value::number(k));
        v.set("scale", maybe(c.scale, shown(scl.Ustavka.as_float(), scl.DecPosition)));
        v.set("point", maybe(c.scale, Value::string(decpos_text(scl.DecPosition))));
        v.set("unit", maybe(c.scale, Value::string(unit_name(scl.Measure))));
        v.set("max", maybe(c.setpoints, num(ust.Max.as_float())));
        v.set("min", maybe(c.setpoints, num(ust.Min.as_float())));
    }
    return channels;
}

Value read_info(Session& s, bool& failed)
{
    Device& d = s.dev;
    Polling polling(d, s.report);
    InterfaceParams params(d, s.report);
    Calibration calib(d, s.report, s.report, s.sleeper);
    Value info = Value::object();
    info.set("address", Value::number(s.link.settings().sys_num));

    const bool named = polling.read_name();
    info.set("name", maybe(named, Value::device_text(d.tmp_text())));
    const bool versioned = polling.read_version();
    info.set("version", maybe(versioned, Value::device_text(d.tmp_text())));
    failed = !named || !versioned;
    // A device that gave neither is not there: the rest would only wait out its time-outs.
    if (!named && !versioned)
        return info;

    Value& line = info.set("interface", Value::object());
    std::array<bool, kInterfaceRows> read{};
    for (int row = kRowScor; row < kInterfaceRows; ++row) {
        read[size_t(row)] = params.read(InterfaceRow(row)) == kOk;
        failed |= !read[size_t(row)];
    }
    const LinkSettings& ls = s.link.settings();
    line.set("speed", maybe(read[kRowScor] && ls.num_scor >= 1 && ls.num_scor <= 6, Value::number(scor[ls.num_scor])));
    line.set("parity", maybe(read[kRowParity] && ls.parity < 3, Value::parity(ls.parity)));
    line.set("stopbits", maybe(read[kRowStopbit], Value::number(ls.stopbit)));
    line.set("address", maybe(read[kRowSysnum], Value::number(ls.sys_num)));

    const PollResult poll = polling.zapros_par(true);
    const PerChannel stored = calib.read_stored();
    const PerChannel pwm = calib.read_pwm();
    // The scales and setpoints as the readings' info gives them, and what only `info` shows.
    Value& channels = info.set("channels", channel_settings(d, poll));
    for (int k = 1; k <= kChannels; ++k) {
        const PollResult::Channel& c = poll.ch[size_t(k)];
        const TParChannel& ch = d.Ch(size_t(k));
        failed |= !c.scale || !c.setpoints || !c.measured || !stored[size_t(k)] || !pwm[size_t(k)];
        Value& v = channels.members()[size_t(k - 1)].second;
        v.set("zero", maybe(stored[size_t(k)], Value::number(ch.Ref)));
        v.set("coefficient", maybe(stored[size_t(k)], num(ch.Ncal.as_float())));
        v.set("pwm_low", maybe(pwm[size_t(k)], Value::number(ch.PWML)));
        v.set("pwm_high", maybe(pwm[size_t(k)], Value::number(ch.PWMH)));
        v.set("value", maybe(c.measured, Value::reading(ch.Urms_te)));
        v.set("percent", maybe(c.percent, Value::reading(c.Urms_proc)));
    }
    info.set("frequency", maybe(poll.freq, Value::reading(d.freq().as_float())));
    failed |= !poll.freq;
    const bool light = polling.read_light();
    info.set("brightness", maybe(light, Value::number(d.light())));
    failed |= !light;
    return info;
}

}  // namespace varnok::cli
