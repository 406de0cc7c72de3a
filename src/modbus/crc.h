#pragma once
// Modbus CRC-16: reflected polynomial A001 hex, initial value FFFF hex, no final inversion.

#include <cstddef>
#include <cstdint>
#include <span>

#include "link/frame.h"

namespace varnok {

uint16_t crc16(std::span<const uint8_t> bytes);

// The CRC of the first `Count` bytes of `Buf` (clamped to the buffer).
uint16_t GenerateCRC(Frame Buf, uint16_t Count);

}  // namespace varnok
