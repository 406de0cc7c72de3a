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
        link.vich_timeout(2);
        ASSERT_EQ(link.dw(), 0u);
        link.set_sys_num(5);
        sleeper.pauses.clear();
    }
    static std::string received(const Exchange& x) { return hex(Bytes(x.received().begin(), x.received().end())); }

    RecordingSink sink;
    ModbusMaster mb;
};

TEST_F(Requests, AReadSendsItsFrameAndAsksForOneByteMoreThanTheAnswerHolds)
{
    pty.answer(8, unhex("05 03 06 02 05 00 00 7A 43 BC C6"));
    const Exchange x = mb.tuda_suda(opros_registers(3, 0x20, 3));
    pty.join();
    EXPECT_EQ(hex(pty.heard()), "05 03 00 20 00 03 05 85");
    EXPECT_EQ(x.kol_wait_bytes, 11);
    EXPECT_EQ(x.dl_otvet, 11);
    EXPECT_EQ(x.err, kOk);
    EXPECT_EQ(sink.holding[0x22], 0x7A43);
    // Pause before, pause after, then the allowance for the expected bytes.
    EXPECT_EQ(sleeper.pauses, (std::vector<unsigned>{8, 10, 3 * 11}));
}

TEST_F(Requests, BitReadsUseTheirFunctionCodes)
{
    pty.answer(8, unhex("05 01 01 05 90 BB"));
    EXPECT_EQ(mb.tuda_suda(opros_coils(0, 3)).err, kOk);
    pty.answer(8, unhex("05 02 01 05 60 BB"));
    const Exchange x = mb.tuda_suda(opros_discret_inputs(0, 3));
    pty.join();
    EXPECT_EQ(hex(pty.heard()), "05 01 00 00 00 03 7D 8F 05 02 00 00 00 03 39 8F");
    EXPECT_EQ(x.err, kOk);
}

TEST_F(Requests, AWriteWaitsForTheDeviceToStoreBeforeReceiving)
{
    pty.answer(13, unhex("05 10 00 23 00 02 B1 86"));
    const uint16_t zn[] = {0x0000, 0x803F};
    const Exchange x = mb.tuda_suda(write_holding_2registers(0x23, zn));
    pty.join();
    EXPECT_EQ(hex(pty.heard()), "05 10 00 23 00 02 04 00 00 80 3F 85 42");
    EXPECT_EQ(x.kol_wait_bytes, 8);
    EXPECT_EQ(sleeper.pauses, (std::vector<unsigned>{8, 10, 2 * 20, 3 * 8}));
    EXPECT_EQ(x.err, kOk);
}

TEST_F(Requests, TheLongestWriteGoesOutWholeWithItsCrc)
{
    // 27 registers: 63 bytes, the request buffer's last position included.
    std::array<uint16_t, 27> zn{};
    for (size_t i = 0; i < zn.size(); ++i)
        zn[i] = uint16_t((2 * i + 1) << 8 | (2 * i + 2));
    const Exchange x = mb.tuda_suda(write_holding_2registers(0x40, zn));
    EXPECT_EQ(x.dl_note, 63);
    EXPECT_EQ(hex(pty.take(64, 200ms)),
              "05 10 00 40 00 1B 36 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15 16 17 18 19 "
              "1A 1B 1C 1D 1E 1F 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F 30 31 32 33 34 35 36 E2 29");
}

TEST_F(Requests, ABusyDeviceIsHeardAgainWithoutASecondRequest)
{
    pty.answer(11, unhex("05 90 05 CD C2"));
    const Exchange busy = mb.tuda_suda(write_holding_registers(1, 3));
    pty.join();
    EXPECT_EQ(pty.heard().size(), 11u);
    EXPECT_EQ(busy.err, kBusy);
    EXPECT_TRUE(link.late_answer_possible()) << "the next request waits for the late answer to pass";
    pty.feed(unhex("05 10 00 01 00 01 51 8D"));
    const Exchange again = mb.receive_again(busy);
    EXPECT_TRUE(pty.take(1, std::chrono::milliseconds(20)).empty());
    EXPECT_EQ(again.err, kOk);
    EXPECT_EQ(received(again), "05 10 00 01 00 01 51 8D");
    EXPECT_EQ(hex(Bytes(again.sent().begin(), again.sent().end())), "05 10 00 01 00 01 02 00 03 D5 40");
    EXPECT_FALSE(link.late_answer_possible()) << "the answer that was due has come";

    // Noise that merely looks like a busy answer makes nobody wait.
    pty.answer(11, unhex("05 90 05 00 00"));
    EXPECT_EQ(mb.tuda_suda(write_holding_registers(1, 3)).err, kBadCrc);
    pty.join();
    EXPECT_FALSE(link.late_answer_possible());
}

TEST_F(Requests, ASilentDeviceGivesElevenAndTheLineSaysSo)
{
    const Exchange x = mb.tuda_suda(opros_registers(3, 0x800, 1));
    EXPECT_EQ(x.err, kNoAnswer);
    EXPECT_EQ(x.pr_out, 2);
    EXPECT_EQ(x.msg_buf_error(), " 03 0800  не дождались ответа0:");
}

}  // namespace
}  // namespace varnok::test
