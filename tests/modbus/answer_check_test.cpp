// The answer checks on bytes: each answer as the receiver leaves it, checked against its
// request to device 5, with what it decodes recorded.
#include <gtest/gtest.h>

#include "modbus/exchange.h"
#include "support/frames.h"
#include "support/recording_sink.h"

namespace varnok::test {
namespace {

class AnswerCheck : public ::testing::Test {
protected:
    // Places an answer as the receiver would have left it; `pr_out` 2: no address byte found.
    void answer(const std::string& hex_bytes, uint8_t pr_out = 0)
    {
        const Bytes b = unhex(hex_bytes);
        x.buf.fill(0);
        for (size_t i = 1; i <= kFillPositions; ++i)
            x.buf[i] = kFill;
        std::copy(b.begin(), b.end(), x.buf.begin() + 1);
        x.dl_otvet = uint8_t(b.size());
        x.pr_out = pr_out;
    }
    void answer_with_crc(const std::string& hex_bytes) { answer(hex_with_crc(hex_bytes)); }

    uint8_t holding(uint16_t na, uint16_t kol) { return obrab_buf_read_holding_registers(x.answer(), 5, na, kol, sink); }
    uint8_t input(uint16_t na, uint16_t kol) { return obrab_buf_input_registers(x.answer(), 5, na, kol, sink); }
    uint8_t coils() { return obrab_buf_coils(x.answer(), 5, sink); }
    uint8_t discrete_inputs() { return obrab_buf_discret_inputs(x.answer(), 5, sink); }
    uint8_t write(uint16_t na, uint16_t kol) { return obrab_buf_write_holding_registers(x.answer(), 5, na, kol); }
    // The error line of the answer placed, checked against `r`.
    std::string error_line(const Request& r)
    {
        x.request = r;
        x.err = obrab_buf(r, x.answer(), 5, sink);
        return x.msg_buf_error();
    }

