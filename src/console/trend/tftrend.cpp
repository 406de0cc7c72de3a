#include "console/trend/tftrend.h"

#include <QBuffer>
#include <QComboBox>
#include <QDateTime>
#include <QEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <qcustomplot.h>

#include "console/file_chooser.h"
#include "console/message_box.h"
#include "console/readable_colours.h"
#include "settings/file_io.h"

namespace varnok {

namespace {

constexpr int kMinutes[] = {1, 5, 15, 60};

// The channels' colours as designed; each is made readable on the plot's background.
const QColor kChannelColour[] = {QColor(0x1f, 0x77, 0xb4), QColor(0x2c, 0xa0, 0x2c), QColor(0xd9, 0x5f, 0x02)};

// The axis's range and ticks: whole steps, a tick at either end.
void set_range(QCPAxis* axis, double lo, double hi, bool margin)
{
    const AxisRange r = axis_range(lo, hi, margin);
    static_cast<QCPAxisTickerFixed*>(axis->ticker().data())->setTickStep(r.step);
    axis->setRange(r.lo, r.hi);
}

// A value axis with ticks on the steps set_range chooses.
void fixed_steps(QCPAxis* axis)
{
    QSharedPointer<QCPAxisTickerFixed> ticker(new QCPAxisTickerFixed);
    ticker->setScaleStrategy(QCPAxisTickerFixed::ssNone);
    axis->setTicker(ticker);
    axis->setSubTicks(false);
    // A second axis on a side is drawn plain, as the first.
    axis->setLowerEnding(QCPLineEnding::esNone);
    axis->setUpperEnding(QCPLineEnding::esNone);
}

void colour_axis(QCPAxis* axis, const QColor& c)
{
    axis->setBasePen(QPen(c));
    axis->setTickPen(QPen(c));
    axis->setSubTickPen(QPen(c));
    axis->setTickLabelColor(c);
    axis->setLabelColor(c);
}

}  // namespace

TFtrend::TFtrend(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("TFtrend"));
    setWindowTitle(QStringLiteral("тренд показаний"));
    resize(900, 520);

    QHBoxLayout* controls = build_controls();
    build_plot();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(view_, 1);

    apply_view();
    wire();
}

// The row above the plot: the period, the view, the pause and the two savings.
QHBoxLayout* TFtrend::build_controls()
{
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

    Btrend_png_ = new QPushButton(QStringLiteral("сохранить PNG"), this);
    Btrend_png_->setObjectName(QStringLiteral("Btrend_png"));
    Btrend_png_->setAccessibleName(QStringLiteral("тренд: сохранить PNG"));
    Btrend_csv_ = new QPushButton(QStringLiteral("сохранить CSV"), this);
    Btrend_csv_->setObjectName(QStringLiteral("Btrend_csv"));
    Btrend_csv_->setAccessibleName(QStringLiteral("тренд: сохранить CSV"));

    auto* controls = new QHBoxLayout;
    controls->addWidget(label);
    controls->addWidget(CBtrend_minutes_);
    controls->addSpacing(16);
    controls->addWidget(view_label);
    controls->addWidget(CBtrend_view_);
    controls->addSpacing(16);
    controls->addWidget(Btrend_pause_);
    controls->addWidget(Btrend_png_);
    controls->addWidget(Btrend_csv_);
    controls->addStretch(1);
    return controls;
}

