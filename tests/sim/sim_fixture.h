#pragma once

#include <bit>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "modbus/master.h"
#include "support/frames.h"
#include "support/fakes.h"
#include "support/hex.h"
#include "support/recording_sink.h"
#include "support/sim_process.h"

namespace varnok::test {

// A 32-bit value as the device sends it: the four bytes least significant first.
inline uint32_t wire_u32(uint16_t first, uint16_t second)
{
    return uint32_t(first >> 8) | uint32_t(first & 0xFF) << 8 | uint32_t(second >> 8) << 16 |
           uint32_t(second & 0xFF) << 24;
}
inline float wire_float(uint16_t first, uint16_t second) { return std::bit_cast<float>(wire_u32(first, second)); }

// Our master at 9600 bit/s on the terminal of a simulator without converter noise.
class SimMaster : public ::testing::Test {
protected:
    explicit SimMaster(std::vector<std::string> args = {"--noise", "0"})
        : sim(std::move(args)), link(notices, sleeper, ports), mb(link, sink)
    {
        ports.set(1, sim.path());
    }
    void SetUp() override { open_at(9600, 1); }

    void open_at(int32_t speed, uint8_t stop_bits, uint8_t parity = 0)
    {
        link.set_speed_keeping_code(speed);
        link.set_stopbit(stop_bits);
        link.set_parity(parity);
        link.vich_timeout(number_scor(speed));
        ASSERT_EQ(link.dw(), 0u) << link.last_failure();
    }

    // One exchange of the master, kept in `last`; its code.
    uint8_t request(const Request& r)
    {
        last = mb.tuda_suda(r);
        return last.err;
    }
    uint8_t read(uint8_t fun, uint16_t na, uint16_t kol) { return request(opros_registers(fun, na, kol)); }
    uint8_t write(uint16_t na, std::vector<uint16_t> values) { return request(write_holding_2registers(na, values)); }
    std::string received() const { return hex(Bytes(last.received().begin(), last.received().end())); }
    float holding_float(uint16_t a) { return wire_float(sink.holding[a], sink.holding[uint16_t(a + 1)]); }
    float input_float(uint16_t a) { return wire_float(sink.input[a], sink.input[uint16_t(a + 1)]); }

    // A hand-made request (CRC added), for what the master never sends; the answer's bytes.
    Bytes raw(const Bytes& body, uint8_t expect)
    {
        const Bytes frame = with_crc(body);
        Frame ozuper{};
        std::copy(frame.begin(), frame.end(), ozuper.begin() + 1);
        link.tuda(ozuper, uint8_t(frame.size()));
        const Received r = link.suda({link.settings().sys_num, expect});
        if (r.pr_out == 2)
            return {};
        return Bytes(r.buf.begin() + 1, r.buf.begin() + 1 + r.kpb);
    }

    SimProcess sim;
    PortMap ports;
    RecordingNotices notices;
    // Real pauses, as the console makes them: the wait before reading the rest of an answer
    // keeps a briefly descheduled simulator from looking like a cut-off answer.
    RecordingSleeper sleeper{true};
    ScriptedKeys keys;
    Link link;
    RecordingSink sink;
    ModbusMaster mb;
    Exchange last;
};

}  // namespace varnok::test
