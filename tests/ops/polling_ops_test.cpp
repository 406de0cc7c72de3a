// The poll and the periodic tick as operations, against the simulator.
#include "ops/polling.h"
#include "ops_fixture.h"
#include "support/device_records.h"

namespace varnok::test {
namespace {

// Each channel stands on its own answer; a zero scale gives no percentage.
TEST_F(OpsOnSim, APollTellsWhichReadsTookAndKeepsWhatFailed)
{
    open_at(9600);
    Polling polling(dev, report);
    sim.command("setf holding 0x41 0");                      // channel 2's scale
    sim.command("fault silence at 0x6C function 4 always");  // channel 3's measured value
    test::set_urms_te(dev, 3, 7.5f);
    const PollResult r = polling.zapros_par(true);
    for (int k = 1; k <= 3; ++k) {
        EXPECT_TRUE(r.ch[size_t(k)].scale) << k;
        EXPECT_TRUE(r.ch[size_t(k)].setpoints) << k;
    }
    EXPECT_TRUE(r.ch[1].measured);
    EXPECT_TRUE(r.ch[1].percent);
    EXPECT_TRUE(r.ch[2].measured);
    EXPECT_FALSE(r.ch[2].percent);
    EXPECT_FALSE(r.ch[3].measured);
    EXPECT_EQ(dev.Ch(3).Urms_te, 7.5f);
    EXPECT_TRUE(r.freq);
    EXPECT_EQ(report.lines, std::vector<std::string>{" 04 006C  не дождались ответа0:"});
    // Six reads of scales and setpoints, three measured values, the frequency; the PWM
    // points are read unseen.
    ASSERT_EQ(report.requests.size(), 10u);
    EXPECT_EQ(report.requests[9], "05 04 00 02 00 02 D1 8F");
}

TEST_F(OpsOnSim, ATickWithoutASpeedSendsNothingAndGivesUpAfterTen)
{
    open_at(9600);
    Polling polling(dev, report);
    dev.record_speed(5, 0);
    for (int i = 1; i <= 10; ++i)
        EXPECT_FALSE(polling.tick(3).give_up) << i;
    const TickResult last = polling.tick(3);
    EXPECT_EQ(last.outcome, TickResult::kSpeedLost);
    EXPECT_TRUE(last.give_up);
    EXPECT_EQ(report.lines.back(), "11 scor=0 а скорость-то потерялась ");
    EXPECT_TRUE(report.requests.empty());

    // A known speed: the number answers and is polled, the count starts again.
    dev.record_speed(5, 2);
    EXPECT_EQ(polling.tick(3).outcome, TickResult::kPolled);
    EXPECT_EQ(report.statuses.back(), " Запущен ПЕРИОДИЧЕСКИЙ опрос (Т= 3c)");
    EXPECT_EQ(polling.u_err(), 0);

    sim.command("fault silence always");
    EXPECT_EQ(polling.tick(3).outcome, TickResult::kStoppedAnswering);
    EXPECT_EQ(report.lines.back(), "sys_num=5 перестал отвечать на  scor=9600");
}

}  // namespace
}  // namespace varnok::test
