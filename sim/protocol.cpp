#include "sim/protocol.h"

#include "modbus/crc.h"

namespace varnok::sim {

size_t request_length(std::span<const uint8_t> head)
{
    if (head.size() < 2)
        return 0;
    const uint8_t fc = head[1];
    if (fc >= 1 && fc <= 4)
        return 8;
    if (fc == 16)
        return head.size() < 7 ? 0 : 9 + size_t(head[6]);
    return kEndsAtSilence;
}

std::vector<uint8_t> rtu_frame(uint8_t address, std::span<const uint8_t> pdu)
{
    std::vector<uint8_t> f;
    f.reserve(pdu.size() + 3);
    f.push_back(address);
    f.insert(f.end(), pdu.begin(), pdu.end());
    const uint16_t crc = crc16(f);
    f.push_back(uint8_t(crc));
    f.push_back(uint8_t(crc >> 8));
    return f;
}

std::vector<uint8_t> exception_pdu(uint8_t fc, uint8_t code) { return {uint8_t(fc | 0x80), code}; }

namespace {

uint16_t word_at(std::span<const uint8_t> p, size_t i) { return uint16_t(p[i] << 8 | p[i + 1]); }

}  // namespace

std::vector<uint8_t> answer_pdu(SimulatedDevice& device, std::span<const uint8_t> pdu, Clock::time_point now)
{
    const uint8_t fc = pdu.empty() ? 0 : pdu[0];
    const bool known = fc == 1 || fc == 2 || fc == 3 || fc == 4 || fc == 16;
    if (!known)
        return exception_pdu(fc, kIllegalFunction);
    if (pdu.size() < 5 || (fc == 16 && pdu.size() < 6))
        return exception_pdu(fc, kIllegalValue);
    const uint16_t start = word_at(pdu, 1);
    const uint16_t count = word_at(pdu, 3);

    if (fc == 1 || fc == 2) {
        std::vector<bool> bits;
        const uint8_t e =
            fc == 1 ? device.read_coils(start, count, bits, now) : device.read_discrete(start, count, bits);
        if (e)
            return exception_pdu(fc, e);
        std::vector<uint8_t> out{fc, uint8_t((bits.size() + 7) / 8)};
        out.resize(2 + out[1], 0);
        for (size_t i = 0; i < bits.size(); ++i)
            if (bits[i])
                out[2 + i / 8] |= uint8_t(1u << (i % 8));
        return out;
    }
    if (fc == 3 || fc == 4) {
        std::vector<uint16_t> regs;
        const uint8_t e =
            fc == 3 ? device.read_holding(start, count, regs) : device.read_input(start, count, regs, now);
        if (e)
            return exception_pdu(fc, e);
        std::vector<uint8_t> out{fc, uint8_t(2 * regs.size())};
        for (const uint16_t r : regs) {
            out.push_back(uint8_t(r >> 8));
            out.push_back(uint8_t(r));
        }
        return out;
    }
    // Function 16: the byte count must be that of the registers, and all must be there.
    const uint8_t byte_count = pdu[5];
    if (count < 1 || count > 123 || byte_count != 2 * count || pdu.size() != 6u + byte_count)
        return exception_pdu(fc, kIllegalValue);
    std::vector<uint16_t> values;
    for (size_t i = 0; i < count; ++i)
        values.push_back(word_at(pdu, 6 + 2 * i));
    if (const uint8_t e = device.write_holding(start, values))
        return exception_pdu(fc, e);
    return {fc, pdu[1], pdu[2], pdu[3], pdu[4]};
}

}  // namespace varnok::sim
