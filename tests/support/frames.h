#pragma once
// Frames as tests write them: hexadecimal text and bytes with their CRC appended.

#include "modbus/crc.h"
#include "support/hex.h"

namespace varnok::test {

inline Bytes with_crc(Bytes frame)
{
    const uint16_t c = crc16(frame);
    frame.push_back(uint8_t(c));
    frame.push_back(uint8_t(c >> 8));
    return frame;
}

inline std::string hex_with_crc(const std::string& hex_bytes) { return hex(with_crc(unhex(hex_bytes))); }

}  // namespace varnok::test
