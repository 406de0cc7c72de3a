// The accuracy check: its statistics and verdicts, and a run against the simulator that only
// reads.
#include "ops/accuracy_check.h"

#include "ops_fixture.h"

namespace varnok::test {
namespace {

using record::CheckPoint;

CheckPoint point_of(double reference, std::vector<double> readings, unsigned samples)
{
    CheckPoint p;
    p.reference = reference;
    p.readings = std::move(readings);
    p.samples = samples;
    return p;
}

TEST(AccuracyJudge, StatisticsErrorsAndTheVerdictAtTheBoundary)
{
    CheckPoint p = point_of(60.0, {61.0, 62.0, 63.0, 64.0}, 4);
    judge_point(p, 250.0, 0.5);
    EXPECT_DOUBLE_EQ(p.mean, 62.5);
    EXPECT_DOUBLE_EQ(p.min, 61.0);
    EXPECT_DOUBLE_EQ(p.max, 64.0);
    EXPECT_NEAR(p.stdev, 1.2909944487358056, 1e-12) << "the sample deviation, n - 1";
    EXPECT_DOUBLE_EQ(p.error, 2.5);
    EXPECT_DOUBLE_EQ(p.reduced_error, 1.0);
    EXPECT_FALSE(p.fit);

    // 0.1 / 20 x 100 is 0.5000000000000004 in binary: still the tolerance, so fit.
    p = point_of(1.0, {1.1, 1.1}, 2);
    judge_point(p, 20.0, 0.5);
    EXPECT_TRUE(p.fit) << p.reduced_error;
    p = point_of(1.0, {1.1001, 1.1001}, 2);
    judge_point(p, 20.0, 0.5);
    EXPECT_FALSE(p.fit) << p.reduced_error;
    // Negative errors count by their size.
    p = point_of(1.0, {0.9}, 1);
    judge_point(p, 20.0, 0.5);
    EXPECT_TRUE(p.fit);
    EXPECT_EQ(p.stdev, 0.0) << "one reading has no deviation";

    // Fewer readings than asked, or a failure: no verdict from what there is.
    p = point_of(1.0, {1.0, 1.0}, 3);
    judge_point(p, 20.0, 0.5);
    EXPECT_FALSE(p.fit);
    EXPECT_EQ(p.mean, 0.0);
    p = point_of(1.0, {1.0, 1.0, 1.0}, 3);
    p.failure = "отсчёт 3 не прочитан";
    judge_point(p, 20.0, 0.5);
    EXPECT_FALSE(p.fit);

    record::ChannelCheck c;
    EXPECT_FALSE((judge_channel(c), c.fit)) << "a channel without points";
    c.points = {point_of(0, {0}, 1), point_of(0, {0}, 1)};
    for (CheckPoint& q : c.points)
        judge_point(q, 20.0, 0.5);
    judge_channel(c);
    EXPECT_TRUE(c.fit);
    EXPECT_STREQ(c.verdict(), "годен");
    c.points[1].fit = false;
    judge_channel(c);
    EXPECT_STREQ(c.verdict(), "не годен");
}

TEST(AccuracyJudge, PlansThatCannotBeChecked)
{
    EXPECT_EQ(plan_fault(CheckPlan{}), "");
    CheckPlan p;
    p.channels = {1, 4};
    EXPECT_EQ(plan_fault(p), "канал 4 не существует: каналы 1..3");
    p.channels = {2, 2};
    EXPECT_EQ(plan_fault(p), "канал 2 выбран дважды");
    p = {};
    p.points = {-10, 110, 110.5};
    EXPECT_EQ(plan_fault(p), "точка 110.5 % вне пределов -10..110 %");
    p = {};
    p.tolerance = 0;
    EXPECT_NE(plan_fault(p), "");
    p = {};
    p.samples = 101;
    EXPECT_EQ(plan_fault(p), "число отсчётов 101 вне пределов 1..100");
}

// Takes the pauses at once, noting them.
class NotedPauses : public Sleeper {
public:
    void sleep_ms(unsigned ms) override { log.push_back(ms); }
    std::vector<unsigned> log;
};

class AccuracyOps : public OpsOnSim {
protected:
    AccuracyOps() : check(dev, report, pauses) {}
    // Whether every request shown was a read (functions 1..4).
    bool only_reads() const
    {
        for (const std::string& r : report.requests)
            if (r.size() < 5 || std::stoi(r.substr(3, 2), nullptr, 16) > 4)
                return false;
        return true;
    }
    NotedPauses pauses;
    AccuracyCheck check;
};

TEST_F(AccuracyOps, ARunReadsScaleAndConstantsMeasuresAndJudgesWithoutWriting)
{
    open_at(9600);
    CheckPlan plan;
    plan.channels = {1};
    plan.points = {0, 25};
    plan.samples = 3;
    plan.tolerance = 0.2;
    std::string failure;
    record::CheckRun run = check.begin(plan, record::CheckKind::AsFound, failure);
    ASSERT_EQ(failure, "");
    ASSERT_EQ(run.channels.size(), 1u);
    record::ChannelCheck& c = run.channels[0];
    EXPECT_EQ(c.full_scale, 250.0);
    EXPECT_EQ(c.unit, "В");
    EXPECT_TRUE(c.constants.read);
    EXPECT_EQ(c.constants.zero, 1012);
    EXPECT_EQ(c.constants.coefficient, 0.0025f);
    ASSERT_EQ(c.points.size(), 2u);
    EXPECT_EQ(c.points[1].nominal, 62.5);
    EXPECT_EQ(c.points[1].reference, 62.5);

    // The converter's true zero 400 counts above the stored one: +1 V everywhere, 0.4 % of 250 V.
    sim.command("zero 1 1412");
    sim.command("signal 1 25");
    check.measure(c, c.points[1], run.tolerance);
    EXPECT_EQ(c.points[1].readings, (std::vector<double>{63.5, 63.5, 63.5}));
    EXPECT_NEAR(c.points[1].error, 1.0, 1e-4);
    EXPECT_NEAR(c.points[1].reduced_error, 0.4, 1e-4);
    EXPECT_FALSE(c.points[1].fit);
    EXPECT_EQ(pauses.log, (std::vector<unsigned>{100, 100})) << "between readings, not after the last";
    EXPECT_FALSE(c.fit);

    // A read that fails ends the point, named, with the readings taken so far and no verdict.
    sim.command("zero 1 1012");
    sim.command("signal 1 0");
    sim.command("fault silence after 1 function 4");
    check.measure(c, c.points[0], run.tolerance);
    EXPECT_EQ(c.points[0].readings.size(), 1u);
    EXPECT_EQ(c.points[0].failure.rfind("канал 1, 0 %: отсчёт 2 не прочитан: ", 0), 0u) << c.points[0].failure;
    EXPECT_FALSE(c.points[0].measured());
    EXPECT_FALSE(c.points[0].fit);
    // Measured again, both points as they should be: fit.
    check.measure(c, c.points[0], run.tolerance);
    sim.command("signal 1 25");
    check.measure(c, c.points[1], run.tolerance);
    EXPECT_TRUE(c.points[0].failure.empty());
    EXPECT_TRUE(c.fit);
    EXPECT_TRUE(run.fit());

    EXPECT_TRUE(only_reads()) << "a check writes nothing to the device";

    // A constants' read that fails stops the run before anything is measured.
    sim.command("fault exception 2 function 3 at 0x27");
    run = check.begin(plan, record::CheckKind::AsLeft, failure);
    EXPECT_EQ(failure.rfind("канал 1: калибровочные константы не прочитаны: ", 0), 0u) << failure;
}

}  // namespace
}  // namespace varnok::test
