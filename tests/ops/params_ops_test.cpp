// Interface parameters, scales and setpoints as operations, against the simulator.
#include "ops/interface_params.h"
#include "ops/scales.h"
#include "ops_fixture.h"

namespace varnok::test {
namespace {

struct Adoption {
    InterfaceRow row;
    uint8_t value;
    const char* frame;
    int32_t scor;
    uint8_t code, parity, stopbit, sys_num, interval;
};

// On a pseudo-terminal: the line the device hears is what the port's new settings made of the terminal.
class WriteAdopted : public OpsOn<SimProcess>, public ::testing::WithParamInterface<Adoption> {};

// The link after the write, and the interval time-out of the speed in force; the next
// request, at the device's new settings, is answered.
TEST_P(WriteAdopted, AndTheNextRequestIsAnswered)
{
    const Adoption& c = GetParam();
    open_at(9600);
    dev.record_speed(5, 2);  // as the start-up probe found it
    InterfaceParams params(dev, report);
    ASSERT_EQ(params.write(c.row, c.value), kOk);
    EXPECT_EQ(report.requests, std::vector<std::string>{c.frame});
    const LinkSettings& line = link.settings();
    EXPECT_EQ(line.scor_obmena, c.scor);
    EXPECT_EQ(line.num_scor, c.code);
    EXPECT_EQ(line.parity, c.parity);
    EXPECT_EQ(line.stopbit, c.stopbit);
    EXPECT_EQ(line.sys_num, c.sys_num);
    EXPECT_EQ(dev.scor_CN(c.sys_num), c.code);
    EXPECT_EQ(line.timeouts.R_IntervalTimeout, c.interval);
    EXPECT_EQ(params.read(kRowSysnum), kOk);
    EXPECT_TRUE(report.lines.empty());
    EXPECT_TRUE(notices.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WriteAdopted,
    ::testing::Values(Adoption{kRowScor, 3, "05 10 08 01 00 01 02 00 03 5C 80", 19200, 3, 0, 1, 5, 3},
                      Adoption{kRowScor, 5, "05 10 08 01 00 01 02 00 05 DC 82", 57600, 5, 0, 1, 5, 2},
                      Adoption{kRowParity, 2, "05 10 08 02 00 01 02 00 02 9D 73", 9600, 2, 2, 1, 5, 3},
                      Adoption{kRowStopbit, 2, "05 10 08 03 00 01 02 00 02 9C A2", 9600, 2, 0, 2, 5, 3},
                      Adoption{kRowSysnum, 17, "05 10 08 00 00 01 02 00 11 DD 5C", 9600, 2, 0, 1, 17, 3}));

TEST_F(OpsOnSim, ABusyDeviceIsHeardOnceMore)
{
    open_at(9600);
    InterfaceParams params(dev, report);
    // Busy, then the answer: speed, parity and stop bits tell the busy line, the number nothing.
    sim.command("fault busy");
    EXPECT_EQ(params.write(kRowStopbit, 2), kOk);
    ASSERT_EQ(report.lines.size(), 1u);
    EXPECT_EQ(report.lines[0].rfind(" 10 0803  занят, отвечу позже5:05 90 05 ", 0), 0u) << report.lines[0];
    EXPECT_EQ(link.settings().stopbit, 2);

    report.lines.clear();
    sim.command("fault busy");
    EXPECT_EQ(params.write(kRowSysnum, 5), kOk);
    EXPECT_TRUE(report.lines.empty());
    EXPECT_EQ(sim.command("get holding 0x800"), "ok 5");

    // Busy and nothing after it: the second failure is the one line.
    sim.command("fault exception 5");
    EXPECT_EQ(params.write(kRowSysnum, 9), kNoAnswer);
    EXPECT_EQ(report.lines, std::vector<std::string>{" 10 0800  не дождались ответа0:"});
    EXPECT_EQ(link.settings().sys_num, 5);
}

// A read takes what the device tells (9600 8N1) into the line settings, the speed only as its
// code; the port stays as it is set up. A read that failed takes nothing.
TEST_F(OpsOnSim, AReadTakesTheDevicesLineSettings)
{
    open_at(9600);
    InterfaceParams params(dev, report);
    link.take_reported_speed_code(5);
    link.set_parity(1);
    link.set_stopbit(2);
    EXPECT_EQ(params.read(kRowScor), kOk);
    EXPECT_EQ(link.settings().num_scor, 2);
    EXPECT_EQ(link.settings().parity, 1) << "only the row read";
    EXPECT_EQ(params.read(kRowParity), kOk);
    EXPECT_EQ(params.read(kRowStopbit), kOk);
    EXPECT_EQ(link.settings().parity, 0);
    EXPECT_EQ(link.settings().stopbit, 1);
    EXPECT_EQ(link.settings().scor_obmena, 9600);

    link.take_reported_speed_code(5);
    sim.command("fault exception 2");
    EXPECT_EQ(params.read(kRowScor), 2);
    EXPECT_EQ(link.settings().num_scor, 5);
}

TEST_F(OpsOnSim, AScaleWriteTakesPointAndUnitOnlyWithItsValue)
{
    open_at(9600);
    Scales scales(dev, report);
    ASSERT_EQ(scales.read_scale(1), kOk);
    EXPECT_EQ(dev.parScl(1).DecPosition, 2);

    sim.command("fault exception 4 at 0x21");
    const Scales::Written refused = scales.write_scale(1, 1234, 1, 3);
    EXPECT_EQ(refused.value, kDeviceFailure);
    EXPECT_EQ(refused.format, kOk);
    EXPECT_EQ(dev.parScl(1).DecPosition, 2) << "the readings keep the old point";
    ASSERT_EQ(report.lines.size(), 1u);
    EXPECT_EQ(report.lines[0].rfind("02: 10 0021  \"специфическая ошибка\"5:", 0), 0u) << report.lines[0];

    const Scales::Written taken = scales.write_scale(1, 1234, 1, 3);
    EXPECT_EQ(taken.value, kOk);
    EXPECT_EQ(taken.format, kOk);
    EXPECT_EQ(dev.parScl(1).Ustavka.as_float(), 12.34f);
    EXPECT_EQ(dev.parScl(1).DecPosition, 1);
    EXPECT_EQ(dev.parScl(1).Measure, 3);
    EXPECT_EQ(sim.command("get holding 0x20"), "ok 259");

    // Four digits and a point: 0 d.ddd, 1 dd.dd, 2 ddd.d, 3 or beyond dddd.
    EXPECT_EQ(entry_value(750, 0), 0.75f);
    EXPECT_EQ(entry_value(750, 2), 75.0f);
    EXPECT_EQ(entry_value(9999, 3), 9999.0f);
    EXPECT_EQ(entry_value(9999, 7), 9999.0f);
}

}  // namespace
}  // namespace varnok::test
