// The drift between two checks of a unit: means compared per point, points without a
// counterpart shown as such, and which stored check is "the last" one.
#include <gtest/gtest.h>

#include "record/drift.h"

namespace varnok::test {
namespace {

using namespace varnok::record;

CheckPoint measured(double percent, std::vector<double> readings)
{
    CheckPoint p;
    p.percent = percent;
    p.nominal = p.reference = percent * 2.5;
    p.samples = unsigned(readings.size());
    p.readings = std::move(readings);
    judge_point(p, 250, 0.5);
    return p;
}

ChannelCheck channel(int k, std::vector<CheckPoint> points)
{
    ChannelCheck c;
    c.channel = k;
    c.full_scale = 250;
    c.unit = "В";
    c.constants = {true, 1012, 0.0025f};
    c.points = std::move(points);
    judge_channel(c);
    return c;
}

CheckRun run(CheckKind kind, std::vector<ChannelCheck> channels)
{
    CheckRun r;
    r.kind = kind;
    r.started = kind == CheckKind::AsFound ? "2026-12-11 10:00:00" : "2026-12-11 11:00:00";
    r.channels = std::move(channels);
    return r;
}

// Both runs as the store keeps them: written to their documents and read back.
CheckRun stored(const CheckRun& r)
{
    const CheckHeader h{{"Варнок ПМ3", "V2.07", "ЗН-0427", 5, "COM1 9600 8N1"}, "Петров", {"К-1", "1", "2027-01-01"}};
    return read_check_document(check_document(h, r, nullptr), "test").run;
}

TEST(Drift, MeansComparedPerPointAndPointsWithoutACounterpart)
{
    CheckPoint failed = measured(100, {});
    failed.samples = 2;
    failed.failure = "канал 1, 100 %: отсчёт 1 не прочитан";
    const CheckRun left = stored(run(CheckKind::AsLeft,
                                     {channel(1, {measured(0, {0.01, 0.01}), measured(50, {125.25, 125.25}),
                                                  measured(100, {250.5, 250.5})}),
                                      channel(2, {measured(0, {0}), measured(75, {187.4})})}));
    const CheckRun found = stored(run(CheckKind::AsFound,
                                      {channel(1, {measured(0, {0.06}), measured(50, {126.0, 126.5}),
                                                   measured(25, {62.6}), failed}),
                                       channel(3, {measured(50, {124.0})})}));
    const std::vector<ChannelDrift> d = drift(left, found);
    ASSERT_EQ(d.size(), 3u);

    const ChannelDrift& c1 = d[0];
    EXPECT_EQ(c1.channel, 1);
    EXPECT_EQ(c1.full_scale, 250);
    EXPECT_EQ(c1.unit, "В");
    ASSERT_EQ(c1.points.size(), 4u) << "0, 25, 50 and 100 %, in order";
    EXPECT_EQ(c1.points[0].percent, 0);
    EXPECT_NEAR(*c1.points[0].difference, 0.05, 1e-12);
    EXPECT_NEAR(*c1.points[0].of_span, 0.02, 1e-12);
    // A point new in this check: none before.
    EXPECT_EQ(c1.points[1].percent, 25);
    EXPECT_FALSE(c1.points[1].in_before);
    EXPECT_TRUE(c1.points[1].in_now);
    EXPECT_NEAR(*c1.points[1].now, 62.6, 1e-12);
    EXPECT_FALSE(c1.points[1].difference);
    EXPECT_FALSE(c1.points[1].of_span);
    EXPECT_NEAR(*c1.points[2].before, 125.25, 1e-12);
    EXPECT_NEAR(*c1.points[2].now, 126.25, 1e-12);
    EXPECT_NEAR(*c1.points[2].difference, 1.0, 1e-12);
    EXPECT_NEAR(*c1.points[2].of_span, 0.4, 1e-12);
    // In both, but not measured now.
    EXPECT_TRUE(c1.points[3].in_before && c1.points[3].in_now);
    EXPECT_NEAR(*c1.points[3].before, 250.5, 1e-12);
    EXPECT_FALSE(c1.points[3].now);
    EXPECT_FALSE(c1.points[3].difference);

    // A channel checked only last time, and one only now.
    EXPECT_EQ(d[1].channel, 2);
    EXPECT_TRUE(d[1].in_before);
    EXPECT_FALSE(d[1].in_now);
    ASSERT_EQ(d[1].points.size(), 2u);
    EXPECT_NEAR(*d[1].points[1].before, 187.4, 1e-12);
    EXPECT_FALSE(d[1].points[1].in_now || d[1].points[1].difference);
    EXPECT_EQ(d[2].channel, 3);
    EXPECT_FALSE(d[2].in_before);
    ASSERT_EQ(d[2].points.size(), 1u);
    EXPECT_FALSE(d[2].points[0].in_before || d[2].points[0].difference);
    EXPECT_NEAR(*d[2].points[0].now, 124.0, 1e-12);
}

HistoryRecord check_record(int64_t id, const std::string& factory, const std::string& line, const CheckRun& r,
                           const CheckRun* found = nullptr)
{
    HistoryRecord h;
    h.id = id;
    h.time = "2026-12-0" + std::to_string(id) + " 12:00:00";
    h.unit = {"Варнок ПМ3", "V2.07", factory, 5, line};
    h.kind = kKindCheck;
    h.protocol_number = "N" + std::to_string(id);
    h.document = check_document({h.unit, "Петров", {"К-1", "1", "2027-01-01"}}, r, found);
    return h;
}

TEST(Drift, TheLastCheckIsTheNewestWithAnAsLeftRunBeforeThisCheck)
{
    const CheckRun left_old = run(CheckKind::AsLeft, {channel(1, {measured(50, {125.5})})});
    const CheckRun left_last = run(CheckKind::AsLeft, {channel(1, {measured(50, {125.0})})});
    const CheckRun found = run(CheckKind::AsFound, {channel(1, {measured(50, {125.75})})});
    const CheckRun left_now = run(CheckKind::AsLeft, {channel(1, {measured(50, {125.1})})});
    const std::string line = "COM1 9600 8N1";
    HistoryRecord write;
    write.id = 6, write.kind = kKindWrite, write.unit.factory_number = "ЗН-0427", write.what = "канал 1: ноль";
    std::vector<HistoryRecord> records = {
        write,
        check_record(5, "ЗН-9", line, found),                // another unit
        check_record(4, "ЗН-0427", line, left_now, &found),  // this check, after calibration
        check_record(3, "ЗН-0427", line, found),             // this check's as-found run alone
        check_record(3, "ЗН-0427", line, left_old),          // a document that does not read
        check_record(2, "ЗН-0427", line, left_last),         // the last check
        check_record(1, "ЗН-0427", line, left_old),
    };
    records[4].document.insert(0, "{");
    const Unit unit{"", "", "ЗН-0427", 5, line};
    std::string why;
    std::optional<UnitDrift> d = unit_drift(records, unit, why);
    ASSERT_TRUE(d) << why;
    EXPECT_EQ(d->now.id, 4);
    EXPECT_EQ(d->now.protocol_number, "N4");
    EXPECT_EQ(d->before.id, 2);
    EXPECT_EQ(d->before.time, "2026-12-02 12:00:00");
    ASSERT_EQ(d->channels.size(), 1u);
    EXPECT_NEAR(*d->channels[0].points[0].difference, 0.75, 1e-12);
    EXPECT_NEAR(*d->channels[0].points[0].of_span, 0.3, 1e-12);

    // Without a factory number the unit is its network number and line.
    const Unit unnumbered{"", "", "", 5, line};
    for (HistoryRecord& r : records)
        r.unit.factory_number.clear();
    records.erase(records.begin() + 1);
    ASSERT_TRUE(d = unit_drift(records, unnumbered, why)) << why;
    EXPECT_EQ(d->before.id, 2);
    EXPECT_FALSE(unit_drift(records, Unit{"", "", "", 5, "COM2 9600 8N1"}, why));
    EXPECT_EQ(why, "нет проверки до калибровки: дрейф не с чем сравнить");
    EXPECT_EQ(unit_query(unnumbered).network_number, 5);

    // A first check has nothing to drift from.
    records.resize(3);  // the write and this check's two records
    EXPECT_FALSE(unit_drift(records, unnumbered, why));
    EXPECT_EQ(why, "нет прошлой проверки после калибровки: дрейф не с чем сравнить");
}

}  // namespace
}  // namespace varnok::test
