#include "modbus/crc.h"

namespace varnok {

uint16_t crc16(std::span<const uint8_t> bytes)
{
    uint16_t crc = 0xFFFF;
    for (const uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

uint16_t GenerateCRC(Frame Buf, uint16_t Count)
{
    const size_t n = Count < Buf.size() ? Count : Buf.size();
    return crc16(std::span<const uint8_t>(Buf.data(), n));
}

}  // namespace varnok
