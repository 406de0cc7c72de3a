#pragma once
// The simulated device: its register map, its stored settings and its live readings.
// No I/O here; the engine feeds it requests and the control channel changes it.

#include <array>
#include <bit>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace varnok::sim {

using Clock = std::chrono::steady_clock;

// Modbus exception codes the device answers with.
inline constexpr uint8_t kIllegalFunction = 1;
inline constexpr uint8_t kIllegalAddress = 2;
inline constexpr uint8_t kIllegalValue = 3;
inline constexpr uint8_t kBusy = 5;

inline constexpr int kChannels = 3;

// Holding registers outside the channel blocks.
inline constexpr uint16_t kBrightnessReg = 1;
inline constexpr uint16_t kAddressReg = 0x800;
inline constexpr uint16_t kSpeedReg = 0x801;
inline constexpr uint16_t kParityReg = 0x802;
inline constexpr uint16_t kStopBitsReg = 0x803;
// Input registers outside the channel blocks.
inline constexpr uint16_t kFrequencyReg = 2;
inline constexpr uint16_t kNameReg = 4;
inline constexpr uint16_t kVersionReg = 9;
inline constexpr size_t kTextBytes = 10;

// Offsets inside a channel block; channel n starts at 32 * n.
inline constexpr uint16_t kScaleFormat = 0;  // high byte decimal point 0..3, low byte unit 0..6
inline constexpr uint16_t kScaleTop = 1;     // float
inline constexpr uint16_t kSetMax = 3;       // float
inline constexpr uint16_t kSetMin = 5;       // float
inline constexpr uint16_t kRef = 7;          // stored zero, converter counts
inline constexpr uint16_t kNcal = 8;         // float, engineering units per count
inline constexpr uint16_t kPwmLow = 10;
inline constexpr uint16_t kPwmHigh = 11;
inline constexpr uint16_t kValue = 12;     // input, float
inline constexpr uint16_t kLiveZero = 14;  // input
inline constexpr uint16_t kAdcOut = 15;    // input, unsigned 32-bit
constexpr uint16_t block(int channel) { return uint16_t(32 * channel); }

inline constexpr uint16_t kBitCount = 3;  // coils K1..K3, discrete inputs XP1, JMP78, XP3
inline constexpr std::array<const char*, kBitCount> kRelayNames = {"K1", "K2", "K3"};
inline constexpr std::array<const char*, kBitCount> kSwitchNames = {"XP1", "JMP78", "XP3"};

// Speeds by speed code 1..6.
inline constexpr std::array<uint32_t, 7> kBaud = {0, 4800, 9600, 19200, 38400, 57600, 115200};
inline constexpr std::array<const char*, 3> kParityNames = {"none", "odd", "even"};

// A 32-bit value in two registers, least significant byte first on the wire:
// first register = byte0 * 256 + byte1, second = byte2 * 256 + byte3.
constexpr std::array<uint16_t, 2> split32(uint32_t v)
{
    return {uint16_t((v & 0xFF) << 8 | (v >> 8 & 0xFF)), uint16_t((v >> 16 & 0xFF) << 8 | (v >> 24 & 0xFF))};
}
constexpr uint32_t join32(uint16_t first, uint16_t second)
{
    return uint32_t(first >> 8) | uint32_t(first & 0xFF) << 8 | uint32_t(second >> 8) << 16 |
           uint32_t(second & 0xFF) << 24;
}
inline std::array<uint16_t, 2> split_float(float f) { return split32(std::bit_cast<uint32_t>(f)); }
inline float join_float(uint16_t first, uint16_t second) { return std::bit_cast<float>(join32(first, second)); }