// The plot: the time axis, the percent axis, an axis of each channel's own, the legend.
void TFtrend::build_plot()
{
    view_ = new QCustomPlot(this);
    view_->setObjectName(QStringLiteral("ChartView_trend"));
    view_->setAccessibleName(QStringLiteral("тренд: график"));
    QCPAxisRect* rect = view_->axisRect();
    axis_x_ = view_->xAxis;
    axis_x_->setTicker(QSharedPointer<QCPAxisTickerDateTime>(new QCPAxisTickerDateTime));
    axis_x_->setLabel(QStringLiteral("время"));
    axis_percent_ = view_->yAxis;
    axis_percent_->setLabel(QStringLiteral("% шкалы"));
    fixed_steps(axis_percent_);
    // Channels differ in unit and scale: in the values view each has an axis of its own,
    // the first on the left, the others on the right.
    axis_value_ = {rect->addAxis(QCPAxis::atLeft), view_->yAxis2, rect->addAxis(QCPAxis::atRight)};
    // The legend in a row under the plot, centred between two empty cells.
    view_->legend->setVisible(true);
    view_->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    auto* legend_row = new QCPLayoutGrid;
    view_->plotLayout()->addElement(1, 0, legend_row);
    view_->plotLayout()->setRowStretchFactor(1, 0.001);
    legend_row->addElement(0, 0, new QCPLayoutElement(view_));
    legend_row->addElement(0, 1, view_->legend);
    legend_row->addElement(0, 2, new QCPLayoutElement(view_));
    legend_row->setColumnStretchFactor(1, 0.001);
    legend_row->setMargins(QMargins(5, 0, 5, 5));
    // Room at the edges where no axis is, so that the lines do not run into the frame.
    rect->setMinimumMargins(QMargins(15, 15, 15, 15));
    for (QCPAxis* axis : rect->axes()) {
        QFont bold = axis->labelFont();
        bold.setBold(true);
        axis->setLabelFont(bold);
    }
    for (size_t i = 0; i < 3; ++i) {
        fixed_steps(axis_value_[i]);
        axis_value_[i]->grid()->setVisible(i == 0);  // one grid, the left axis's, not three
        series_[i] = view_->addGraph(axis_x_, axis_percent_);
        series_[i]->setName(QStringLiteral("%1 канал").arg(i + 1));
    }
    set_units({});
    apply_theme();
}

// What the controls do.
void TFtrend::wire()
{
    connect(CBtrend_minutes_, &QComboBox::currentIndexChanged, this, &TFtrend::refresh);
    connect(CBtrend_view_, &QComboBox::currentIndexChanged, this, &TFtrend::apply_view);
    // Toggled, so that a screen reader's toggle pauses as a click does.
    connect(Btrend_pause_, &QPushButton::toggled, this, [this](bool on) {
        paused_at_ = on ? QDateTime::currentMSecsSinceEpoch() : 0;
        refresh();
    });
    connect(Btrend_png_, &QPushButton::clicked, this, [this] {
        save(QStringLiteral("сохранить график"), QStringLiteral(".png"), QStringLiteral("PNG (*.png)"),
             &TFtrend::save_png);
    });
    connect(Btrend_csv_, &QPushButton::clicked, this, [this] {
        save(QStringLiteral("сохранить значения"), QStringLiteral(".csv"), QStringLiteral("CSV (*.csv)"),
             &TFtrend::save_csv);
    });
}

int TFtrend::minutes() const { return kMinutes[std::clamp(CBtrend_minutes_->currentIndex(), 0, 3)]; }

int64_t TFtrend::end_ms() const { return paused_at_ != 0 ? paused_at_ : QDateTime::currentMSecsSinceEpoch(); }

TFtrend::View TFtrend::view() const { return CBtrend_view_->currentIndex() == 1 ? View::values : View::percent; }

QString TFtrend::axis_title(int channel) const { return series_.at(size_t(channel - 1))->valueAxis()->label(); }

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
        axis_value_[i]->setLabel(u.isEmpty() ? channel : channel + QStringLiteral(", ") + u);
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
    // A window moved to a screen of another pixel density is drawn again at that density.
    connect(windowHandle(), &QWindow::screenChanged, this, &TFtrend::refresh, Qt::UniqueConnection);
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
    const QPalette p = palette();
    const QColor base = p.color(QPalette::Base), text = p.color(QPalette::Text);
    QColor grid = text;
    grid.setAlphaF(0.2);
    view_->setBackground(base);
    view_->axisRect()->setBackground(base);
    for (QCPAxis* axis : view_->axisRect()->axes()) {
        colour_axis(axis, text);
        axis->grid()->setPen(QPen(grid, 0, Qt::DotLine));
        axis->grid()->setZeroLinePen(QPen(grid));
    }
    view_->legend->setBrush(base);
    view_->legend->setTextColor(text);
    view_->legend->setBorderPen(QPen(grid));
    // Each line and its value axis in the channel's colour, so that it is clear which line
    // an axis measures.
    for (size_t i = 0; i < 3; ++i) {
        const QColor c = readable_on(kChannelColour[i], base);
        series_[i]->setPen(QPen(c, 2));
        colour_axis(axis_value_[i], c);
    }
    view_->replot();
}

