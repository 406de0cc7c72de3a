// The trend window: what it keeps and shows of the polls, its pause, and its CSV and PNG
// files against the values the readings page showed.
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <sys/stat.h>
#include <qcustomplot.h>

#include "console_fixture.h"
#include "console/file_chooser.h"
#include "console/readable_colours.h"
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

// The ends of a value axis: whole steps of 1, 2 or 5 times a power of ten around the values,
// with a margin that does not blow a steady value's noise up to the plot's height.
TEST(TrendData, AxisRange)
{
    struct Case {
        double lo, hi;
        bool margin;
        AxisRange want;
    } cases[] = {
        {0, 100, false, {0, 100, 20}},              // the percent axis: the whole scale
        {106.25, 106.25, true, {104, 109, 1}},      // a steady value: 2 % of it either side
        {-3, 12, true, {-5, 15, 5}},                // 5 % of the span either side
        {0, 0, true, {-0.6, 0.6, 0.2}},             // a steady zero
        {INFINITY, -INFINITY, true, {-0.5, 1.5, 0.5}},  // no value yet
    };
    for (const Case& c : cases) {
        const AxisRange r = axis_range(c.lo, c.hi, c.margin);
        EXPECT_NEAR(r.lo, c.want.lo, 1e-9) << c.lo << " " << c.hi;
        EXPECT_NEAR(r.hi, c.want.hi, 1e-9) << c.lo << " " << c.hi;
        EXPECT_NEAR(r.step, c.want.step, 1e-9) << c.lo << " " << c.hi;
    }
}

// A value that cannot be drawn (a read failed, an infinite float from the device) is no
// point, and leaves the axis on finite ends.
TEST(TrendData, OnlyFiniteValuesAreDrawn)
{
    TFtrend t;
    t.show();
    t.add({INFINITY, 5, kNaN}, {50, -INFINITY, kNaN});
    t.add({2, 6, kNaN}, {40, 60, kNaN});
    auto* view = t.findChild<QComboBox*>(QStringLiteral("CBtrend_view"));
    for (int v = 0; v < 2; ++v) {
        view->setCurrentIndex(v);
        EXPECT_EQ(t.series(1).dataCount() + t.series(2).dataCount() + t.series(3).dataCount(), 3) << v;
        const QCPRange r = t.series(1).valueAxis()->range();
        EXPECT_TRUE(std::isfinite(r.lower) && std::isfinite(r.upper)) << v;
    }
}

class Trend : public ConsoleOnSim {
protected:
    ~Trend() override { set_file_chooser({}); }
    TFtrend& trend() { return glav->readings().trend(); }
    int points(int channel) { return trend().series(channel).dataCount(); }
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

    // A FIFO or a folder in the file's place is named and left as it is.
    QStringList told;
    MessageBox::set_recorder([&](const QString& text, const QString& informative) { told << text << informative; });
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo"))).constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    const QString fifo = save("Btrend_csv", QStringLiteral("fifo")),
                  folder = save("Btrend_png", QStringLiteral("folder"));
    EXPECT_EQ(told, (QStringList{QStringLiteral("файл не записан"),
                                 fifo + QStringLiteral(": это именованный канал (FIFO), а не обычный файл"),
                                 QStringLiteral("файл не записан"),
                                 folder + QStringLiteral(": это папка, а не обычный файл")}));
    EXPECT_TRUE(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
    EXPECT_TRUE(QFileInfo(folder).isDir());
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
            const QCPGraph& line = trend().series(ch);
            out += QString::asprintf("%.4f ", (line.data()->constEnd() - 1)->value).toStdString() +
                   trend().axis_title(ch).toStdString() + "|";
        }
        return out;
    };
    EXPECT_EQ(drawn(), "42.5000 % шкалы|73.1000 % шкалы|12.0000 % шкалы|");
    view->setCurrentIndex(1);
    EXPECT_EQ(drawn(), "106.2500 1 канал, В|3.6550 2 канал, А|2.4000 3 канал, мА|");
}

// Each view shows its own axes; under a light palette and after the desktop turned dark,
// every axis, line and legend entry reads on the plot, each value axis in its line's colour.
TEST_F(Trend, AxesOfEachViewReadOnLightAndDarkPalettes)
{
    struct Restore {
        ~Restore() { QApplication::setPalette(QApplication::style()->standardPalette()); }
    } restore;
    start_all();
    click(find<QPushButton>("Btrend"));
    auto* plot = trend().findChild<QCustomPlot*>(QStringLiteral("ChartView_trend"));
    auto* view = trend().findChild<QComboBox*>(QStringLiteral("CBtrend_view"));
    ASSERT_NE(plot, nullptr);
    const QStringList shown[] = {{"% шкалы", "время"}, {"1 канал, В", "2 канал, А", "3 канал, мА", "время"}};
    for (const bool dark : {false, true}) {
        if (dark) {
            QPalette p;
            p.setColor(QPalette::Window, QColor(0x35, 0x35, 0x35));
            p.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
            p.setColor(QPalette::Text, Qt::white);
            p.setColor(QPalette::WindowText, Qt::white);
            QApplication::setPalette(p);
            QCoreApplication::processEvents();
        }
        const QColor bg = plot->axisRect()->backgroundBrush().color();
        EXPECT_EQ(bg, trend().palette().color(QPalette::Base)) << dark;
        EXPECT_GE(contrast_ratio(plot->legend->textColor(), bg), kReadable) << dark;
        for (int v = 0; v < 2; ++v) {
            view->setCurrentIndex(v);
            QStringList labels;
            for (QCPAxis* a : plot->axisRect()->axes()) {
                if (!a->visible())
                    continue;
                labels << a->label();
                EXPECT_GE(contrast_ratio(a->tickLabelColor(), bg), kLegible) << a->label().toStdString() << dark;
            }
            labels.sort();  // the plot keeps its axes in no set order
            EXPECT_EQ(labels, shown[v]) << dark;
        }
        for (int ch = 1; ch <= 3; ++ch) {
            const QCPGraph& line = trend().series(ch);
            EXPECT_GE(contrast_ratio(line.pen().color(), bg), kLegible) << ch << dark;
            EXPECT_EQ(line.valueAxis()->labelColor(), line.pen().color()) << ch << dark;
        }
    }
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