    Exchange x;
    RecordingSink sink;
};

// --- sound answers ------------------------------------------------------------

TEST_F(AnswerCheck, AOneRegisterReadIsDecoded)
{
    answer("05 03 02 00 05 89 87");
    EXPECT_EQ(holding(0x800, 1), kOk);
    EXPECT_EQ(sink.holding, (std::map<uint16_t, uint16_t>{{0x800, 5}}));
}

TEST_F(AnswerCheck, InputRegistersHandTheirDataFieldAndEachRegister)
{
    answer("05 04 0A 56 61 72 6E 6F 6B 20 20 20 20 AE 8A");
    EXPECT_EQ(input(4, 5), kOk);
    EXPECT_EQ(sink.text, "Varnok    ");
    EXPECT_EQ(sink.input.size(), 5u);
    EXPECT_EQ(sink.input[4], 0x5661);
    EXPECT_EQ(sink.input[8], 0x2020);
}

TEST_F(AnswerCheck, CoilAndInputBytesAreHandedOn)
{
    answer("05 01 01 05 90 BB");
    EXPECT_EQ(coils(), kOk);
    answer("05 02 01 05 60 BB");
    EXPECT_EQ(discrete_inputs(), kOk);
    EXPECT_EQ(sink.coils, std::vector<uint8_t>{5});
    EXPECT_EQ(sink.inputs, std::vector<uint8_t>{5});
}

TEST_F(AnswerCheck, AWriteEchoOfTheRequestIsGood)
{
    answer("05 10 00 01 00 01 51 8D");
    EXPECT_EQ(write(1, 1), kOk);
}

// --- the device says no ----------------------------------------------------------

TEST_F(AnswerCheck, DeviceExceptionsPassThroughWithTheirCrc)
{
    answer("05 83 02 81 30");
    EXPECT_EQ(holding(0x20, 3), kIllegalAddress);
    answer("05 90 05 CD C2");
    EXPECT_EQ(write(1, 1), kBusy);
    answer("05 84 06 82 C3");  // an exception above 5 takes the console's text of that number
    EXPECT_EQ(input(0x2C, 2), 6);
    answer("05 84 21 C2 D9");
    EXPECT_EQ(input(0x2C, 2), 0x21);
    EXPECT_EQ(buf_error(0x21), " исключение прибора 33 ");
    EXPECT_TRUE(sink.nothing_decoded());
}

TEST_F(AnswerCheck, NoiseThatLooksLikeAnExceptionIsACrcErrorNeverABusyDevice)
{
    for (const char* bytes : {"05 90 05 00 00", "05 90 05 CD", "05 90 02 CD C1"}) {
        answer(bytes);
        EXPECT_EQ(write(1, 1), kBadCrc) << bytes;
    }
}

TEST_F(AnswerCheck, AnExceptionWithoutItsCodeOrWithCodeZeroIsNeverSuccess)
{
    answer("05 83");
    EXPECT_EQ(holding(0x20, 3), kBadCrc);
    answer("05 83 00 00 F1");
    EXPECT_EQ(holding(0x20, 3), kWrongFunction);
}

// --- broken answers ---------------------------------------------------------------

TEST_F(AnswerCheck, AnotherDevicesAddressIsWrongEvenWithARightCrc)
{
    answer("06 03 02 00 05 CD 87");
    EXPECT_EQ(holding(0x800, 1), kWrongAddress);
    EXPECT_TRUE(sink.nothing_decoded());
}

TEST_F(AnswerCheck, AnotherFunctionIsWrong)
{
    answer("05 03 04 00 01 00 02 6F F2");
    EXPECT_EQ(input(0x2C, 2), kWrongFunction);
    EXPECT_TRUE(sink.nothing_decoded());
}

TEST_F(AnswerCheck, ABadCrcDecodesNothing)
{
    answer("05 03 02 00 05 89 88");
    EXPECT_EQ(holding(0x800, 1), kBadCrc);
    EXPECT_TRUE(sink.nothing_decoded());
}

TEST_F(AnswerCheck, AnswersTooShortForACrcAreBadAndNeverReadBeyondTheBytesReceived)
{
    for (const char* bytes : {"05", "05 03", "05 03 02"}) {
        answer(bytes);
        // Whatever lies in the buffer beyond the received bytes must not matter.
        for (size_t i = x.dl_otvet + 1; i < kFrameSize; ++i)
            x.buf[i] = 0;
        EXPECT_EQ(holding(0x800, 1), kBadCrc) << bytes;
    }
    EXPECT_TRUE(sink.nothing_decoded());
}

TEST_F(AnswerCheck, AWriteEchoOfAnotherCountOrAddressIsAFormatError)
{
    answer("05 10 00 01 00 02 11 8C");
    EXPECT_EQ(write(1, 1), kBadFormat);
    EXPECT_EQ(write(1, 2), kOk);
    EXPECT_EQ(write(2, 2), kBadFormat);
}

TEST_F(AnswerCheck, AByteCountOtherThanTheRegistersAskedForDecodesNothing)
{
    // A sound two-register answer checked as the answer to a three-register read.
    answer("05 03 04 00 01 00 02 6F F2");
    EXPECT_EQ(holding(0x20, 3), kBadFormat);
    // A byte count promising more than came, with a CRC that fits the bytes that did.
    answer_with_crc("05 03 06 00 01 00 02");
    EXPECT_EQ(holding(0x20, 3), kBadFormat);
    // A text answer whose byte count promises ten bytes where two came: no text from the CRC or the fill.
    answer_with_crc("05 04 0A 41 42");
    EXPECT_EQ(input(4, 5), kBadFormat);
    answer("05 01 00 60 51");  // a bit answer with no data byte
    EXPECT_EQ(coils(), kBadFormat);
    EXPECT_TRUE(sink.nothing_decoded());
}

TEST_F(AnswerCheck, NoAnswerIsElevenWhateverTheBufferHolds)
{
    answer("05 03 02 00 05 89 87", 2);
    EXPECT_EQ(holding(0x800, 1), kNoAnswer);
    EXPECT_EQ(write(0x800, 1), kNoAnswer);
    EXPECT_TRUE(sink.nothing_decoded());
}

TEST_F(AnswerCheck, AnInputRegisterAnswerFoundInTheSecondPassIsCheckedAndDecoded)
{
    answer("05 04 04 00 00 48 42 08 75", 1);
    EXPECT_EQ(input(0x2C, 2), kOk);
    EXPECT_EQ(sink.input[0x2D], 0x4842);
    answer("05 04 04 00 00 48 42 08 76", 1);
    EXPECT_EQ(input(0x2C, 2), kBadCrc);
    answer("07 04 04 00 00 48 42 08 75", 1);
    EXPECT_EQ(input(0x2C, 2), kWrongAddress);
}

TEST_F(AnswerCheck, ARegisterOutsideTheMapGivesTwoWhileTheOthersAreDecoded)
{
    sink.unknown = {0x21};
    answer("05 03 06 02 05 00 00 7A 43 BC C6");
    EXPECT_EQ(holding(0x20, 3), kIllegalAddress);
    EXPECT_EQ(sink.holding, (std::map<uint16_t, uint16_t>{{0x20, 0x0205}, {0x22, 0x7A43}}));
}

// --- error lines ---------------------------------------------------------------------

TEST_F(AnswerCheck, ErrorLinesAreExactToTheCharacter)
{
    answer("", 2);
    EXPECT_EQ(error_line(opros_registers(3, 0x800, 1)), " 03 0800  не дождались ответа0:");

    answer("05 03 06 02 05 00 00 7A 43 BC C7");
    EXPECT_EQ(error_line(opros_registers(3, 0x20, 3)),
              " 03 0020  неверная контрольная сумма 11:05 03 06 02 05 00 00 7A 43 BC C7 ");

    answer("05 90 02 8C 00");
    EXPECT_EQ(error_line(write_holding_registers(0x0A, 7)), " 10 000A  \"недопустимый адрес \"5:05 90 02 8C 00 ");
}

TEST(ErrorTexts, StoredTextsWithTheirBlanksAndQuotes)
{
    EXPECT_EQ(buf_error(0), "\"ОК: нет ошибок\" ");
    EXPECT_EQ(buf_error(1), " \"недопустимая функция \" ");
    EXPECT_EQ(buf_error(4), " \"специфическая ошибка\"");
    EXPECT_EQ(buf_error(12), " прервали ");
    EXPECT_EQ(buf_error(14), " ошибка преобразования ТЕ ");
    EXPECT_EQ(buf_error(255), " исключение прибора 255 ");
}

TEST(ExchangeText, BytesInHexadecimalAsTheLinesShowThem)
{
    const uint8_t frame[] = {0x01, 0x04, 0x00, 0x2C, 0x0A, 0xB0};
    EXPECT_EQ(hex_bytes(frame), "01 04 00 2C 0A B0 ");
    EXPECT_EQ(hex_bytes({}), "");
}

}  // namespace
}  // namespace varnok::test
