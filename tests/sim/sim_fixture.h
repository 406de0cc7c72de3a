#pragma once

#include <bit>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "modbus/master.h"
#include "support/frames.h"
#include "support/pty.h"
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
        : sim(std::move(args)), link(notices, sleeper, keys, ports), mb(link, sink)
    {
        ports.set(1, sim.path());
    }
    void SetUp() override { open_at(9600, 1); }

    void open_at(int32_t speed, uint8_t stop_bits, uint8_t parity = 0)
    {
        link.set_speed_keeping_code(speed);
        link.set_stopbit(stop_bits);
        link.set_parity(parity);
        link.vich_timeout(number_scor(speed), 32);
        ASSERT_EQ(link.dw(), 0u) << link.last_failure;
    }

    uint8_t read(uint8_t fun, uint16_t na, uint16_t kol)
    {
        mb.func = fun;
        mb.na_reg = na;
        mb.kol_reg = kol;
        mb.opros_registers(fun, na, kol);
        return fun == 3 ? mb.obrab_buf_read_holding_registers(na, kol) : mb.obrab_buf_input_registers(na, kol);
    }
    uint8_t write(uint16_t na, std::vector<uint16_t> values)
    {
        mb.func = 16;
        mb.na_reg = na;
        mb.write_holding_2registers(na, uint16_t(values.size()), values);
        return mb.obrab_buf_write_holding_registers(na, uint16_t(values.size()));
    }
    float holding_float(uint16_t a) { return wire_float(sink.holding[a], sink.holding[uint16_t(a + 1)]); }
    float input_float(uint16_t a) { return wire_float(sink.input[a], sink.input[uint16_t(a + 1)]); }

    // A hand-made request (CRC added), for what the master never sends; the answer's bytes.
    Bytes raw(const Bytes& body, uint8_t expect)
    {
        const Bytes frame = with_crc(body);
        std::copy(frame.begin(), frame.end(), mb.ozuper.begin() + 1);
        link.tuda(mb.ozuper, uint8_t(frame.size()));
        link.suda(mb.buf, mb.dl_otvet, expect);
        if (link.pr_out == 2)
            return {};
        return Bytes(mb.buf.begin() + 1, mb.buf.begin() + 1 + mb.dl_otvet);
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
};

}  // namespace varnok::test
