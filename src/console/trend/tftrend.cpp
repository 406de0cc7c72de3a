#include "console/trend/tftrend.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QSaveFile>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "console/file_chooser.h"
#include "console/message_box.h"

namespace varnok {

namespace {

constexpr int kMinutes[] = {1, 5, 15, 60};

// A range around [lo, hi], with a margin when asked, nice numbers at the ends; 0..1 when
// there is no point. The margin is at least 2 % of the values, so that the converter's
// noise on a steady value is not blown up to fill the plot.
void set_range(QValueAxis* axis, double lo, double hi, bool margin)
{
    if (lo > hi) {
        lo = 0;
        hi = 1;
    }
    double m = 0;
    if (margin) {
        m = std::max((hi - lo) * 0.05, std::max(std::abs(lo), std::abs(hi)) * 0.02);
        if (m == 0)
            m = 0.5;
    }
    axis->setRange(lo - m, hi + m);
    axis->applyNiceNumbers();
}

}  // namespace

TFtrend::TFtrend(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("TFtrend"));
    setWindowTitle(QStringLiteral("тренд показаний"));
    resize(900, 520);

    auto* label = new QLabel(QStringLiteral("за последние, мин"), this);
    CBtrend_minutes_ = new QComboBox(this);
    CBtrend_minutes_->setObjectName(QStringLiteral("CBtrend_minutes"));
    CBtrend_minutes_->setAccessibleName(QStringLiteral("тренд: за последние, мин"));
    for (const int m : kMinutes)
        CBtrend_minutes_->addItem(QString::number(m));
    CBtrend_minutes_->setCurrentIndex(1);
    label->setBuddy(CBtrend_minutes_);

    auto* view_label = new QLabel(QStringLiteral("вид"), this);
    CBtrend_view_ = new QComboBox(this);
    CBtrend_view_->setObjectName(QStringLiteral("CBtrend_view"));
    CBtrend_view_->setAccessibleName(QStringLiteral("тренд: вид графика"));
    CBtrend_view_->setToolTip(
        QStringLiteral("% шкалы: все каналы в процентах своих шкал на одной оси; "
                       "значения: каждый канал в своих единицах на своей оси"));
    CBtrend_view_->addItem(QStringLiteral("% шкалы"));
    CBtrend_view_->addItem(QStringLiteral("значения"));
    view_label->setBuddy(CBtrend_view_);

    Btrend_pause_ = new QPushButton(QStringLiteral("пауза"), this);
    Btrend_pause_->setObjectName(QStringLiteral("Btrend_pause"));
    Btrend_pause_->setAccessibleName(QStringLiteral("тренд: пауза"));
    Btrend_pause_->setToolTip(QStringLiteral("остановить график; опрос и запись значений продолжаются"));
    Btrend_pause_->setCheckable(true);

    auto* png = new QPushButton(QStringLiteral("сохранить PNG"), this);
    png->setObjectName(QStringLiteral("Btrend_png"));
    png->setAccessibleName(QStringLiteral("тренд: сохранить PNG"));
    auto* csv = new QPushButton(QStringLiteral("сохранить CSV"), this);
    csv->setObjectName(QStringLiteral("Btrend_csv"));
    csv->setAccessibleName(QStringLiteral("тренд: сохранить CSV"));

    chart_ = new QChart;
    chart_->legend()->setAlignment(Qt::AlignBottom);
    axis_x_ = new QDateTimeAxis(chart_);
    axis_x_->setFormat(QStringLiteral("HH:mm:ss"));
    axis_x_->setTitleText(QStringLiteral("время"));
    axis_percent_ = new QValueAxis(chart_);
    axis_percent_->setTitleText(QStringLiteral("% шкалы"));
    chart_->addAxis(axis_x_, Qt::AlignBottom);
    chart_->addAxis(axis_percent_, Qt::AlignLeft);
    // Channels differ in unit and scale: in the values view each has an axis of its own,
    // the first on the left, the others on the right.
    for (size_t i = 0; i < 3; ++i) {
        axis_value_[i] = new QValueAxis(chart_);
        chart_->addAxis(axis_value_[i], i == 0 ? Qt::AlignLeft : Qt::AlignRight);
        series_[i] = new QLineSeries(chart_);
        series_[i]->setName(QStringLiteral("%1 канал").arg(i + 1));
        chart_->addSeries(series_[i]);
        series_[i]->attachAxis(axis_x_);
    }
    set_units({});
    view_ = new QChartView(chart_, this);
    view_->setObjectName(QStringLiteral("ChartView_trend"));
    view_->setAccessibleName(QStringLiteral("тренд: график"));
    view_->setRenderHint(QPainter::Antialiasing);
    apply_theme();

    auto* controls = new QHBoxLayout;
    controls->addWidget(label);
    controls->addWidget(CBtrend_minutes_);
    controls->addSpacing(16);
    controls->addWidget(view_label);
    controls->addWidget(CBtrend_view_);
    controls->addSpacing(16);
    controls->addWidget(Btrend_pause_);
    controls->addWidget(png);
    controls->addWidget(csv);
    controls->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(view_, 1);

    apply_view();
    connect(CBtrend_minutes_, &QComboBox::currentIndexChanged, this, &TFtrend::refresh);
    connect(CBtrend_view_, &QComboBox::currentIndexChanged, this, &TFtrend::apply_view);
    // Toggled, so that a screen reader's toggle pauses as a click does.
    connect(Btrend_pause_, &QPushButton::toggled, this, [this](bool on) {
        paused_at_ = on ? QDateTime::currentMSecsSinceEpoch() : 0;
        refresh();
    });
    connect(png, &QPushButton::clicked, this, [this] {
        save(QStringLiteral("сохранить график"), QStringLiteral(".png"), QStringLiteral("PNG (*.png)"),
             &TFtrend::save_png);
    });
    connect(csv, &QPushButton::clicked, this, [this] {
        save(QStringLiteral("сохранить значения"), QStringLiteral(".csv"), QStringLiteral("CSV (*.csv)"),
             &TFtrend::save_csv);
    });
}

