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
        ASSERT_EQ(link.dw(), 0u);
        sleeper.pauses.clear();
    }
    RecordingSink sink;
    ModbusMaster mb;
};

TEST_F(Requests, AReadSendsItsFrameAndAsksForOneByteMoreThanTheAnswerHolds)
{
    pty.answer(8, unhex("05 03 06 02 05 00 00 7A 43 BC C6"));
    mb.func = 3;
    mb.opros_registers(3, 0x20, 3);
    pty.join();
    EXPECT_EQ(hex(pty.heard()), "05 03 00 20 00 03 05 85");
    EXPECT_EQ(mb.kol_wait_bytes, 11);
    EXPECT_EQ(mb.dl_otvet, 11);
    EXPECT_EQ(mb.obrab_buf_read_holding_registers(0x20, 3), kOk);
    EXPECT_EQ(sink.holding[0x22], 0x7A43);
    // Pause before, pause after, then the allowance for the expected bytes.
    EXPECT_EQ(sleeper.pauses, (std::vector<unsigned>{8, 10, 3 * 11}));
}

TEST_F(Requests, BitReadsUseTheirFunctionCodes)
{
    pty.answer(8, unhex("05 01 01 05 90 BB"));
    mb.opros_coils(0, 3);
    EXPECT_EQ(mb.obrab_buf_coils(), kOk);
    pty.answer(8, unhex("05 02 01 05 60 BB"));
    mb.opros_discret_inputs(0, 3);
    pty.join();
    EXPECT_EQ(hex(pty.heard()), "05 01 00 00 00 03 7D 8F 05 02 00 00 00 03 39 8F");
    EXPECT_EQ(mb.obrab_buf_discret_inputs(), kOk);
}

TEST_F(Requests, AWriteWaitsForTheDeviceToStoreBeforeReceiving)
{
    pty.answer(13, unhex("05 10 00 23 00 02 B1 86"));
    mb.zn_word[1] = 0x0000;
    mb.zn_word[2] = 0x803F;
    mb.write_holding_2registers(0x23, 2, std::span<const uint16_t>(mb.zn_word).subspan(1));
    pty.join();
    EXPECT_EQ(hex(pty.heard()), "05 10 00 23 00 02 04 00 00 80 3F 85 42");
    EXPECT_EQ(mb.kol_wait_bytes, 8);
    EXPECT_EQ(sleeper.pauses, (std::vector<unsigned>{8, 10, 2 * 20, 3 * 8}));
    EXPECT_EQ(mb.obrab_buf_write_holding_registers(0x23, 2), kOk);
}

TEST_F(Requests, TheLongestWriteGoesOutWholeWithItsCrc)
{
    // 27 registers: 63 bytes, the request buffer's last position included.
    std::array<uint16_t, 27> zn{};
    for (size_t i = 0; i < zn.size(); ++i)
        zn[i] = uint16_t((2 * i + 1) << 8 | (2 * i + 2));
    mb.write_holding_2registers(0x40, 27, zn);
    EXPECT_EQ(mb.dl_note, 63);
    EXPECT_EQ(hex(pty.take(64, 200ms)),
              "05 10 00 40 00 1B 36 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 "
              "1A 1B 1C 1D 1E 1F 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F 30 31 32 33 34 35 36 E2 29");
}

TEST_F(Requests, ABusyDeviceIsHeardAgainWithoutASecondRequest)
{
    pty.answer(11, unhex("05 90 05 CD C2"));
    mb.write_holding_registers(1, 1, 3);
    pty.join();
    EXPECT_EQ(pty.heard().size(), 11u);
    EXPECT_EQ(mb.obrab_buf_write_holding_registers(1, 1), kBusy);
    pty.feed(unhex("05 10 00 01 00 01 51 8D"));
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
