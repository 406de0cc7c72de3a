// Calibration as operations, against the simulator: writes with their read-back, averages,
// the PWM points, and the trim's arithmetic.
#include "ops/calibration.h"
#include "ops_fixture.h"
#include "support/device_records.h"
#include "support/frames.h"

namespace varnok::test {
namespace {

// Takes the pauses at once, each noted with the function of the request before it.
class Pauses : public Sleeper, public FrameTap {
public:
    void sleep_ms(unsigned ms) override { log.push_back(std::to_string(ms) + " after " + std::to_string(function_)); }
    void sent(const uint8_t* bytes, size_t n) override { function_ = n > 1 ? bytes[1] : 0; }
    void received(const uint8_t*, size_t) override {}
    std::vector<std::string> log;

private:
    uint8_t function_ = 0;
};

// The lines of an average as numbers and texts, in their order.
class Listed : public AverageLines {
public:
    void exchange(const Exchange&) override { ++exchanges; }
    void line(const std::string& text) override { lines.push_back(text); }
    void status(const std::string&) override {}
    void zero_reading(unsigned i, uint16_t zero) override { reading(i, zero); }
    void zero_mean(uint16_t mean) override { lines.push_back("= " + std::to_string(mean)); }
    void output_reading(unsigned i, uint32_t output, double coefficient) override
    {
        reading(i, output);
        coefficients.push_back(coefficient);
    }
    void output_mean(uint32_t mean, float) override { lines.push_back("= " + std::to_string(mean)); }
    void reading(unsigned i, uint32_t value) { lines.push_back(std::to_string(i) + ": " + std::to_string(value)); }

    int exchanges = 0;
    std::vector<std::string> lines;
    std::vector<double> coefficients;  // of each converter output
};

class CalibOps : public OpsOnSim {
protected:
    CalibOps() : calib(dev, report, refusals, pauses) { link.set_tap(&pauses); }

