// The trend window: what it keeps and shows of the polls, its pause, and its CSV and PNG
// files against the values the readings page showed.
#include <QImage>
#include <QLineSeries>

#include "console_fixture.h"
#include "console/file_chooser.h"
#include "console/trend/tftrend.h"

namespace varnok::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The value columns of a CSV text, row by row (the time column is local time).
QStringList value_columns(const QString& csv)
{
    QStringList rows = csv.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    rows.removeFirst();
    for (QString& r : rows)
        r = r.section(QLatin1Char(','), 1);
    return rows;
}

TEST(TrendData, WindowAndHourKept)
{
    TrendData d;
    const int64_t m = 60 * 1000;
    // The percentages stay out of the CSV.
    d.add(0, {1, 2, 3}, {50, 50, 50});
    d.add(30 * m, {4.5, kNaN, -6}, {50, kNaN, 50});
    d.add(59 * m, {0.1f, 8, 9}, {50, 50, 50});
    d.add(61 * m, {10, 11, 12}, {50, 50, 50});  // the sample at 0 is now more than an hour old
    EXPECT_EQ(d.size(), 3u);
    struct Case {
        int64_t end;
        int minutes;
        QStringList rows;
    } cases[] = {
        {61 * m, 1, {"10,11,12"}},
        {61 * m, 5, {"0.100000001,8,9", "10,11,12"}},
        {61 * m, 60, {"4.5,,-6", "0.100000001,8,9", "10,11,12"}},
        {59 * m, 15, {"0.100000001,8,9"}},  // a paused window ends before the latest sample
    };
    for (const Case& c : cases)
        EXPECT_EQ(value_columns(d.csv(c.end, c.minutes)), c.rows) << c.end << " " << c.minutes;
    EXPECT_TRUE(d.csv(0, 60).startsWith("время,1 канал,2 канал,3 канал\n"));
}

class Trend : public ConsoleOnSim {
protected:
    ~Trend() override { set_file_chooser({}); }
    TFtrend& trend() { return glav->readings().trend(); }
    int points(int channel) { return int(trend().series(channel).count()); }
    // Saves through the window's button, into the test's folder.
    QString save(const char* button, const QString& name)
    {
        const QString path = dir.filePath(name);
        set_file_chooser([path](QWidget*, const QString&, const QString&, const QString&, bool) { return path; });
        click(trend().findChild<QPushButton*>(QLatin1String(button)));
        return path;
    }
};

TEST_F(Trend, CsvRowsAreThePolledValues)
{
    start_all();  // the activation's poll is the first row
    auto fields = [&] {
        QStringList row;
        for (const char* name : {"LEizm_te1", "LEizm_te2", "LEizm_te3"})
            row << text(name).trimmed();
        return row.join(QLatin1Char(','));
    };
    QStringList shown{fields()};
    for (int poll = 0; poll < 3; ++poll) {
        if (poll == 1)
            sim->command("fault silence at 0x4C");  // channel 2 of this poll fails
        click(find<QPushButton>("Bzapros"));
        QStringList row{fields()};
        if (poll == 1)
            row = QStringList{row.join(',').section(',', 0, 0), QString(), row.join(',').section(',', 2, 2)};
        shown << row.join(QLatin1Char(','));
    }

    click(find<QPushButton>("Btrend"));
    ASSERT_TRUE(trend().isVisible());
    EXPECT_EQ(points(1), 4);
    EXPECT_EQ(points(2), 3) << "a failed read is no point";

    QFile csv(save("Btrend_csv", QStringLiteral("trend.csv")));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    QStringList rows = value_columns(QString::fromUtf8(csv.readAll()));
    ASSERT_EQ(rows.size(), 4);
    // Each value as the poll's field shows it ("%8.4f"); the failed read an empty field.
    for (QString& r : rows) {
        QStringList cells = r.split(QLatin1Char(','));
        for (QString& c : cells)
            if (!c.isEmpty())
                c = QString::asprintf("%.4f", c.toDouble());
        r = cells.join(QLatin1Char(','));
    }
    EXPECT_EQ(rows, shown);

    const QImage png(save("Btrend_png", QStringLiteral("trend.png")));
    EXPECT_FALSE(png.isNull());
    EXPECT_GT(png.width(), 300);
}

// Channels of different units and scales: by default each in percent of its scale on one
// axis, as the readings page shows it; "значения" gives each its measured value on an axis
// of its own, titled with its unit.
TEST_F(Trend, PercentOfScaleByDefaultValuesEachOnAnAxisOfItsOwn)
{
    start_all();
    click(find<QPushButton>("Btrend"));
    auto* view = trend().findChild<QComboBox*>(QStringLiteral("CBtrend_view"));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->accessibleName().toStdString(), "тренд: вид графика");
    EXPECT_EQ(view->currentText().toStdString(), "% шкалы");
    const auto drawn = [&] {
        std::string out;
        for (int ch = 1; ch <= 3; ++ch) {
            const QLineSeries& line = trend().series(ch);
            out += QString::asprintf("%.4f ", line.at(int(line.count()) - 1).y()).toStdString() +
                   trend().axis_title(ch).toStdString() + "|";
        }
        return out;
    };
    EXPECT_EQ(drawn(), "42.5000 % шкалы|73.1000 % шкалы|12.0000 % шкалы|");
    view->setCurrentIndex(1);
    EXPECT_EQ(drawn(), "106.2500 1 канал, В|3.6550 2 канал, А|2.4000 3 канал, мА|");
}

TEST_F(Trend, PauseFreezesTheChartNotTheRecord)
{
    start_all();
    click(find<QPushButton>("Btrend"));
    auto* pause = trend().findChild<QPushButton*>(QStringLiteral("Btrend_pause"));
    pause->toggle();  // as a screen reader's toggle does
    click(find<QPushButton>("Bzapros"));
    EXPECT_EQ(points(1), 1);
    EXPECT_EQ(trend().data().size(), 2u);
    pause->toggle();
    EXPECT_EQ(points(1), 2);
}

TEST_F(Trend, WatchingTheTrendKeepsPeriodicPolling)
{
    start_all();
    click(find<QRadioButton>("RGtyp_opros_0"));
    click(glav->tool_button("ToolButton1"));
    ASSERT_TRUE(glav->readings().Timer_opros.isActive());
    click(find<QPushButton>("Btrend"));
    ASSERT_TRUE(wait_for([&] { return trend().isActiveWindow(); }));
    EXPECT_TRUE(glav->readings().Timer_opros.isActive());
    const size_t before = trend().data().size();
    ASSERT_TRUE(wait_for([&] { return trend().data().size() > before; }, 4000)) << "the ticks go on";
}

}  // namespace
}  // namespace varnok::test
