#include "modbus/master_fixture.h"

namespace varnok::test {
namespace {

using Frames = MasterOffLine;

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

TEST_F(Frames, WorkedRequestFrames)
{
    link.set_sys_num(5);
    ASSERT_TRUE(mb.form_inf_part_rtu_read(3, 0x20, 3));
    EXPECT_EQ(hex(request()), "05 03 00 20 00 03 05 85");
    EXPECT_EQ(mb.cs_CRC, 0x8505);

    ASSERT_TRUE(mb.form_inf_part_rtu_read(3, 0x800, 1));
    EXPECT_EQ(hex(request()), "05 03 08 00 00 01 87 EE");

    const uint16_t seven[] = {7};
    ASSERT_TRUE(mb.form_inf_part_rtu_multi(16, 1, 1, seven));
    EXPECT_EQ(hex(request()), "05 10 00 01 00 01 02 00 07 D4 83");

    link.set_sys_num(1);
    ASSERT_TRUE(mb.form_inf_part_rtu_read(4, 44, 2));
    EXPECT_EQ(hex(request()), "01 04 00 2C 00 02 B0 02");
}

TEST_F(Frames, WriteLengthsAndCrcCoverEveryPrecedingByte)
{
    link.set_sys_num(247);
    const uint16_t values[] = {0x0000, 0x803F, 0xFFFF};
    for (uint16_t n = 1; n <= 3; ++n) {
        ASSERT_TRUE(mb.form_inf_part_rtu_multi(16, 0x23, n, values));
        const Bytes r = request();
        ASSERT_EQ(r.size(), 9u + 2 * n);
        EXPECT_EQ(r[0], 247);
        EXPECT_EQ(r[6], 2 * n);
        EXPECT_EQ(crc16(r), 0) << "the CRC covers address to last value";
    }
    EXPECT_EQ(hex(request()), "F7 10 00 23 00 03 06 00 00 80 3F FF FF 46 AE");
}

TEST_F(Frames, FramesThatWouldNotFitAreRefused)
{
    ASSERT_TRUE(mb.form_inf_part_rtu_read(3, 0, kMaxReadCount));
    const Bytes before = request();
    EXPECT_FALSE(mb.form_inf_part_rtu_read(3, 0, kMaxReadCount + 1));
    EXPECT_EQ(request(), before);

    std::vector<uint16_t> many(40, 1);
    EXPECT_TRUE(mb.form_inf_part_rtu_multi(16, 0, kMaxWriteCount, many));
    EXPECT_EQ(mb.dl_note, 63);
    EXPECT_FALSE(mb.form_inf_part_rtu_multi(16, 0, kMaxWriteCount + 1, many));
    const uint16_t two[] = {1, 2};
    EXPECT_FALSE(mb.form_inf_part_rtu_multi(16, 0, 3, two)) << "fewer values than registers";
}

TEST_F(Frames, ARefusedRequestSendsNothingAndReadsAsNoAnswer)
{
    mb.func = 3;
    mb.opros_registers(3, 0, 100);
    EXPECT_EQ(mb.dl_otvet, 0);
    EXPECT_EQ(mb.obrab_buf_read_holding_registers(0, 100), kNoAnswer);
    EXPECT_TRUE(sink.nothing_decoded());
}

}  // namespace
}  // namespace varnok::test
