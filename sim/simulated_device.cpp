#include "sim/simulated_device.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace varnok::sim {

namespace {

struct ChannelDefaults {
    Analog analog;
    uint8_t decimal_point, unit;
    float top, max, min;
    uint16_t pwm_low, pwm_high;
};

// Each channel reads right out of the box: stored zero = true zero, Ncal = top / gain.
constexpr std::array<ChannelDefaults, kChannels> kDefaults = {{
    {{42.5, 1012, 100000}, 2, 1, 250.0f, 225.0f, 25.0f, 480, 1480},
    {{73.1, 873, 100000}, 0, 4, 5.0f, 4.5f, 0.5f, 480, 1480},
    {{12.0, 1530, 100000}, 1, 3, 20.0f, 18.0f, 3.0f, 480, 1480},
}};

// "Варнок ПМ3" in Windows-1251.
constexpr char kDefaultName[] = "\xC2\xE0\xF0\xED\xEE\xEA \xCF\xCC\x33";
constexpr char kDefaultVersion[] = "V2.07 2026";

// Channel 1..3 of an address inside a channel block, 0 otherwise; `offset` is set.
int channel_of(uint16_t a, uint16_t& offset)
{
    const int ch = a / 32;
    offset = a % 32;
    return ch >= 1 && ch <= kChannels ? ch : 0;
}

bool is_float_start(uint16_t offset)
{
    return offset == kScaleTop || offset == kSetMax || offset == kSetMin || offset == kNcal;
}

}  // namespace

char parity_letter(uint8_t parity) { return parity < 5 ? "NOEMS"[parity] : '?'; }

std::string LineSettings::text() const
{
    char s[48];
    std::snprintf(s, sizeof s, "%u %u 8%c%u", unsigned(address), unsigned(baud()), parity_letter(parity),
                  unsigned(stop_bits));
    return s;
}

std::string check_line(const LineSettings& s)
{
    if (s.address < 1 || s.address > 247)
        return "address must be 1..247";
    if (s.speed_code < 1 || s.speed_code > 6)
        return "speed code must be 1..6";
    if (s.parity > 2)
        return "parity must be 0..2";
    if (s.stop_bits < 1 || s.stop_bits > 2)
        return "stop bits must be 1 or 2";
    return {};
}

SimulatedDevice::SimulatedDevice(uint32_t seed) : rng_(seed)
{
    holding_[kBrightnessReg] = 3;
    for (int ch = 1; ch <= kChannels; ++ch) {
        const ChannelDefaults& d = kDefaults[size_t(ch - 1)];
        analog_[size_t(ch - 1)] = d.analog;
        const uint16_t b = block(ch);
        holding_[b + kScaleFormat] = uint16_t(d.decimal_point << 8 | d.unit);
        const float ncal = d.top / float(d.analog.gain);
        for (const auto& [offset, value] :
             {std::pair{kScaleTop, d.top}, {kSetMax, d.max}, {kSetMin, d.min}, {kNcal, ncal}}) {
            const auto r = split_float(value);
            holding_[b + offset] = r[0];
            holding_[b + offset + 1] = r[1];
        }
        holding_[b + kRef] = uint16_t(d.analog.zero);
        holding_[b + kPwmLow] = d.pwm_low;
        holding_[b + kPwmHigh] = d.pwm_high;
    }
    store_line(LineSettings{});
    switch_closed_ = {false, true, false};
    name_ = pad(kDefaultName);
    version_ = pad(kDefaultVersion);
}

bool SimulatedDevice::is_holding(uint16_t a)
{
    uint16_t offset = 0;
    if (channel_of(a, offset))
        return offset <= kPwmHigh;
    return a == kBrightnessReg || (a >= kAddressReg && a <= kStopBitsReg);
}

bool SimulatedDevice::is_input(uint16_t a)
{
    uint16_t offset = 0;
    if (channel_of(a, offset))
        return offset >= kValue && offset <= kAdcOut + 1;
    return a >= kFrequencyReg && a < kVersionReg + kTextBytes / 2;
}

SimulatedDevice::Text SimulatedDevice::pad(const std::string& s)
{
    Text t{};
    std::copy_n(s.begin(), std::min(s.size(), t.size()), t.begin());
    return t;
}

LineSettings SimulatedDevice::stored_line() const
{
    return {uint8_t(holding(kAddressReg)), uint8_t(holding(kSpeedReg)), uint8_t(holding(kParityReg)),
            uint8_t(holding(kStopBitsReg))};
}

void SimulatedDevice::store_line(const LineSettings& s)
{
    holding_[kAddressReg] = s.address;
    holding_[kSpeedReg] = s.speed_code;
    holding_[kParityReg] = s.parity;
    holding_[kStopBitsReg] = s.stop_bits;
}

uint16_t SimulatedDevice::holding(uint16_t a) const
{
    const auto it = holding_.find(a);
    return it == holding_.end() ? 0 : it->second;
}

