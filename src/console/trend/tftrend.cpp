#include "console/trend/tftrend.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QSaveFile>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "console/message_box.h"

namespace varnok {

namespace {

constexpr int kMinutes[] = {1, 5, 15, 60};

TFtrend::FileChooser& chooser()
{
    static TFtrend::FileChooser c;
    return c;
}

}  // namespace

void TFtrend::set_file_chooser(FileChooser c) { chooser() = std::move(c); }

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
    axis_y_ = new QValueAxis(chart_);
    axis_y_->setTitleText(QStringLiteral("измеренное значение"));
    chart_->addAxis(axis_x_, Qt::AlignBottom);
    chart_->addAxis(axis_y_, Qt::AlignLeft);
    for (int i = 0; i < 3; ++i) {
        series_[size_t(i)] = new QLineSeries(chart_);
        series_[size_t(i)]->setName(QStringLiteral("%1 канал").arg(i + 1));
        chart_->addSeries(series_[size_t(i)]);
        series_[size_t(i)]->attachAxis(axis_x_);
        series_[size_t(i)]->attachAxis(axis_y_);
    }
    view_ = new QChartView(chart_, this);
    view_->setObjectName(QStringLiteral("ChartView_trend"));
    view_->setAccessibleName(QStringLiteral("тренд: график"));
    view_->setRenderHint(QPainter::Antialiasing);
    apply_theme();

    auto* controls = new QHBoxLayout;
    controls->addWidget(label);
    controls->addWidget(CBtrend_minutes_);
    controls->addSpacing(16);
    controls->addWidget(Btrend_pause_);
    controls->addWidget(png);
    controls->addWidget(csv);
    controls->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(view_, 1);

    connect(CBtrend_minutes_, &QComboBox::currentIndexChanged, this, &TFtrend::refresh);
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

void TFtrend::add(const std::array<double, 3>& value)
{
    data_.add(QDateTime::currentMSecsSinceEpoch(), value);
    if (paused_at_ == 0 && isVisible())
        refresh();
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
    if (chart_->theme() != theme)
        chart_->setTheme(theme);
}

void TFtrend::refresh()
{
    const int64_t end = end_ms();
    const int64_t start = end - int64_t(minutes()) * 60 * 1000;
    std::array<QList<QPointF>, 3> points;
    double lo = INFINITY, hi = -INFINITY;
    for (const TrendSample& s : data_.window(end, minutes()))
        for (size_t i = 0; i < 3; ++i)
            if (!std::isnan(s.value[i])) {
                points[i].append(QPointF(double(s.ms), s.value[i]));
                lo = std::min(lo, s.value[i]);
                hi = std::max(hi, s.value[i]);
            }
    for (size_t i = 0; i < 3; ++i)
        series_[i]->replace(points[i]);
    axis_x_->setRange(QDateTime::fromMSecsSinceEpoch(start), QDateTime::fromMSecsSinceEpoch(end));
    axis_x_->setFormat(minutes() >= 15 ? QStringLiteral("HH:mm") : QStringLiteral("HH:mm:ss"));
    if (lo > hi) {
        lo = 0;
        hi = 1;
    }
    const double margin = hi > lo ? (hi - lo) * 0.05 : std::max(std::abs(hi) * 0.05, 0.5);
    axis_y_->setRange(lo - margin, hi + margin);
    axis_y_->applyNiceNumbers();
}

bool TFtrend::save_png(const QString& path)
{
    return view_->grab().save(path, "PNG");
}

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
    const QString suggested = QStringLiteral("тренд-") +
                              QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss")) + suffix;
    const QString path = chooser() ? chooser()(this, caption, suggested, filter)
                                   : QFileDialog::getSaveFileName(this, caption, suggested, filter);
    if (path.isEmpty())
        return;
    if (!(this->*write)(path))
        MessageBox::show(this, QStringLiteral("файл не записан"), path);
}

}  // namespace varnok