    RecordingReport refusals;  // what the console shows in a message box
    Pauses pauses;
    Calibration calib;
};

TEST_F(CalibOps, AZeroWriteIsReadBackAfterItsPauseAndARefusalIsNot)
{
    open_at(9600);
    sim.command("signal 1 0");
    sim.command("setf holding 0x28 0.25");

    const Calibration::Written w = calib.write_zero(1, 1001);
    EXPECT_EQ(w.code, kOk);
    EXPECT_EQ(w.measured, kOk);
    EXPECT_EQ(refusals.requests.at(0), hex_with_crc("05 10 00 27 00 01 02 03 E9"));
    EXPECT_EQ(pauses.log, std::vector<std::string>{"500 after 16"});
    EXPECT_EQ(dev.Ch(1).Urms_te, 2.75f) << "1012 - 1001 counts at 0.25";
    EXPECT_EQ(sim.command("get holding 0x27"), "ok 1001");
    EXPECT_TRUE(report.requests.empty()) << "the read-back's exchange is not shown";
    EXPECT_TRUE(refusals.lines.empty());

    // Refused: its line goes to the refusals, and there is neither pause nor read-back.
    sim.command("fault exception 3");
    EXPECT_EQ(calib.write_zero(1, 1002).code, kIllegalValue);
    ASSERT_EQ(refusals.lines.size(), 1u);
    EXPECT_NE(refusals.lines[0].find("недопустимое значение"), std::string::npos) << refusals.lines[0];
    EXPECT_EQ(pauses.log.size(), 1u);

    // Taken, but its read-back fails: the write's code is good, the read-back's error is a line.
    sim.command("fault exception 4 function 4");
    const Calibration::Written unread = calib.write_zero(1, 1003);
    EXPECT_EQ(unread.code, kOk);
    EXPECT_EQ(unread.measured, kDeviceFailure);
    EXPECT_EQ(report.lines.size(), 1u);
    EXPECT_EQ(pauses.log.size(), 2u);

    // A coefficient write the same way: the coefficient given, its pause, its read-back.
    EXPECT_EQ(calib.write_coefficient(2, 0.05f).code, kOk);
    EXPECT_EQ(refusals.requests.back(), hex_with_crc("05 10 00 48 00 02 04 CD CC 4C 3D"));
    EXPECT_EQ(pauses.log.back(), "500 after 16");
}

TEST_F(CalibOps, AveragesTakeAMeanOnlyWhenEveryReadingWasGood)
{
    open_at(9600);
    Listed listed;

    // Four zero readings: the mean to the nearest integer, halves going up.
    sim.command("script input 0x2E 450 450 451 451");
    EXPECT_EQ(calib.average_zero(1, 4, 2, listed), std::optional<uint16_t>(451));
    EXPECT_EQ(listed.lines, (std::vector<std::string>{"1: 450", "2: 450", "3: 451", "4: 451", "= 451"}));
    EXPECT_EQ(calib.pending_zero(1), 451);
    EXPECT_TRUE(pauses.log.empty());

    // The third reading fails: its error line in its place, no mean.
    listed.lines.clear();
    sim.command("script input 0x2E 460*4");
    sim.command("fault exception 4 after 2");
    EXPECT_EQ(calib.average_zero(1, 4, 2, listed), std::nullopt);
    ASSERT_EQ(listed.lines.size(), 4u);
    EXPECT_EQ(listed.lines[1], "2: 460");
    EXPECT_NE(listed.lines[2].find("специфическая ошибка"), std::string::npos) << listed.lines[2];
    EXPECT_EQ(listed.lines[3], "4: 460");
    EXPECT_EQ(listed.exchanges, 8);

    // Converter outputs: a pause after each, the failed one too; the coefficient of the mean.
    test::set_ustavka(dev, 1, 100.0f);
    listed.lines.clear();
    sim.command("scriptl input 0x2F 100000 100000 100001 100001");
    EXPECT_EQ(calib.average_output(1, 4, 2, listed), std::optional<uint32_t>(100001));
    EXPECT_EQ(listed.lines.back(), "= 100001");
    EXPECT_FLOAT_EQ(calib.pending_coefficient(1).as_float(), 0.000999995f);
    EXPECT_EQ(calib.pending_output(1), 100001u);
    EXPECT_EQ(pauses.log, std::vector<std::string>(4, "500 after 4"));

    calib.set_output(1, 25);
    calib.derive_coefficient(1);
    ASSERT_EQ(calib.pending_coefficient(1).as_float(), 4.0f);
    sim.command("setl input 0x2F 200000");
    sim.command("fault exception 4 after 1");
    EXPECT_EQ(calib.average_output(1, 4, 2, listed), std::nullopt);
    EXPECT_EQ(pauses.log.size(), 8u);
    EXPECT_EQ(calib.pending_coefficient(1).as_float(), 4.0f) << "the pending coefficient stays";
    EXPECT_EQ(calib.pending_output(1), 200000u) << "the good reading before the failure is pending";

    // Sixteen outputs at the top of the range sum past 32 bits; outputs of 0 count as 1.
    sim.command("setl input 0x2F 0xFFFFFFFF");
    EXPECT_EQ(calib.average_output(1, 16, 4, listed), std::optional<uint32_t>(0xFFFFFFFF));
    listed.coefficients.clear();
    sim.command("setl input 0x2F 0");
    EXPECT_EQ(calib.average_output(1, 4, 2, listed), std::optional<uint32_t>(0));
    EXPECT_EQ(listed.coefficients, (std::vector<double>(4, 100.0)));
    EXPECT_EQ(calib.pending_coefficient(1).as_float(), 100.0f);
}

TEST_F(CalibOps, PwmPointsWithTheirPauses)
{
    open_at(9600);
    EXPECT_EQ(calib.write_pwm(1, kPwmLow, 300), kOk);
    EXPECT_EQ(refusals.requests, std::vector<std::string>{hex_with_crc("05 10 00 2A 00 01 02 01 2C")});
    EXPECT_EQ(sim.command("get holding 0x2A"), "ok 300");
    EXPECT_TRUE(pauses.log.empty()) << "a plain write does not wait";

    // A step's write waits: the lower point by channel, the upper one alike for all.
    const std::tuple<int, PwmPoint, uint16_t, const char*> stepped[] = {{1, kPwmLow, 400, "300 after 16"},
                                                                        {2, kPwmLow, 400, "500 after 16"},
                                                                        {3, kPwmLow, 400, "500 after 16"},
                                                                        {3, kPwmHigh, 1500, "400 after 16"}};
    for (const auto& [k, point, value, pause] : stepped) {
        EXPECT_EQ(calib.step_pwm(k, point, value), kOk);
        EXPECT_EQ(pauses.log.back(), pause) << k << point;
    }

    // Channels 1 and 2 read both points; channel 3 only the one asked for.
    EXPECT_EQ(calib.read_pwm_point(1, kPwmHigh), kOk);
    EXPECT_EQ(calib.read_pwm_point(3, kPwmHigh), kOk);
    EXPECT_EQ(report.requests,
              (std::vector<std::string>{hex_with_crc("05 03 00 2A 00 02"), hex_with_crc("05 03 00 6B 00 01")}));
    EXPECT_EQ(dev.Ch(1).PWML, 400);
    EXPECT_EQ(dev.Ch(3).PWMH, 1500);

    sim.command("fault exception 3");
    EXPECT_EQ(calib.write_pwm(2, kPwmHigh, 1500), kIllegalValue);
    EXPECT_EQ(refusals.lines.size(), 1u);
    EXPECT_TRUE(report.lines.empty());
}

TEST(CalibTrim, CarryAndBorrowAtTheirEdges)
{
    struct Case {
        bool carry;
        uint32_t base;
        int top;
        uint8_t unit;
        uint32_t new_base;
        uint8_t new_offset;
    };
    const Case cases[] = {
        {true, 5000, 10, 1, 5010, 1},
        {true, 16777215, 100, 100, 16777315, 100},  // the last base still raised
        {true, 16777216, 10, 10, 16777216, 10},     // too high: the offset alone moves
        {false, 5000, 10, 1, 4990, 9},
        {false, 11, 10, 1, 1, 9},   // the last base still lowered
        {false, 10, 10, 1, 10, 9},  // not above the top: kept
        {false, 5000, 100, 100, 4900, 0},
    };
    for (const Case& c : cases) {
        uint32_t base = c.base;
        uint8_t offset = 5;
        const auto step = c.carry ? trim_carry : trim_borrow;
        const uint32_t out = step(base, offset, c.top, c.unit);
        EXPECT_EQ(base, c.new_base) << c.carry << " " << c.base;
        EXPECT_EQ(offset, c.new_offset) << c.carry << " " << c.base;
        EXPECT_EQ(out, c.new_base + c.new_offset) << c.carry << " " << c.base;
    }
}

TEST_F(CalibOps, TheTrimmedOutputGivesThePendingCoefficient)
{
    test::set_ustavka(dev, 1, 250.0f);
    calib.set_output(1, 5000);
    calib.derive_coefficient(1);
    EXPECT_EQ(calib.pending_coefficient(1).Long, 0x3D4CCCCDu) << "250 / 5000";

    // An output of 0 is taken as 1.
    calib.set_output(1, 0);
    calib.derive_coefficient(1);
    EXPECT_EQ(calib.pending_output(1), 1u);
    EXPECT_EQ(calib.pending_coefficient(1).as_float(), 250.0f);

    // A new session starts every output at 1; the coefficient derived from the trim stays.
    calib.set_output(2, 0);
    calib.start_session();
    EXPECT_EQ(calib.pending_output(2), 1u);
    EXPECT_EQ(calib.pending_coefficient(1).as_float(), 250.0f);
}

}  // namespace
}  // namespace varnok::test
