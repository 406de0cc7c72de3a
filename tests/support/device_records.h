#pragma once
// Puts values into a device's records the way an answer does: through its register decoding.

#include <bit>
#include <cstdint>

#include "device/device.h"

namespace varnok::test {

inline uint16_t wire(uint16_t v) { return static_cast<uint16_t>((v << 8) | (v >> 8)); }

// A float pair as the device sends it: the low half first, each register byte-swapped.
inline void decode_holding_float(Device& d, uint16_t address, float value)
{
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    d.holding_register(address, wire(static_cast<uint16_t>(bits)));
    d.holding_register(uint16_t(address + 1), wire(static_cast<uint16_t>(bits >> 16)));
}

inline void decode_input_float(Device& d, uint16_t address, float value)
{
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    d.input_register(address, wire(static_cast<uint16_t>(bits)));
    d.input_register(uint16_t(address + 1), wire(static_cast<uint16_t>(bits >> 16)));
}

inline void set_ustavka(Device& d, int k, float v) { decode_holding_float(d, channel_base(k) + kOffUstavka, v); }
inline void set_max(Device& d, int k, float v) { decode_holding_float(d, channel_base(k) + kOffMax, v); }
inline void set_min(Device& d, int k, float v) { decode_holding_float(d, channel_base(k) + kOffMin, v); }
inline void set_urms_te(Device& d, int k, float v) { decode_input_float(d, channel_base(k) + kOffUrms, v); }
inline void set_freq(Device& d, float v) { decode_input_float(d, kRegFreq, v); }
inline void set_format(Device& d, int k, uint8_t decpos, uint8_t unit)
{
    d.holding_register(channel_base(k) + kOffScale, uint16_t(decpos << 8 | unit));
}
inline void set_pwm(Device& d, int k, uint16_t low, uint16_t high)
{
    d.holding_register(channel_base(k) + kOffPWML, low);
    d.holding_register(channel_base(k) + kOffPWMH, high);
}
inline void set_light(Device& d, uint8_t v) { d.holding_register(kRegLight, v); }

}  // namespace varnok::test