// Puts each line on the percent axis or on its own value axis, and shows only those axes.
void TFtrend::apply_view()
{
    const bool percent = view() == View::percent;
    for (size_t i = 0; i < 3; ++i) {
        series_[i]->setValueAxis(percent ? axis_percent_ : axis_value_[i]);
        axis_value_[i]->setVisible(!percent);
    }
    axis_percent_->setVisible(percent);
    refresh();
}

// The plot draws into buffers of the pixel density it was made for; where the window now is
// may have another.
void TFtrend::match_pixel_ratio()
{
    const double ratio = view_->devicePixelRatioF();
    if (view_->bufferDevicePixelRatio() != ratio)
        view_->setBufferDevicePixelRatio(ratio);
}

void TFtrend::refresh()
{
    const int64_t end = end_ms();
    const int64_t start = end - int64_t(minutes()) * 60 * 1000;
    const bool percent = view() == View::percent;
    // The time axis counts seconds.
    std::array<QVector<double>, 3> keys, values;
    std::array<double, 3> lo{INFINITY, INFINITY, INFINITY}, hi{-INFINITY, -INFINITY, -INFINITY};
    for (const TrendSample& s : data_.window(end, minutes()))
        for (size_t i = 0; i < 3; ++i) {
            const double y = percent ? s.percent[i] : s.value[i];
            if (std::isfinite(y)) {
                keys[i].append(double(s.ms) / 1000);
                values[i].append(y);
                lo[i] = std::min(lo[i], y);
                hi[i] = std::max(hi[i], y);
            }
        }
    for (size_t i = 0; i < 3; ++i)
        series_[i]->setData(keys[i], values[i]);
    axis_x_->setRange(double(start) / 1000, double(end) / 1000);
    static_cast<QCPAxisTickerDateTime*>(axis_x_->ticker().data())
        ->setDateTimeFormat(minutes() >= 15 ? QStringLiteral("HH:mm") : QStringLiteral("HH:mm:ss"));
    if (percent) {
        // The whole scale at least, so that a channel's place in it reads at a glance.
        const double below = std::min({lo[0], lo[1], lo[2]}), above = std::max({hi[0], hi[1], hi[2]});
        set_range(axis_percent_, std::min(0.0, below), std::max(100.0, above), below < 0 || above > 100);
    } else {
        for (size_t i = 0; i < 3; ++i)
            set_range(axis_value_[i], lo[i], hi[i], true);
    }
    match_pixel_ratio();
    view_->replot();
}

namespace {

// Replaces the file as every writer of the program does: never a device, a FIFO or a folder in
// the file's place, nor another user's file.
bool replace_file(const QString& path, const QByteArray& bytes, QString& reason)
{
    file_io::Stamp stamp;
    std::string why;
    if (file_io::replace(path.toStdString(), bytes.toStdString(), stamp, why))
        return true;
    reason = QString::fromStdString(why);
    return false;
}

}  // namespace

bool TFtrend::save_png(const QString& path, QString& reason)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !view_->grab().save(&buffer, "PNG")) {
        reason = QStringLiteral("картинка не получилась");
        return false;
    }
    return replace_file(path, bytes, reason);
}

bool TFtrend::save_csv(const QString& path, QString& reason)
{
    return replace_file(path, data_.csv(end_ms(), minutes()).toUtf8(), reason);
}

void TFtrend::save(const QString& caption, const QString& suffix, const QString& filter,
                   bool (TFtrend::*write)(const QString&, QString&))
{
    const QString suggested =
        QStringLiteral("тренд-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss")) + suffix;
    const QString path = choose_file(this, caption, suggested, filter, true);
    if (path.isEmpty())
        return;
    QString reason;
    if (!(this->*write)(path, reason))
        MessageBox::show(this, QStringLiteral("файл не записан"), path + QStringLiteral(": ") + reason);
}

}  // namespace varnok
