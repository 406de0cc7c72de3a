#include <gtest/gtest.h>

#include "modbus/crc.h"
#include "modbus/master.h"
#include "support/fakes.h"
#include "support/hex.h"
#include "support/recording_sink.h"

namespace varnok::test {
namespace {

TEST(Crc, KnownVectors)
{
    const Bytes probe = unhex("01 03 00 00 00 01");
    EXPECT_EQ(crc16(probe), 0x0A84);  // sent as 84 0A
    EXPECT_EQ(crc16(unhex("05 03 00 20 00 03")), 0x8505);
    EXPECT_EQ(crc16({}), 0xFFFF);
    // The checksum of a frame with its CRC appended is zero.
    EXPECT_EQ(crc16(unhex("05 03 02 00 05 89 87")), 0);

    Frame b{};
    b.fill(0xEE);
    std::copy(probe.begin(), probe.end(), b.begin());
    EXPECT_EQ(GenerateCRC(b, 6), 0x0A84);
    EXPECT_EQ(GenerateCRC(b, 1000), crc16(b));  // never past the buffer
}

// The frame of a request to `sys_num`, or "refused".
std::string frame(uint8_t sys_num, const Request& r, Exchange* into = nullptr)
{
    Exchange x;
    x.request = r;
    const bool built = r.func == kWriteMultipleRegisters ? form_inf_part_rtu_multi(sys_num, x)
                                                         : form_inf_part_rtu_read(sys_num, x);
    if (into)
        *into = x;
    return built ? hex(Bytes(x.sent().begin(), x.sent().end())) : "refused";
}

TEST(Frames, WorkedRequestFrames)
{
    Exchange x;
    EXPECT_EQ(frame(5, opros_registers(3, 0x20, 3), &x), "05 03 00 20 00 03 05 85");
    EXPECT_EQ(x.cs_CRC, 0x8505);
    EXPECT_EQ(frame(5, opros_registers(3, 0x800, 1)), "05 03 08 00 00 01 87 EE");
    EXPECT_EQ(frame(5, write_holding_registers(1, 7)), "05 10 00 01 00 01 02 00 07 D4 83");
    EXPECT_EQ(frame(1, opros_registers(4, 44, 2)), "01 04 00 2C 00 02 B0 02");
    EXPECT_EQ(frame(5, opros_coils(0, 3)), "05 01 00 00 00 03 7D 8F");
    EXPECT_EQ(frame(5, opros_discret_inputs(0, 3)), "05 02 00 00 00 03 39 8F");
}

TEST(Frames, WriteLengthsAndCrcCoverEveryPrecedingByte)
{
    const uint16_t values[] = {0x0000, 0x803F, 0xFFFF};
    Exchange x;
    for (uint16_t n = 1; n <= 3; ++n) {
        ASSERT_NE(frame(247, write_holding_2registers(0x23, std::span(values, n)), &x), "refused");
        const Bytes r(x.sent().begin(), x.sent().end());
        ASSERT_EQ(r.size(), 9u + 2 * n);
        EXPECT_EQ(r[0], 247);
        EXPECT_EQ(r[6], 2 * n);
        EXPECT_EQ(crc16(r), 0) << "the CRC covers address to last value";
    }
    EXPECT_EQ(hex(Bytes(x.sent().begin(), x.sent().end())), "F7 10 00 23 00 03 06 00 00 80 3F FF FF 46 AE");
}

TEST(Frames, FramesThatWouldNotFitAreRefused)
{
    Exchange x;
    x.request = opros_registers(3, 0, kMaxReadCount);
    ASSERT_TRUE(form_inf_part_rtu_read(5, x));
    const Bytes before(x.sent().begin(), x.sent().end());
    x.request = opros_registers(3, 0, kMaxReadCount + 1);
    EXPECT_FALSE(form_inf_part_rtu_read(5, x));
    EXPECT_EQ(Bytes(x.sent().begin(), x.sent().end()), before);

    const std::vector<uint16_t> many(40, 1);
    EXPECT_NE(frame(5, write_holding_2registers(0, std::span(many).first(kMaxWriteCount)), &x), "refused");
    EXPECT_EQ(x.dl_note, 63);
    EXPECT_EQ(frame(5, write_holding_2registers(0, std::span(many).first(kMaxWriteCount + 1))), "refused");
    EXPECT_EQ(frame(5, {kWriteMultipleRegisters, 0, 3, {1, 2}}), "refused") << "fewer values than registers";
}

TEST(Frames, ARefusedRequestSendsNothingAndReadsAsNoAnswer)
{
    RecordingNotices notices;
    RecordingSleeper sleeper;
    ScriptedKeys keys;
    PortMap ports;
    Link link(notices, sleeper, ports);
    RecordingSink sink;
    ModbusMaster mb(link, sink);
    const Exchange x = mb.tuda_suda(opros_registers(3, 0, 100));
    EXPECT_EQ(x.dl_note, 0);
    EXPECT_EQ(x.dl_otvet, 0);
    EXPECT_EQ(x.err, kNoAnswer);
    EXPECT_TRUE(notices.boxes.empty()) << "nothing was sent, not even to the port that is not open";
    EXPECT_TRUE(sink.nothing_decoded());
}

}  // namespace
}  // namespace varnok::test
