#include "cli/device_values.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "cli/options.h"
#include "cli/session.h"
#include "ops/calibration.h"
#include "ops/interface_params.h"
#include "ops/polling.h"
#include "ops/scales.h"

namespace varnok::cli {

namespace {

Value num(float v) { return Value::number(float_text(v)); }

// A value with the decimals of its point, as the indicator shows it; the plain value when the
// four digits cannot hold it.
Value shown(float v, uint8_t decpos)
{
    const std::optional<Entry> e = entry_of(v, decpos);
    return e && std::isfinite(v) ? Value::number(entry_text(*e)) : num(v);
}

Value maybe(bool ok, Value v) { return ok ? std::move(v) : Value(); }

}  // namespace

Value read_info(Session& s, bool& failed)
{
    Device& d = s.dev;
    Polling polling(d, s.report);
    InterfaceParams params(d, s.report);
    Calibration calib(d, s.report, s.report, s.sleeper);
    Value info = Value::object();
    info.set("address", Value::number(s.link.settings().sys_num));

    const bool named = polling.read_name();
    info.set("name", maybe(named, Value::string(d.tmp_text())));
    const bool versioned = polling.read_version();
    info.set("version", maybe(versioned, Value::string(d.tmp_text())));
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
    line.set("parity", maybe(read[kRowParity] && ls.parity < 3, Value::string(parity_name(ls.parity))));
    line.set("stopbits", maybe(read[kRowStopbit], Value::number(ls.stopbit)));
    line.set("address", maybe(read[kRowSysnum], Value::number(ls.sys_num)));

    const PollResult poll = polling.zapros_par(true);
    const PerChannel stored = calib.read_stored();
    const PerChannel pwm = calib.read_pwm();
    Value& channels = info.set("channels", Value::array());
    for (int k = 1; k <= kChannels; ++k) {
        const PollResult::Channel& c = poll.ch[size_t(k)];
        const TParSCL& scl = d.parScl[size_t(k)];
        const TParUST& ust = d.parUst[size_t(k)];
        const TParChannel& ch = d.Ch[size_t(k)];
        failed |= !c.scale || !c.setpoints || !c.measured || !stored[size_t(k)] || !pwm[size_t(k)];
        Value& v = channels.push(Value::object());
        v.set("channel", Value::number(k));
        v.set("scale", maybe(c.scale, shown(scl.Ustavka.as_float(), scl.DecPosition)));
        v.set("point", maybe(c.scale, Value::string(decpos_text(scl.DecPosition))));
        v.set("unit", maybe(c.scale, Value::string(unit_name(scl.Measure))));
        v.set("max", maybe(c.setpoints, num(ust.Max.as_float())));
        v.set("min", maybe(c.setpoints, num(ust.Min.as_float())));
        v.set("zero", maybe(stored[size_t(k)], Value::number(ch.Ref)));
        v.set("coefficient", maybe(stored[size_t(k)], num(ch.Ncal.as_float())));
        v.set("pwm_low", maybe(pwm[size_t(k)], Value::number(ch.PWML)));
        v.set("pwm_high", maybe(pwm[size_t(k)], Value::number(ch.PWMH)));
        v.set("value", maybe(c.measured, num(ch.Urms_te)));
        v.set("percent", maybe(c.percent, num(ch.Urms_proc)));
    }
    info.set("frequency", maybe(poll.freq, num(d.freq.as_float())));
    failed |= !poll.freq;
    const bool light = polling.read_light();
    info.set("brightness", maybe(light, Value::number(d.light)));
    failed |= !light;
    return info;
}

std::vector<Setting> parse_settings(const std::vector<std::string>& items)
{
    std::vector<Setting> out;
    std::vector<std::string> seen;
    for (const std::string& item : items) {
        const size_t eq = item.find('=');
        if (eq == std::string::npos || eq == 0)
            throw UsageError("\"" + item + "\": нужно ИМЯ=ЗНАЧЕНИЕ");
        const std::string name = item.substr(0, eq), value = item.substr(eq + 1);
        if (std::find(seen.begin(), seen.end(), name) != seen.end())
            throw UsageError(name + ": задан дважды");
        seen.push_back(name);
        Setting s{};
        // Channel settings end in the channel's digit.
        const char last = name.back();
        const std::string stem = name.substr(0, name.size() - 1);
        const bool channel = last >= '1' && last <= '3' && (stem == "scale" || stem == "unit" || stem == "max" || stem == "min");
        if (channel) {
            s.channel = last - '0';
            if (stem == "unit") {
                const std::optional<uint8_t> unit = unit_code(value);
                if (!unit)
                    throw UsageError(name + "=" + value + ": неизвестная единица (нет, В, кВ, мА, А, кА, Гц)");
                s.name = Setting::kUnit;
                s.number = *unit;
            } else {
                const std::optional<Entry> e = parse_entry(value);
                if (!e)
                    throw UsageError(name + "=" + value +
                                     ": индикатор показывает не больше четырёх цифр и трёх знаков после точки, без знака");
                s.name = stem == "scale" ? Setting::kScale : stem == "max" ? Setting::kMax : Setting::kMin;
                s.entry = *e;
            }
        } else if (name == "brightness") {
            s.name = Setting::kBrightness;
            s.number = parse_number(value, 1, 3, name);
        } else if (name == "parity") {
            s.name = Setting::kParity;
            s.number = parse_parity(value);
        } else if (name == "stopbits") {
            s.name = Setting::kStopbits;
            s.number = parse_stopbit(value);
        } else if (name == "speed") {
            s.name = Setting::kSpeed;
            s.number = parse_speed(value);
        } else if (name == "address") {
            s.name = Setting::kAddress;
            s.number = parse_number(value, kMinSysNum, kMaxSysNum, name);
        } else {
            throw UsageError(name + ": неизвестный параметр");
        }
        out.push_back(s);
    }
    std::stable_sort(out.begin(), out.end(), [](const Setting& a, const Setting& b) { return a.name < b.name; });
    return out;
}

bool write_settings(Session& s, const std::vector<Setting>& settings, bool& changed_line)
{
    Device& d = s.dev;
    Scales scales(d, s.report);
    InterfaceParams params(d, s.report);
    Polling polling(d, s.report);
    changed_line = false;
    // A scale and its unit go to the device in one write; what is not given is read first.
    std::array<std::optional<Entry>, kChannels + 1> scale{};
    std::array<std::optional<uint8_t>, kChannels + 1> unit{};
    for (const Setting& set : settings) {
        if (set.name == Setting::kScale)
            scale[size_t(set.channel)] = set.entry;
        if (set.name == Setting::kUnit)
            unit[size_t(set.channel)] = uint8_t(set.number);
    }
    for (int k = 1; k <= kChannels; ++k) {
        if (!scale[size_t(k)] && !unit[size_t(k)])
            continue;
        if ((!scale[size_t(k)] || !unit[size_t(k)]) && scales.read_scale(k) != kOk)
            return false;
        const TParSCL& now = d.parScl[size_t(k)];
        const Entry e = scale[size_t(k)] ? *scale[size_t(k)] : entry_of(now.Ustavka.as_float(), now.DecPosition).value_or(Entry{});
        const Scales::Written w = scales.write_scale(k, e.number, e.decpos, unit[size_t(k)].value_or(now.Measure));
        if (w.value != kOk || w.format != kOk)
            return false;
    }
    for (const Setting& set : settings) {
        uint8_t e = kOk;
        switch (set.name) {
        case Setting::kBrightness: e = polling.write_light(uint8_t(set.number)); break;
        case Setting::kScale:
        case Setting::kUnit: continue;
        case Setting::kMax:
        case Setting::kMin:
            e = scales.write_setpoint(set.channel, set.name == Setting::kMax ? kMax : kMin, set.entry.number, set.entry.decpos);
            break;
        case Setting::kParity:
        case Setting::kStopbits:
        case Setting::kSpeed:
        case Setting::kAddress: {
            const InterfaceRow row = set.name == Setting::kParity     ? kRowParity
                                     : set.name == Setting::kStopbits ? kRowStopbit
                                     : set.name == Setting::kSpeed    ? kRowScor
                                                                      : kRowSysnum;
            const uint8_t value = set.name == Setting::kSpeed ? number_scor(int32_t(set.number)) : uint8_t(set.number);
            e = params.write(row, value);
            changed_line |= e == kOk;
            break;
        }
        }
        if (e != kOk)
            return false;
    }
    return true;
}

}  // namespace varnok::cli
