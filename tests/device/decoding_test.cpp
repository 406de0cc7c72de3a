#include <gtest/gtest.h>

#include "device/cp1251.h"
#include "device/device.h"
#include "support/frames.h"
#include "support/fakes.h"
#include "support/hex.h"

namespace varnok::test {
namespace {

// A device model with no port: answers are checked as from the number addressed and decoded into it.
class Decoding : public ::testing::Test {
protected:
    Decoding() : link(notices, sleeper, ports), dev(link, notices) { link.set_sys_num(5); }

    void answer(const std::string& hex_bytes) { bytes = unhex(hex_bytes); }
    // The same answer with its CRC appended.
    void answer_crc(const std::string& hex_bytes) { answer(hex_with_crc(hex_bytes)); }
    uint8_t holding(uint16_t na, uint16_t kol)
    {
        return obrab_buf_read_holding_registers(bytes, link.settings().sys_num, na, kol, dev);
    }
    uint8_t input(uint16_t na, uint16_t kol)
    {
        return obrab_buf_input_registers(bytes, link.settings().sys_num, na, kol, dev);
    }

    Bytes bytes;

    PortMap ports;
    RecordingNotices notices;
    RecordingSleeper sleeper;
    ScriptedKeys keys;
    Link link;
    Device dev;
};

TEST_F(Decoding, AScaleAnswerFillsDecimalPointUnitAndFullScale)
{
    answer("05 03 06 02 05 00 00 7A 43 BC C6");
    EXPECT_EQ(holding(0x20, 3), kOk);
    EXPECT_EQ(dev.parScl(1).DecPosition, 2);
    EXPECT_STREQ(txt_decpos[dev.parScl(1).DecPosition], "ddd.d");
    EXPECT_EQ(dev.parScl(1).Measure, 5);
    EXPECT_STREQ(txt_mes[dev.parScl(1).Measure], "кА");
    EXPECT_EQ(dev.parScl(1).Ustavka.Long, 0x437A0000u);
    EXPECT_EQ(dev.parScl(1).Ustavka.as_float(), 250.0f);
    EXPECT_EQ(dev.parScl(2).Ustavka.Long, 0u) << "other channels untouched";
}

TEST_F(Decoding, InterfaceRegistersAreRecordedAndTheNumberIsReported)
{
    answer("05 03 02 00 05 89 87");
    EXPECT_EQ(holding(0x800, 1), kOk);
    EXPECT_EQ(dev.adr(), 5);

    link.set_speed(19200);
    answer_crc("05 03 08 00 04 00 02 00 02 FF FF");
    EXPECT_EQ(holding(0x800, 4), kOk);
    EXPECT_EQ(dev.adr(), 4) << "the device reports another number";
    EXPECT_EQ(dev.line().speed_code, 2);
    EXPECT_EQ(dev.line().parity, 2);
    EXPECT_EQ(dev.line().stopbit, 0xFF) << "only the low byte is kept";
    // Whoever read them decides what the line takes.
    EXPECT_EQ(link.settings().sys_num, 5);
    EXPECT_EQ(link.settings().num_scor, 3);
    EXPECT_EQ(link.settings().parity, 0);
    EXPECT_EQ(link.settings().stopbit, 1);

    // A number no device can have is a format error and never reported: 0 is the broadcast.
    link.set_sys_num(4);
    for (const char* number : {"00 00", "00 F8", "01 05"}) {
        answer_crc(std::string("04 03 02 ") + number);
        EXPECT_EQ(holding(0x800, 1), kBadFormat) << number;
        EXPECT_EQ(dev.adr(), 4) << number;
    }
}

TEST_F(Decoding, SetpointsCalibrationAndPwmOfEachChannel)
{
    for (int n = 1; n <= 3; ++n) {
        // Max 1.0 (00 00 80 3F), Min -0.5 (BF000000: 00 00 00 BF).
        answer_crc("05 03 08 00 00 80 3F 00 00 00 BF");
        EXPECT_EQ(holding(uint16_t(32 * n + 3), 4), kOk);
        EXPECT_EQ(dev.parUst(n).Max.as_float(), 1.0f);
        EXPECT_EQ(dev.parUst(n).Min.as_float(), -0.5f);

        // Ref 1012, Ncal 0.0025 (3B23D70A: 0A D7 23 3B), PWML 400, PWMH 3600.
        answer_crc("05 03 0A 03 F4 0A D7 23 3B 01 90 0E 10");
        EXPECT_EQ(holding(uint16_t(32 * n + 7), 5), kOk);
        EXPECT_EQ(dev.Ch(n).Ref, 1012);
        EXPECT_EQ(dev.Ch(n).Ncal.Long, 0x3B23D70Au);
        EXPECT_EQ(dev.Ch(n).PWML, 400);
        EXPECT_EQ(dev.Ch(n).PWMH, 3600);
    }
}

TEST_F(Decoding, InputRegistersOfMeasurementsAndFrequency)
{
    // Measured value 50.0 (42480000), zero reading 873, converter output 100000 (000186A0).
    answer_crc("05 04 0A 00 00 48 42 03 69 A0 86 01 00");
    EXPECT_EQ(input(0x4C, 5), kOk);
    EXPECT_EQ(dev.Ch(2).Urms_te, 50.0f);
    EXPECT_EQ(dev.Ch(2).new_Ref, 873);
    EXPECT_EQ(dev.Ch(2).new_ADCout.Long, 100000u);

    answer_crc("05 04 04 00 00 48 42");
    EXPECT_EQ(input(2, 2), kOk);
    EXPECT_EQ(dev.freq().as_float(), 50.0f);
}

TEST_F(Decoding, ARegisterOutsideTheMapGivesTwoWhileTheKnownOnesAreDecoded)
{
    // Holding 2A, 2B are the PWM points; 2C is an input register only.
    answer_crc("05 03 06 01 90 0E 10 12 34");
    EXPECT_EQ(holding(0x2A, 3), kIllegalAddress);
    EXPECT_EQ(dev.Ch(1).PWML, 400);
    EXPECT_EQ(dev.Ch(1).PWMH, 3600);

    for (uint16_t a : {0, 5, 0x1F, 0x2C, 0x80, 0x7FF, 0x804})
        EXPECT_EQ(dev.holding_register(a, 1), kIllegalAddress) << a;
    for (uint16_t a : {0, 1, 14, 0x20, 0x2B, 0x31, 0x80})
        EXPECT_EQ(dev.input_register(a, 1), kIllegalAddress) << a;
}

TEST_F(Decoding, TheSecondRegisterOfAPairAloneJoinsWithTheAccumulator)
{
    EXPECT_EQ(dev.holding_register(0x22, 0x7A43), kOk);  // the accumulator starts at 0
    EXPECT_EQ(dev.parScl(1).Ustavka.Long, 0x437A0000u);
    EXPECT_EQ(dev.holding_register(0x22, 0x7A43), kOk);
    EXPECT_EQ(dev.parScl(1).Ustavka.Long, 0x86F40000u) << "the accumulator keeps what it held";
}

TEST_F(Decoding, RelayAndSwitchBits)
{
    dev.coil_byte(0x05);
    EXPECT_TRUE(dev.onoffK(1));
    EXPECT_FALSE(dev.onoffK(2));
    EXPECT_TRUE(dev.onoffK(3));
    answer("05 02 01 05 60 BB");
    EXPECT_EQ(obrab_buf_discret_inputs(bytes, 5, dev), kOk);
    EXPECT_FALSE(dev.onoff_swXP1());
    EXPECT_TRUE(dev.onoff_swJMP78());
    EXPECT_FALSE(dev.onoff_swXP3());
}

TEST_F(Decoding, NameAndVersionTexts)
{
    answer("05 04 0A 56 61 72 6E 6F 6B 20 20 20 20 AE 8A");
    EXPECT_EQ(input(4, 5), kOk);
    EXPECT_EQ(dev.tmp_str(), "Varnok    ");
    EXPECT_EQ(dev.tmp_text(), "Varnok    ") << "trailing blanks kept";

    // Cyrillic in Windows-1251, four letters then zero bytes.
    answer_crc("05 04 0A C2 E0 F0 ED 00 00 00 00 00 00");
    EXPECT_EQ(input(9, 5), kOk);
    EXPECT_EQ(dev.tmp_text(), "Варн");
}

TEST(TextBytes, Windows1251)
{
    const uint8_t all_cyrillic[] = {0xC0, 0xDF, 0xE0, 0xFF, 0xA8, 0xB8, 0xB9};
    EXPECT_EQ(cp1251_to_utf8(all_cyrillic), "АЯаяЁё№");
    const uint8_t unassigned[] = {'a', 0x98, 'b', 0, 'c'};
    EXPECT_EQ(cp1251_to_utf8(unassigned), "a\uFFFDb");
}

TEST_F(Decoding, FloatsTravelLeastSignificantByteFirst)
{
    const std::array<uint16_t, 2> one = Device::float1_to_zn(1.0f);
    EXPECT_EQ(one[0], 0x0000);
    EXPECT_EQ(one[1], 0x803F);
    for (const float f : {250.0f, -0.5f, 0.1f, 3.4e38f, 1e-30f}) {
        const std::array<uint16_t, 2> zn_word = Device::float1_to_zn(f);
        EXPECT_EQ(dev.holding_register(0x23, zn_word[0]), kOk);
        EXPECT_EQ(dev.holding_register(0x24, zn_word[1]), kOk);
        EXPECT_EQ(dev.parUst(1).Max.as_float(), f);
    }
}

TEST_F(Decoding, SpeedZeroProbeShowsItsMessageAndTouchesNoPort)
{
    link.set_speed(0);
    EXPECT_EQ(dev.otvet_ustsv(), 0);
    ASSERT_EQ(notices.boxes.size(), 1u);
    EXPECT_EQ(notices.boxes[0].text, "выберите скорость ");
    EXPECT_FALSE(link.hcom().is_open());
    EXPECT_TRUE(sleeper.pauses.empty()) << "nothing was sent";
}

}  // namespace
}  // namespace varnok::test
