#include "ops/configuration.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "device/device.h"
#include "ops/calibration.h"
#include "ops/interface_params.h"
#include "ops/polling.h"
#include "ops/scales.h"
#include "ops/write_records.h"
#include "settings/utf8.h"

namespace varnok {

namespace {

constexpr const char* kParityNames[] = {"none", "odd", "even"};

}  // namespace

long parse_number(const std::string& text, long lo, long hi, const std::string& what)
{
    long v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() || v < lo || v > hi)
        throw ValueError(what + " \"" + utf8::visible(text) + "\": нужно целое число от " + std::to_string(lo) +
                         " до " + std::to_string(hi));
    return v;
}

int32_t parse_speed(const std::string& text)
{
    long v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || number_scor(int32_t(v)) == 0 ||
        v != long(int32_t(v)))
        throw ValueError("скорость \"" + utf8::visible(text) + "\": допустимы 4800, 9600, 19200, 38400, 57600, 115200");
    return int32_t(v);
}

const char* parity_name(uint8_t parity) { return parity < 3 ? kParityNames[parity] : "?"; }

uint8_t parse_parity(const std::string& text)
{
    for (uint8_t i = 0; i < 3; ++i)
        if (text == kParityNames[i])
            return i;
    throw ValueError("паритет \"" + utf8::visible(text) + "\": допустимы none, odd, even");
}

uint8_t parse_stopbit(const std::string& text)
{
    if (text == "1" || text == "2")
        return uint8_t(text[0] - '0');
    throw ValueError("стоповые биты \"" + utf8::visible(text) + "\": допустимы 1 и 2");
}

