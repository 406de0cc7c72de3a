#include "link/link_fixture.h"
#include "modbus/master.h"
#include "support/recording_sink.h"

namespace varnok::test {
namespace {

using namespace std::chrono_literals;

// The master over a pseudo-terminal at 9600 bit/s; the test plays the device.
class Requests : public LinkOnPty {
protected:
    Requests() : mb(link, sink) {}
    void SetUp() override
    {
        link.vich_timeout(2, 32);
        ASSERT_EQ(link.dw, 0u);
        sleeper.pauses.clear();
    }
    RecordingSink sink;
    ModbusMaster mb;
};

TEST_F(Requests, AReadSendsItsFrameAndAsksForOneByteMoreThanTheAnswerHolds)
{
    pty.feed_after(5ms, unhex("05 03 06 02 05 00 00 7A 43 BC C6"));
    mb.func = 3;
    mb.opros_registers(3, 0x20, 3);
    EXPECT_EQ(hex(pty.take(8)), "05 03 00 20 00 03 05 85");
    EXPECT_EQ(mb.kol_wait_bytes, 11);
    EXPECT_EQ(mb.dl_otvet, 11);
    EXPECT_EQ(mb.obrab_buf_read_holding_registers(0x20, 3), kOk);
    EXPECT_EQ(sink.holding[0x22], 0x7A43);
    // Pause before, pause after, then the allowance for the expected bytes.
    EXPECT_EQ(sleeper.pauses, (std::vector<unsigned>{8, 10, 3 * 11}));
}

TEST_F(Requests, BitReadsUseTheirFunctionCodes)
{
    pty.feed_after(5ms, unhex("05 01 01 05 90 BB"));
    mb.opros_coils(0, 3);
    EXPECT_EQ(hex(pty.take(8)), "05 01 00 00 00 03 7D 8F");
    EXPECT_EQ(mb.obrab_buf_coils(), kOk);
    pty.feed_after(5ms, unhex("05 02 01 05 60 BB"));
    mb.opros_discret_inputs(0, 3);
    EXPECT_EQ(hex(pty.take(8)), "05 02 00 00 00 03 39 8F");
    EXPECT_EQ(mb.obrab_buf_discret_inputs(), kOk);
}

TEST_F(Requests, AWriteWaitsForTheDeviceToStoreBeforeReceiving)
{
    pty.feed_after(5ms, unhex("05 10 00 23 00 02 B1 86"));
    mb.zn_word[1] = 0x0000;
    mb.zn_word[2] = 0x803F;
    mb.write_holding_2registers(0x23, 2, std::span<const uint16_t>(mb.zn_word).subspan(1));
    EXPECT_EQ(hex(pty.take(13)), "05 10 00 23 00 02 04 00 00 80 3F " + [] {
        const uint16_t c = crc16(unhex("05 10 00 23 00 02 04 00 00 80 3F"));
        char s[8];
        std::snprintf(s, sizeof s, "%02X %02X", c & 0xFF, c >> 8);
        return std::string(s);
    }());
    EXPECT_EQ(mb.kol_wait_bytes, 8);
    EXPECT_EQ(sleeper.pauses, (std::vector<unsigned>{8, 10, 2 * 20, 3 * 8}));
    EXPECT_EQ(mb.obrab_buf_write_holding_registers(0x23, 2), kOk);
}

TEST_F(Requests, ABusyDeviceIsHeardAgainWithoutASecondRequest)
{
    pty.feed_after(5ms, unhex("05 90 05 CD C2"));
    mb.write_holding_registers(1, 1, 3);
    EXPECT_EQ(pty.take(11).size(), 11u);
    EXPECT_EQ(mb.obrab_buf_write_holding_registers(1, 1), kBusy);
    pty.feed_after(5ms, unhex("05 10 00 01 00 01 51 8D"));
    mb.receive_again();
    EXPECT_TRUE(pty.take(1, std::chrono::milliseconds(20)).empty());
    EXPECT_EQ(mb.obrab_buf_write_holding_registers(1, 1), kOk);
}

TEST_F(Requests, ASilentDeviceGivesElevenAndTheLineSaysSo)
{
    mb.func = 3;
    mb.na_reg = 0x800;
    mb.kol_reg = 1;
    mb.opros_registers(3, 0x800, 1);
    const uint8_t e = mb.obrab_buf_read_holding_registers(0x800, 1);
    EXPECT_EQ(e, kNoAnswer);
    EXPECT_EQ(mb.msg_buf_error(e), " 03 0800  не дождались ответа0:");
}

}  // namespace
}  // namespace varnok::test
