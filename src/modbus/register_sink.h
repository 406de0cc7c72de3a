#pragma once
// Where the answer checks hand the data of a valid answer. The device layer implements it.

#include <cstdint>
#include <span>

#include "modbus/errors.h"

namespace varnok {

class RegisterSink {
public:
    virtual ~RegisterSink() = default;
    // Each returns kOk, kIllegalAddress when the address is outside the device's map, or
    // kBadFormat when the value is one the console must not take (it is then not stored).
    virtual uint8_t holding_register(uint16_t address, uint16_t value) = 0;
    virtual uint8_t input_register(uint16_t address, uint16_t value) = 0;
    // The data field of an input-register answer, before its registers are decoded.
    virtual void input_data(std::span<const uint8_t> bytes) = 0;
    // The first data byte of a coil or discrete-input answer.
    virtual void coil_byte(uint8_t bits) = 0;
    virtual void input_byte(uint8_t bits) = 0;
};

}  // namespace varnok
