#pragma once
// Where the answer checks hand the data of a valid answer. The device layer implements it.

#include <cstdint>
#include <span>

namespace varnok {

class RegisterSink {
public:
    virtual ~RegisterSink() = default;
    // Each returns false when the address is outside the device's map.
    virtual bool holding_register(uint16_t address, uint16_t value) = 0;
    virtual bool input_register(uint16_t address, uint16_t value) = 0;
    // The data field of an input-register answer, before its registers are decoded.
    virtual void input_data(std::span<const uint8_t> bytes) = 0;
    // The first data byte of a coil or discrete-input answer.
    virtual void coil_byte(uint8_t bits) = 0;
    virtual void input_byte(uint8_t bits) = 0;
};

}  // namespace varnok