int TFtrend::minutes() const { return kMinutes[std::clamp(CBtrend_minutes_->currentIndex(), 0, 3)]; }

int64_t TFtrend::end_ms() const { return paused_at_ != 0 ? paused_at_ : QDateTime::currentMSecsSinceEpoch(); }

TFtrend::View TFtrend::view() const { return CBtrend_view_->currentIndex() == 1 ? View::values : View::percent; }

QString TFtrend::axis_title(int channel) const
{
    const QList<QAbstractAxis*> axes = series_.at(size_t(channel - 1))->attachedAxes();
    for (const QAbstractAxis* a : axes)
        if (a->orientation() == Qt::Vertical)
            return a->titleText();
    return {};
}

void TFtrend::add(const std::array<double, 3>& value, const std::array<double, 3>& percent)
{
    data_.add(QDateTime::currentMSecsSinceEpoch(), value, percent);
    if (paused_at_ == 0 && isVisible())
        refresh();
}

void TFtrend::set_units(const std::array<QString, 3>& unit)
{
    for (size_t i = 0; i < 3; ++i) {
        const QString u = unit[i].trimmed();
        const QString channel = QStringLiteral("%1 канал").arg(i + 1);
        axis_value_[i]->setTitleText(u.isEmpty() ? channel : channel + QStringLiteral(", ") + u);
    }
}

void TFtrend::open()
{
    show();
    raise();
    activateWindow();
}

void TFtrend::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refresh();
}

// The chart follows the palette, so that a dark desktop gets a dark chart.
void TFtrend::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        apply_theme();
}

void TFtrend::apply_theme()
{
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    const auto theme = dark ? QChart::ChartThemeDark : QChart::ChartThemeLight;
    if (chart_->theme() != theme) {
        chart_->setTheme(theme);
        colour_axes();
    }
}

// Each value axis in its channel's colour, so that it is clear which line it measures.
void TFtrend::colour_axes()
{
    for (size_t i = 0; i < 3; ++i) {
        const QColor c = series_[i]->color();
        axis_value_[i]->setLinePenColor(c);
        axis_value_[i]->setLabelsColor(c);
        axis_value_[i]->setTitleBrush(c);
    }
}

// Puts each line on the percent axis or on its own value axis, and shows only those axes.
void TFtrend::apply_view()
{
    const bool percent = view() == View::percent;
    for (size_t i = 0; i < 3; ++i) {
        QAbstractAxis* from = percent ? static_cast<QAbstractAxis*>(axis_value_[i]) : axis_percent_;
        QAbstractAxis* to = percent ? static_cast<QAbstractAxis*>(axis_percent_) : axis_value_[i];
        if (series_[i]->attachedAxes().contains(from))
            series_[i]->detachAxis(from);
        if (!series_[i]->attachedAxes().contains(to))
            series_[i]->attachAxis(to);
        axis_value_[i]->setVisible(!percent);
    }
    axis_percent_->setVisible(percent);
    colour_axes();
    refresh();
}

void TFtrend::refresh()
{
    const int64_t end = end_ms();
    const int64_t start = end - int64_t(minutes()) * 60 * 1000;
    const bool percent = view() == View::percent;
    std::array<QList<QPointF>, 3> points;
    std::array<double, 3> lo{INFINITY, INFINITY, INFINITY}, hi{-INFINITY, -INFINITY, -INFINITY};
    for (const TrendSample& s : data_.window(end, minutes()))
        for (size_t i = 0; i < 3; ++i) {
            const double y = percent ? s.percent[i] : s.value[i];
            if (!std::isnan(y)) {
                points[i].append(QPointF(double(s.ms), y));
                lo[i] = std::min(lo[i], y);
                hi[i] = std::max(hi[i], y);
            }
        }
    for (size_t i = 0; i < 3; ++i)
        series_[i]->replace(points[i]);
    axis_x_->setRange(QDateTime::fromMSecsSinceEpoch(start), QDateTime::fromMSecsSinceEpoch(end));
    axis_x_->setFormat(minutes() >= 15 ? QStringLiteral("HH:mm") : QStringLiteral("HH:mm:ss"));
    if (percent) {
        // The whole scale at least, so that a channel's place in it reads at a glance.
        const double below = std::min({lo[0], lo[1], lo[2]}), above = std::max({hi[0], hi[1], hi[2]});
        set_range(axis_percent_, std::min(0.0, below), std::max(100.0, above), below < 0 || above > 100);
    } else {
        for (size_t i = 0; i < 3; ++i)
            set_range(axis_value_[i], lo[i], hi[i], true);
    }
}

bool TFtrend::save_png(const QString& path) { return view_->grab().save(path, "PNG"); }

bool TFtrend::save_csv(const QString& path)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(data_.csv(end_ms(), minutes()).toUtf8());
    return f.commit();
}

void TFtrend::save(const QString& caption, const QString& suffix, const QString& filter,
                   bool (TFtrend::*write)(const QString&))
{
    const QString suggested =
        QStringLiteral("тренд-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss")) + suffix;
    const QString path = choose_file(this, caption, suggested, filter, true);
    if (path.isEmpty())
        return;
    if (!(this->*write)(path))
        MessageBox::show(this, QStringLiteral("файл не записан"), path);
}

}  // namespace varnok
