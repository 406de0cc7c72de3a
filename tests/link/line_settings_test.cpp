#include <cerrno>

#include "link/error_text.h"
#include "link/link_fixture.h"

namespace varnok::test {
namespace {

using LineSettings = LinkOnPty;

TEST_F(LineSettings, OpeningAPresentPortSetsSpeedStopBitsAndTimeouts)
{
    link.set_timeouts({3, 20, 16, 0, 0});
    EXPECT_EQ(link.init_com_port_new("COM1", 19200, 0, 2, 8), 0u);
    EXPECT_TRUE(link.fSuccess());
    EXPECT_EQ(line_speed(), B19200);
    EXPECT_TRUE(line().c_cflag & CSTOPB);
    EXPECT_EQ(link.commtimeouts().ReadIntervalTimeout, 3u);
    EXPECT_EQ(link.commtimeouts().ReadTotalTimeoutMultiplier, 20u);
    EXPECT_EQ(link.commtimeouts().ReadTotalTimeoutConstant, 16u);
    EXPECT_TRUE(notices.boxes.empty());

    // One stop bit; then 0 keeps whatever the driver had.
    EXPECT_EQ(link.init_com_port_new("COM1", 9600, 0, 1, 8), 0u);
    EXPECT_FALSE(line().c_cflag & CSTOPB);
    EXPECT_EQ(link.init_com_port_new("COM1", 9600, 0, 2, 8), 0u);
    EXPECT_EQ(link.init_com_port_new("COM1", 9600, 0, 0, 8), 0u);
    EXPECT_TRUE(line().c_cflag & CSTOPB);
}

TEST_F(LineSettings, ParityIsSetOnTheTerminalAsFarAsAPseudoTerminalKeepsIt)
{
    // A pseudo-terminal drops PARENB but keeps PARODD: odd is told from none and even. Asking
    // for the parity already in force is no failure either.
    for (uint8_t parity : {1, 1, 2, 2, 0, 2, 1}) {
        EXPECT_EQ(link.init_com_port_new("COM1", 9600, parity, 1, 8), 0u) << int(parity);
        EXPECT_EQ(bool(line().c_cflag & PARODD), parity == 1) << int(parity);
    }
    EXPECT_NE(link.init_com_port_new("COM1", 9600, 5, 1, 8), 0u);
}

TEST_F(LineSettings, ReinitialisingClosesTheFirstHandleAndTheExclusiveOpenRefusesOthers)
{
    ASSERT_EQ(link.init_com_port_new("COM1", 9600, 0, 1, 8), 0u);
    ASSERT_EQ(link.init_com_port_new("COM1", 9600, 0, 1, 8), 0u);

    RecordingNotices other_notices;
    Link other(other_notices, sleeper, ports);
    EXPECT_NE(other.init_com_port_new("COM1", 9600, 0, 1, 8), 0u);
    EXPECT_NE(other.last_failure().find("занят"), std::string::npos) << other.last_failure();
}

TEST_F(LineSettings, AMissingPortFailsAndALaterPresentPortSucceeds)
{
    link.set_port(2);
    const uint32_t code = link.init_com_port_new("COM2", 9600, 0, 1, 8);
    EXPECT_NE(code, 0u);
    EXPECT_EQ(code, link.dwError());
    EXPECT_FALSE(link.hcom().is_open());
    EXPECT_TRUE(notices.boxes.empty());  // the caller decides what to show
    EXPECT_NE(link.last_failure().find("/nonexistent/ttyVARNOK"), std::string::npos);

    EXPECT_EQ(link.init_com_port_new("COM1", 9600, 0, 1, 8), 0u);
    EXPECT_TRUE(link.hcom().is_open());
}

TEST_F(LineSettings, APortNumberAbove16IsRefusedWithItsMessage)
{
    link.set_port(17);
    EXPECT_NE(link.init_com_port_new("COM1", 9600, 0, 1, 8), 0u);
    ASSERT_EQ(notices.boxes.size(), 1u);
    EXPECT_EQ(notices.boxes[0].text, "неверный Com-порт");
    EXPECT_FALSE(link.hcom().is_open());

    link.set_port(1);
    EXPECT_EQ(link.init_com_port_new("COM1", 9600, 0, 1, 8), 0u);
}

TEST_F(LineSettings, ASpeedTheDriverRefusesIsAFailure)
{
    EXPECT_EQ(link.init_com_port_new("COM1", 14400, 0, 1, 8), uint32_t(EINVAL));
}

TEST_F(LineSettings, TimeoutRowsPerSpeedCode)
{
    struct Row {
        uint8_t code;
        uint16_t rit, rttm, rttc, before, after;
    };
    // Code 0, a speed outside the table, takes the slowest row.
    const Row rows[] = {{0, 5, 20, 16, 8, 10}, {1, 5, 20, 16, 8, 10}, {2, 3, 20, 16, 8, 10}, {3, 3, 20, 16, 8, 10},
                        {4, 2, 20, 16, 8, 10}, {5, 2, 2, 2, 1, 1},    {6, 2, 2, 2, 1, 1}};
    link.set_timeouts({30, 5, 225, 7, 7});
    const LinkSettings& s = link.settings();
    for (const Row& r : rows) {
        link.vich_timeout(r.code);
        EXPECT_EQ(s.timeouts.R_IntervalTimeout, r.rit) << int(r.code);
        EXPECT_EQ(s.timeouts.R_TotalTimeoutMultiplier, r.rttm) << int(r.code);
        EXPECT_EQ(s.timeouts.R_TotalTimeoutConstant, r.rttc) << int(r.code);
        EXPECT_EQ(s.timeouts.W_TotalTimeoutMultiplier, 0);
        EXPECT_EQ(s.timeouts.W_TotalTimeoutConstant, 0);
        EXPECT_EQ(s.time_pause_before, r.before) << int(r.code);
        EXPECT_EQ(s.time_pause_after, r.after) << int(r.code);
        EXPECT_EQ(link.dw(), 0u);
        // The port takes the current speed, not the speed of the code.
        EXPECT_EQ(line_speed(), B9600);
    }
    EXPECT_TRUE(notices.boxes.empty());
}

TEST_F(LineSettings, AFailedReinitialisationShowsItsMessageWithTheReasonBeneath)
{
    link.set_port(2);
    link.vich_timeout(2);
    EXPECT_NE(link.dw(), 0u);
    ASSERT_EQ(notices.boxes.size(), 1u);
    EXPECT_EQ(notices.boxes[0].text, "ошибка настройки порта ");
    EXPECT_NE(notices.boxes[0].informative.find("/nonexistent/ttyVARNOK"), std::string::npos);
    EXPECT_NE(notices.boxes[0].informative.find("errno"), std::string::npos);
    // The pauses of the code are set all the same.
    EXPECT_EQ(link.settings().time_pause_before, 8);
    // The first failed step's error, for a message of the program's own.
    EXPECT_EQ(link.failure_error(), ENOENT);
}

// The reasons users meet, in Russian; the box's advice is the same text as a sentence.
TEST(ErrorTexts, TheCommonErrorsReadInRussian)
{
    EXPECT_EQ(error_text_ru(ENOENT), "нет такого устройства");
    EXPECT_EQ(error_text_ru(EBUSY), "порт занят другой программой");
    EXPECT_EQ(error_text_ru(ECONNREFUSED), "соединение отклонено");
    EXPECT_EQ(error_text_ru(ETIMEDOUT), "время ожидания истекло");
    EXPECT_EQ(error_text_ru(EHOSTUNREACH), "узел недоступен");
    EXPECT_EQ(error_text_ru(EACCES).rfind("нет прав на порт: добавьте пользователя в группу dialout", 0), 0u);
    EXPECT_EQ(port_error_advice(EBUSY), "Порт занят другой программой.");
    EXPECT_EQ(port_error_advice(EACCES),
              "Нет прав на порт: добавьте пользователя в группу dialout (sudo usermod -aG dialout $USER) и войдите в "
              "систему заново.");
    EXPECT_EQ(port_error_advice(ENOENT), "");
    EXPECT_NE(error_text_ru(EILSEQ).find("(errno " + std::to_string(EILSEQ) + ")"), std::string::npos);
}

}  // namespace
}  // namespace varnok::test