bool SimulatedDevice::set_holding(uint16_t a, uint16_t v)
{
    if (!is_holding(a))
        return false;
    holding_[a] = v;
    return true;
}

float SimulatedDevice::holding_float(uint16_t a) const { return join_float(holding(a), holding(uint16_t(a + 1))); }

bool SimulatedDevice::override_input(uint16_t a, uint16_t v)
{
    if (!is_input(a))
        return false;
    input_override_[a] = v;
    return true;
}

void SimulatedDevice::sample(Clock::time_point now)
{
    if (sampled_ && now - sampled_at_ < kCycle)
        return;
    sampled_ = true;
    sampled_at_ = now;
    std::uniform_int_distribution<int> counts(-noise_, noise_);
    for (int& n : raw_noise_)
        n = noise_ > 0 ? counts(rng_) : 0;
    // Mains frequency wanders by a few hundredths of a hertz; steady when noise is off.
    freq_ = noise_ > 0 ? 50.0f + std::uniform_real_distribution<float>(-0.02f, 0.02f)(rng_) : 50.0f;
}

double SimulatedDevice::raw(int channel, Clock::time_point now)
{
    sample(now);
    const Analog& an = analog(channel);
    return std::round(double(an.zero) + an.signal / 100.0 * double(an.gain) + raw_noise_[size_t(channel - 1)]);
}

uint16_t SimulatedDevice::live_zero(int channel, Clock::time_point now)
{
    // What the converter reads now, applied signal included: a zero is right only at 0 %.
    return uint16_t(std::clamp(raw(channel, now), 0.0, 65535.0));
}

uint32_t SimulatedDevice::adc_out(int channel, Clock::time_point now)
{
    const double out = raw(channel, now) - double(holding(uint16_t(block(channel) + kRef)));
    return uint32_t(std::clamp(out, 0.0, double(UINT32_MAX)));
}

float SimulatedDevice::measured(int channel, Clock::time_point now)
{
    return float(adc_out(channel, now)) * holding_float(uint16_t(block(channel) + kNcal));
}

float SimulatedDevice::frequency(Clock::time_point now)
{
    sample(now);
    return freq_;
}

bool SimulatedDevice::coil(int n, Clock::time_point now)
{
    if (const auto it = coil_override_.find(n); it != coil_override_.end())
        return it->second;
    // A relay is energised while its channel reads above Max or below Min.
    const int ch = n + 1;
    const float v = measured(ch, now);
    return v > holding_float(uint16_t(block(ch) + kSetMax)) || v < holding_float(uint16_t(block(ch) + kSetMin));
}

uint16_t SimulatedDevice::computed_input(uint16_t a, Clock::time_point now)
{
    uint16_t offset = 0;
    if (const int ch = channel_of(a, offset)) {
        if (offset == kLiveZero)
            return live_zero(ch, now);
        const bool second = offset == kValue + 1 || offset == kAdcOut + 1;
        const auto pair = offset <= kValue + 1 ? split_float(measured(ch, now)) : split32(adc_out(ch, now));
        return pair[second ? 1 : 0];
    }
    if (a < kNameReg)
        return split_float(frequency(now))[a - kFrequencyReg];
    const Text& t = a < kVersionReg ? name_ : version_;
    const size_t i = 2 * size_t(a < kVersionReg ? a - kNameReg : a - kVersionReg);
    return uint16_t(t[i] << 8 | t[i + 1]);
}

const Script* SimulatedDevice::script_at(uint16_t a, uint16_t& first) const
{
    auto it = scripts_.upper_bound(a);
    if (it == scripts_.begin())
        return nullptr;
    --it;
    first = it->first;
    return a < uint32_t(it->first) + it->second.width ? &it->second : nullptr;
}

uint16_t SimulatedDevice::input(uint16_t a, Clock::time_point now)
{
    uint16_t first = 0;
    if (const Script* s = script_at(a, first); s && !s->steps.empty())
        return s->steps.front()[a - first];
    if (const auto it = input_override_.find(a); it != input_override_.end())
        return it->second;
    return computed_input(a, now);
}

std::string SimulatedDevice::script_input(uint16_t first, Script script)
{
    if (script.width < 1 || script.width > 2 || script.steps.empty())
        return "a script needs one or two registers and at least one reading";
    const uint32_t end = uint32_t(first) + script.width;
    for (uint32_t a = first; a < end; ++a)
        if (a > 0xFFFF || !is_input(uint16_t(a)))
            return "input register " + std::to_string(a) + " is not in the map";
    for (const auto& [at, other] : scripts_)
        if (at != first && at < end && first < at + other.width)
            return "it overlaps the script at " + std::to_string(at);
    scripts_[first] = std::move(script);
    return {};
}
namespace {

// A read of `count` registers from `start`: refused whole when any of them is outside the map.
template <class Known, class Value>
uint8_t read_range(uint16_t start, uint16_t count, std::vector<uint16_t>& out, Known known, Value value)
{
    if (count < 1 || count > 125)
        return kIllegalValue;
    out.clear();
    for (uint32_t a = start; a < uint32_t(start) + count; ++a) {
        if (a > 0xFFFF || !known(uint16_t(a)))
            return kIllegalAddress;
        out.push_back(value(uint16_t(a)));
    }
    return 0;
}

}  // namespace

