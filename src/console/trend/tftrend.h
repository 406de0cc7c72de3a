#pragma once
// The trend window: the three channels over the last 1, 5, 15 or 60 minutes, as the polls
// bring them, in percent of their scales on one axis or as measured values each on an axis
// of its own, with a pause and saving as PNG and CSV.

#include <QWidget>
#include <array>
#include <functional>

#include "console/trend/trend_data.h"

class QCPAxis;
class QCPGraph;
class QComboBox;
class QHBoxLayout;
class QCustomPlot;
class QPushButton;

namespace varnok {

class TFtrend : public QWidget {
    Q_OBJECT
public:
    explicit TFtrend(QWidget* parent = nullptr);

    // One poll's measured values of channels 1..3 and their percentages of the scales (NaN
    // where a read failed, and for the percentage where the scale is 0), taken now.
    void add(const std::array<double, 3>& value, const std::array<double, 3>& percent);
    // The channels' units, for the titles of the value axes.
    void set_units(const std::array<QString, 3>& unit);
    // Shows the window and brings it to the front.
    void open();

    // The chart as a picture, the values as CSV, each replacing the file whole; false with the reason.
    bool save_png(const QString& path, QString& reason);
    bool save_csv(const QString& path, QString& reason);

    const TrendData& data() const { return data_; }
    int minutes() const;
    enum class View { percent, values };
    View view() const;
    // The title of the vertical axis the line of channel 1..3 is drawn against.
    QString axis_title(int channel) const;
    // The line of channel 1..3 as drawn.
    const QCPGraph& series(int channel) const { return *series_.at(size_t(channel - 1)); }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QHBoxLayout* build_controls();
    void build_plot();
    void wire();
    void refresh();
    void apply_view();
    void apply_theme();
    void match_pixel_ratio();
    int64_t end_ms() const;
    void save(const QString& caption, const QString& suffix, const QString& filter,
              bool (TFtrend::*write)(const QString&, QString&));

    TrendData data_;
    QCustomPlot* view_;
    QCPAxis* axis_x_;
    QCPAxis* axis_percent_;
    std::array<QCPAxis*, 3> axis_value_{};
    std::array<QCPGraph*, 3> series_{};
    QComboBox* CBtrend_minutes_;
    QComboBox* CBtrend_view_;
    QPushButton* Btrend_pause_;
    QPushButton* Btrend_png_;
    QPushButton* Btrend_csv_;
    int64_t paused_at_ = 0;  // the end of the frozen window; 0 while running
};

}  // namespace varnok