// Time of one character: start bit, 8 data bits, a parity bit if any, the stop bits.
inline std::chrono::nanoseconds char_time(uint32_t baud, bool parity, unsigned stop_bits)
{
    const uint64_t bits = 1 + 8 + (parity ? 1 : 0) + stop_bits;
    return std::chrono::nanoseconds(bits * 1'000'000'000ull / (baud ? baud : 1));
}
// The letter of a parity in "8N1": none, odd, even, mark, space.
char parity_letter(uint8_t parity);

struct LineSettings {
    uint8_t address = 5;
    uint8_t speed_code = 2;
    uint8_t parity = 0;
    uint8_t stop_bits = 1;

    uint32_t baud() const { return speed_code < kBaud.size() ? kBaud[speed_code] : 0; }
    std::chrono::nanoseconds char_time() const { return sim::char_time(baud(), parity != 0, stop_bits); }
    // The setting that line register 800..803 hex holds.
    uint8_t& at(uint16_t reg)
    {
        return reg == kAddressReg ? address : reg == kSpeedReg ? speed_code : reg == kParityReg ? parity : stop_bits;
    }
    std::string text() const;  // "5 9600 8N1"
    bool operator==(const LineSettings&) const = default;
};

// Checks of the values the device accepts; an empty text when the value is fine.
std::string check_line(const LineSettings& s);

// What is applied to one channel's input and how its converter answers. The converter's raw
// reading is zero + signal / 100 x gain (+ noise); the zero reading is that raw reading, the
// output is the raw reading less the stored zero.
struct Analog {
    double signal = 0;       // percent of full scale
    uint32_t zero = 1000;    // converter counts at 0 % signal
    uint32_t gain = 100000;  // converter counts from 0 % to 100 % signal
};

// Readings a master gets from input registers first..first+width-1, one step per request that
// reads any of them; the live value returns when the steps run out.
struct Script {
    unsigned width = 1;                         // 1 register, or 2 for a 32-bit value
    std::deque<std::array<uint16_t, 2>> steps;  // register values of each step
};

class SimulatedDevice {
public:
    explicit SimulatedDevice(uint32_t seed = 1);

    static bool is_holding(uint16_t a);
    static bool is_input(uint16_t a);

    // Modbus access; each returns 0 or the exception code. A write is all or nothing. An input
    // read takes one step of every script it touches.
    uint8_t read_holding(uint16_t start, uint16_t count, std::vector<uint16_t>& out) const;
    uint8_t read_input(uint16_t start, uint16_t count, std::vector<uint16_t>& out, Clock::time_point now);
    uint8_t read_coils(uint16_t start, uint16_t count, std::vector<bool>& out, Clock::time_point now);
    uint8_t read_discrete(uint16_t start, uint16_t count, std::vector<bool>& out) const;
    uint8_t write_holding(uint16_t start, std::span<const uint16_t> values);

    // Direct access for the operator; no range checks except that the address is in the map.
    uint16_t holding(uint16_t a) const;
    bool set_holding(uint16_t a, uint16_t v);
    float holding_float(uint16_t a) const;
    uint16_t input(uint16_t a, Clock::time_point now);  // with scripts (not taking a step) and overrides
    bool override_input(uint16_t a, uint16_t v);
    void release_input(uint16_t a) { input_override_.erase(a); }
    void release_inputs() { input_override_.clear(); }
    const std::map<uint16_t, uint16_t>& input_overrides() const { return input_override_; }
    // A script from input register `first` on; an empty text when it is set, else the reason.
    // It replaces a script that starts there and may not overlap another.
    std::string script_input(uint16_t first, Script script);
    bool clear_script(uint16_t first) { return scripts_.erase(first) != 0; }
    void clear_scripts() { scripts_.clear(); }
    const std::map<uint16_t, Script>& scripts() const { return scripts_; }
    bool coil(int n, Clock::time_point now);  // with overrides
    void override_coil(int n, bool on) { coil_override_[n] = on; }
    void release_coil(int n) { coil_override_.erase(n); }
    void release_coils() { coil_override_.clear(); }
    const std::map<int, bool>& coil_overrides() const { return coil_override_; }

    Analog& analog(int channel) { return analog_[size_t(channel - 1)]; }
    bool switch_closed(int n) const { return switch_closed_[size_t(n)]; }
    void set_switch(int n, bool closed) { switch_closed_[size_t(n)] = closed; }
    int noise() const { return noise_; }
    void set_noise(int counts) { noise_ = counts; }
    // Texts of at most ten Windows-1251 bytes, padded with zero bytes.
    void set_name(const std::string& cp1251) { name_ = pad(cp1251); }
    void set_version(const std::string& cp1251) { version_ = pad(cp1251); }

    // The line settings held in registers 800..803 hex.
    LineSettings stored_line() const;
    void store_line(const LineSettings& s);

    // Live readings of a channel without scripts and overrides.
    uint16_t live_zero(int channel, Clock::time_point now);
    uint32_t adc_out(int channel, Clock::time_point now);
    float measured(int channel, Clock::time_point now);
    float frequency(Clock::time_point now);

    static constexpr auto kCycle = std::chrono::milliseconds(100);  // the converter's measuring cycle

private:
    using Text = std::array<uint8_t, kTextBytes>;
    static Text pad(const std::string& s);
    void sample(Clock::time_point now);
    double raw(int channel, Clock::time_point now);
    uint16_t computed_input(uint16_t a, Clock::time_point now);
    const Script* script_at(uint16_t a, uint16_t& first) const;
    uint8_t check_write(uint16_t start, std::span<const uint16_t> values) const;

    std::map<uint16_t, uint16_t> holding_;
    std::map<uint16_t, uint16_t> input_override_;
    std::map<uint16_t, Script> scripts_;  // by first register
    std::map<int, bool> coil_override_;
    std::array<Analog, kChannels> analog_{};
    std::array<bool, kBitCount> switch_closed_{};
    Text name_{}, version_{};
    int noise_ = 3;

    // Noise of the current measuring cycle.
    std::mt19937 rng_;
    bool sampled_ = false;
    Clock::time_point sampled_at_{};
    std::array<int, kChannels> raw_noise_{};
    float freq_ = 50.0f;
};

// Windows-1251 text to UTF-8 and back (Cyrillic and ASCII; anything else becomes '?').
std::string cp1251_to_utf8(std::span<const uint8_t> text);
std::string utf8_to_cp1251(const std::string& text);

}  // namespace varnok::sim