uint8_t SimulatedDevice::read_holding(uint16_t start, uint16_t count, std::vector<uint16_t>& out) const
{
    return read_range(
        start, count, out, [](uint16_t a) { return is_holding(a); }, [this](uint16_t a) { return holding(a); });
}

uint8_t SimulatedDevice::read_input(uint16_t start, uint16_t count, std::vector<uint16_t>& out, Clock::time_point now)
{
    const uint8_t e = read_range(
        start, count, out, [](uint16_t a) { return is_input(a); }, [this, now](uint16_t a) { return input(a, now); });
    if (e)
        return e;
    // Every script this read touched moves on; one that ran out gives way to the live value.
    const uint32_t end = uint32_t(start) + count;
    for (auto it = scripts_.begin(); it != scripts_.end();) {
        if (it->first < end && start < it->first + it->second.width)
            it->second.steps.pop_front();
        it = it->second.steps.empty() ? scripts_.erase(it) : std::next(it);
    }
    return 0;
}

namespace {

// A read of `count` bits from `start`, each given by `bit`.
template <class Bit>
uint8_t read_bits(uint16_t start, uint16_t count, std::vector<bool>& out, Bit bit)
{
    if (count < 1 || count > 2000)
        return kIllegalValue;
    if (uint32_t(start) + count > kBitCount)
        return kIllegalAddress;
    out.clear();
    for (int n = start; n < start + count; ++n)
        out.push_back(bit(n));
    return 0;
}

}  // namespace

uint8_t SimulatedDevice::read_coils(uint16_t start, uint16_t count, std::vector<bool>& out, Clock::time_point now)
{
    return read_bits(start, count, out, [this, now](int n) { return coil(n, now); });
}

uint8_t SimulatedDevice::read_discrete(uint16_t start, uint16_t count, std::vector<bool>& out) const
{
    // A closed switch pulls its input to 0.
    return read_bits(start, count, out, [this](int n) { return !switch_closed_[size_t(n)]; });
}

uint8_t SimulatedDevice::check_write(uint16_t start, std::span<const uint16_t> values) const
{
    const uint32_t end = uint32_t(start) + values.size();
    for (uint32_t a = start; a < end; ++a)
        if (a > 0xFFFF || !is_holding(uint16_t(a)))
            return kIllegalAddress;
    for (uint32_t a = start; a < end; ++a) {
        const uint16_t v = values[a - start];
        uint16_t offset = 0;
        const int ch = channel_of(uint16_t(a), offset);
        bool ok = true;
        if (ch && offset == kScaleFormat)
            ok = (v >> 8) <= 3 && (v & 0xFF) <= 6;
        else if (ch && is_float_start(offset) && a + 1 < end)
            ok = std::isfinite(join_float(v, values[a + 1 - start]));
        else if (a == kBrightnessReg)
            ok = v >= 1 && v <= 3;
        else if (a == kAddressReg)
            ok = v >= 1 && v <= 247;
        else if (a == kSpeedReg)
            ok = v >= 1 && v <= 6;
        else if (a == kParityReg)
            ok = v <= 2;
        else if (a == kStopBitsReg)
            ok = v >= 1 && v <= 2;
        if (!ok)
            return kIllegalValue;
    }
    return 0;
}

uint8_t SimulatedDevice::write_holding(uint16_t start, std::span<const uint16_t> values)
{
    if (values.empty() || values.size() > 123)
        return kIllegalValue;
    if (const uint8_t e = check_write(start, values))
        return e;
    for (size_t i = 0; i < values.size(); ++i)
        holding_[uint16_t(start + i)] = values[i];
    return 0;
}

std::string cp1251_to_utf8(std::span<const uint8_t> text)
{
    std::string out;
    for (const uint8_t c : text) {
        if (c == 0)
            break;
        unsigned cp = c < 0x80 ? c : c >= 0xC0 ? 0x410 + (c - 0xC0) : c == 0xA8 ? 0x401 : c == 0xB8 ? 0x451 : '?';
        if (cp < 0x80) {
            out += char(cp);
        } else {
            out += char(0xC0 | cp >> 6);
            out += char(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::string utf8_to_cp1251(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const uint8_t c = uint8_t(text[i]);
        unsigned cp = '?';
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < text.size()) {
            cp = (c & 0x1Fu) << 6 | (uint8_t(text[i + 1]) & 0x3Fu);
            len = 2;
        } else {
            len = (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
        }
        if (cp >= 0x410 && cp <= 0x44F)
            out += char(0xC0 + (cp - 0x410));
        else if (cp == 0x401)
            out += '\xA8';
        else if (cp == 0x451)
            out += '\xB8';
        else
            out += cp < 0x80 ? char(cp) : '?';
        i += len;
    }
    return out;
}

}  // namespace varnok::sim