namespace {

struct NameInfo {
    const char* stem;
    Setting::Name name;
    bool channel;
};

constexpr NameInfo kNames[] = {
    {"brightness", Setting::kBrightness, false},
    {"scale", Setting::kScale, true},
    {"unit", Setting::kUnit, true},
    {"max", Setting::kMax, true},
    {"min", Setting::kMin, true},
    {"zero", Setting::kZero, true},
    {"coefficient", Setting::kCoefficient, true},
    {"pwm_low", Setting::kPwmLow, true},
    {"pwm_high", Setting::kPwmHigh, true},
    {"parity", Setting::kParity, false},
    {"stopbits", Setting::kStopbits, false},
    {"speed", Setting::kSpeed, false},
    {"address", Setting::kAddress, false},
};

const NameInfo& info_of(Setting::Name name) { return kNames[name]; }

constexpr const char* kSectionNames[] = {"interface", "scales", "setpoints", "calibration"};

constexpr const char* kNoNumber = "нет значения";

// The entry with the fewest decimals that holds the device's value exactly.
std::optional<Entry> exact_entry(float v)
{
    for (uint8_t pos = 3; pos != uint8_t(-1); --pos)
        if (const std::optional<Entry> e = entry_of(v, pos); e && entry_value(e->number, e->decpos) == v)
            return e;
    return std::nullopt;
}

// A profile's float: a finite number in its shortest text.
std::optional<float> profile_float(const std::string& text)
{
    float v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

}  // namespace

std::string Setting::key() const
{
    const NameInfo& n = info_of(name);
    return n.channel ? n.stem + std::to_string(channel) : n.stem;
}

std::string Setting::text() const
{
    switch (name) {
    case kScale: return std::isfinite(real) ? entry_text(entry) : kNoNumber;
    case kMax:
    case kMin: {
        if (!std::isfinite(real))
            return kNoNumber;
        const std::optional<Entry> e = exact_entry(real);
        return e ? entry_text(*e) : float_text(real);
    }
    case kUnit: return unit_name(uint8_t(number));
    case kCoefficient: return std::isfinite(real) ? float_text(real) : kNoNumber;
    case kParity: return parity_name(uint8_t(number));
    default: return std::to_string(number);
    }
}

bool Setting::no_number() const
{
    return (name == kScale || name == kMax || name == kMin || name == kCoefficient) && !std::isfinite(real);
}

unsigned section_of(Setting::Name name)
{
    switch (name) {
    case Setting::kScale:
    case Setting::kUnit: return kScales;
    case Setting::kMax:
    case Setting::kMin: return kSetpoints;
    case Setting::kZero:
    case Setting::kCoefficient:
    case Setting::kPwmLow:
    case Setting::kPwmHigh: return kCalibration;
    case Setting::kBrightness: return 0;
    default: return kInterface;
    }
}

const char* section_name(unsigned section)
{
    for (unsigned i = 0; i < 4; ++i)
        if (section == 1u << i)
            return kSectionNames[i];
    return "";
}

unsigned parse_sections(const std::string& list)
{
    unsigned bits = 0;
    size_t from = 0;
    while (from <= list.size()) {
        const size_t comma = std::min(list.find(',', from), list.size());
        const std::string name = list.substr(from, comma - from);
        unsigned bit = 0;
        for (unsigned i = 0; i < 4; ++i)
            if (name == kSectionNames[i])
                bit = 1u << i;
        if (bit == 0)
            throw ValueError("раздел \"" + utf8::visible(name) +
                             "\": допустимы interface, scales, setpoints, calibration");
        bits |= bit;
        from = comma + 1;
    }
    return bits;
}

Setting setting_named(const std::string& name, bool calibration)
{
    Setting s{};
    const NameInfo* found = nullptr;
    for (const NameInfo& n : kNames) {
        const std::string stem = n.stem;
        if (!n.channel && name == stem) {
            found = &n;
        } else if (n.channel && name.size() == stem.size() + 1 && name.compare(0, stem.size(), stem) == 0 &&
                   name.back() >= '1' && name.back() <= '3') {
            found = &n;
            s.channel = name.back() - '0';
        }
        if (found)
            break;
    }
    if (!found || (!calibration && section_of(found->name) == kCalibration))
        throw ValueError(utf8::visible(name) + ": неизвестный параметр");
    s.name = found->name;
    return s;
}

std::vector<std::string> setting_keys(bool calibration)
{
    std::vector<std::string> out;
    for (const NameInfo& n : kNames) {
        if (!calibration && section_of(n.name) == kCalibration)
            continue;
        for (int k = 1; k <= (n.channel ? kChannels : 1); ++k)
            out.push_back(n.channel ? n.stem + std::to_string(k) : n.stem);
    }
    return out;
}

Setting parse_setting(const std::string& name, const std::string& value, bool calibration)
{
    // Echoed in its faults with its control characters shown: it comes from a file or a sheet.
    const std::string item = utf8::visible(name + "=" + value);
    Setting s = setting_named(name, calibration);
    // A decimal comma, as a Russian-locale user or sheet writes it, is a point.
    std::string real = value;
    if (real.find('.') == std::string::npos && std::count(real.begin(), real.end(), ',') == 1)
        real[real.find(',')] = '.';
    switch (s.name) {
    case Setting::kScale:
    case Setting::kMax:
    case Setting::kMin: {
        const std::optional<Entry> e = parse_entry(real);
        if (e) {
            s.entry = *e;
            s.real = entry_value(e->number, e->decpos);
            break;
        }
        // A profile keeps a setpoint as the device holds it, which may be no indicator's entry.
        if (s.name != Setting::kScale && calibration) {
            if (const std::optional<float> v = profile_float(value)) {
                s.real = *v;
                break;
            }
        }
        throw ValueError(item + ": индикатор показывает не больше четырёх цифр и трёх знаков после точки, без знака");
    }
    case Setting::kUnit: {
        const std::optional<uint8_t> unit = unit_code(value);
        if (!unit)
            throw ValueError(item + ": неизвестная единица (нет, В, кВ, мА, А, кА, Гц или V, kV, mA, A, kA, Hz)");
        s.number = *unit;
        break;
    }
    case Setting::kCoefficient: {
        // Read with a point whatever the process's locale (the console runs under a comma one).
        const std::optional<float> v = profile_float(real);
        if (!v)
            throw ValueError(item + ": нужно число");
        s.real = *v;
        break;
    }
    case Setting::kBrightness: s.number = parse_number(value, 1, 3, name); break;
    case Setting::kZero:
    case Setting::kPwmLow:
    case Setting::kPwmHigh: s.number = parse_number(value, 0, 65535, name); break;
    case Setting::kParity: s.number = parse_parity(value); break;
    case Setting::kStopbits: s.number = parse_stopbit(value); break;
    case Setting::kSpeed: s.number = parse_speed(value); break;
    case Setting::kAddress: s.number = parse_number(value, kMinSysNum, kMaxSysNum, name); break;
    }
    return s;
}

std::vector<Setting> parse_settings(const std::vector<std::string>& items)
{
    std::vector<Setting> out;
    for (const std::string& item : items) {
        const size_t eq = item.find('=');
        if (eq == std::string::npos || eq == 0)
            throw ValueError("\"" + utf8::visible(item) + "\": нужно ИМЯ=ЗНАЧЕНИЕ");
        Setting s = parse_setting(item.substr(0, eq), item.substr(eq + 1), false);
        for (const Setting& earlier : out)
            if (earlier.key() == s.key())
                throw ValueError(s.key() + ": задан дважды");
        out.push_back(s);
    }
    std::stable_sort(out.begin(), out.end(), [](const Setting& a, const Setting& b) { return a.name < b.name; });
    return out;
}

std::vector<Setting> Configuration::read(unsigned sections, bool& failed)
{
    Device& d = d_;
    std::vector<Setting> out;
    failed = false;
    auto add = [&](Setting::Name name, int k) { out.push_back(held_setting(d, name, k)); };
    if (sections & kInterface) {
        InterfaceParams params(d, report_);
        const Setting::Name names[] = {Setting::kSpeed, Setting::kParity, Setting::kStopbits, Setting::kAddress};
        for (int row = kRowScor; row < kInterfaceRows; ++row) {
            if (params.read(InterfaceRow(row)) != kOk) {
                failed = true;
                continue;
            }
            add(names[row], 0);
        }
    }
    Scales scales(d, report_);
    for (int k = 1; k <= kChannels; ++k) {
        if (sections & kScales) {
            if (scales.read_scale(k) == kOk) {
                add(Setting::kScale, k);
                add(Setting::kUnit, k);
            } else {
                failed = true;
            }
        }
        if (sections & kSetpoints) {
            if (scales.read_setpoints(k) == kOk) {
                add(Setting::kMax, k);
                add(Setting::kMin, k);
            } else {
                failed = true;
            }
        }
    }
    if (sections & kCalibration) {
        Calibration calib(d, report_, report_, pauses_);
        const PerChannel stored = calib.read_stored();
        const PerChannel pwm = calib.read_pwm();
        for (int k = 1; k <= kChannels; ++k) {
            if (stored[size_t(k)]) {
                add(Setting::kZero, k);
                add(Setting::kCoefficient, k);
            }
            if (pwm[size_t(k)]) {
                add(Setting::kPwmLow, k);
                add(Setting::kPwmHigh, k);
            }
            failed |= !stored[size_t(k)] || !pwm[size_t(k)];
        }
    }
    return out;
}

std::vector<std::pair<Setting, std::string>> differences(const std::vector<Setting>& have,
                                                         const std::vector<Setting>& want)
{
    std::vector<std::pair<Setting, std::string>> out;
    for (const Setting& w : want) {
        const auto h = std::find_if(have.begin(), have.end(), [&](const Setting& x) { return x.key() == w.key(); });
        if (h == have.end() || !holds(*h, w))
            out.emplace_back(w, h == have.end() ? std::string("?") : h->text());
    }
    return out;
}

bool holds(const Setting& have, const Setting& want)
{
    if (have.name != want.name || have.channel != want.channel)
        return false;
    switch (want.name) {
    case Setting::kScale: return have.entry == want.entry && have.real == want.real;
    case Setting::kMax:
    case Setting::kMin:
    case Setting::kCoefficient: return have.real == want.real;
    default: return have.number == want.number;
    }
}

bool Configuration::write(const std::vector<Setting>& settings, bool& changed_line)
{
    Device& d = d_;
    Scales scales(d, report_);
    InterfaceParams params(d, report_);
    Polling polling(d, report_);
    Calibration calib(d, report_, report_, pauses_);
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
        const TParSCL& now = d.parScl(size_t(k));
        const Entry e =
            scale[size_t(k)] ? *scale[size_t(k)] : entry_of(now.Ustavka.as_float(), now.DecPosition).value_or(Entry{});
        const Scales::Written w = scales.write_scale(k, e.number, e.decpos, unit[size_t(k)].value_or(now.Measure));
        if (w.value != kOk || w.format != kOk)
            return false;
    }
    for (const Setting& set : settings) {
        const int k = set.channel;
        uint8_t e = kOk;
        switch (set.name) {
        case Setting::kBrightness: e = polling.write_light(uint8_t(set.number)); break;
        case Setting::kScale:
        case Setting::kUnit: continue;
        case Setting::kMax:
        case Setting::kMin: e = scales.write_setpoint(k, set.name == Setting::kMax ? kMax : kMin, set.real); break;
        case Setting::kZero: e = calib.write_zero(k, uint16_t(set.number)).code; break;
        case Setting::kCoefficient: e = calib.write_coefficient(k, set.real).code; break;
        case Setting::kPwmLow:
        case Setting::kPwmHigh:
            e = calib.write_pwm(k, set.name == Setting::kPwmLow ? kPwmLow : kPwmHigh, uint16_t(set.number));
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

Configuration::Applied Configuration::apply(const std::vector<std::pair<Setting, std::string>>& changes,
                                            const std::vector<Setting>& want, unsigned sections)
{
    std::vector<Setting> writes;
    for (const auto& [w, from] : changes)
        writes.push_back(w);
    Applied r;
    r.all = write(writes, r.changed_line);
    r.left = r.all ? differences(read(sections, r.read_failed), want) : changes;
    return r;
}

}  // namespace varnok
