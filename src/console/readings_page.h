#pragma once
// The readings page: the three channels' scales, setpoints and measured values, the
// frequency and the indicator brightness, and the polling that keeps them current.

#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

#include "console/window_report.h"
#include "ops/polling.h"

class QLabel;
class QLineEdit;
class QToolButton;

namespace Ui {
class ReadingsPage;
}

namespace varnok {

struct ConsoleContext;
class ExchangeLog;
class TFtrend;

class ReadingsPage : public QWidget {
    Q_OBJECT
public:
    using StatusMessage = std::function<void(const QString&)>;

    ReadingsPage(ConsoleContext& ctx, ExchangeLog& log, QToolButton* ToolButton1, StatusMessage status,
                 QWidget* parent = nullptr);
    ~ReadingsPage() override;

    // Poll mode and state.
    bool periodic_opros = false;
    bool periodic_opros_in_process = false;
    QTimer Timer_opros;

    // One poll: 1 = scales, setpoints and measured values; any other value = measured values.
    void zapros_par(uint8_t full);
    void LEfreqClick();
    void BzaprosClick();
    void RGtyp_oprosClick();
    void ToolButton1Click();
    void Pusk_or_Stop();
    void CBtime_oprosChange(int index);
    void Timer_oprosTimer();
    void TabSheet1Show();
    void TabSheet1Hide();

    void LEizm_teClick(int channel);
    // A click on a channel's scale or decimal-point field: reads the scale into this page.
    void LE_SclClick(int channel);
    void LlightClick();
    void TrackBar_lightChange(int position);

    // The jumper JMP78 as the calibration page has it: set while calibration may run, and
    // pictured so; not set and not pictured otherwise. Showing this page clears it, the picture
    // stays.
    void show_jumper(bool set);
    bool onoff_swJMP78() const { return onoff_swJMP78_; }
    // A scale was written from the parameters page: its value, point and unit show at once.
    void scale_written(int channel);

    Ui::ReadingsPage& form() { return *ui_; }
    TFtrend& trend() { return *trend_; }
    // The requests behind the page (the name and version reads of the main window use them too).
    Polling& polling() { return polling_; }

signals:
    // A click on a channel's "Max" field: its setpoints are to be read again, silently.
    void setpointsClicked(int channel);

private:
    struct ChannelFields {
        QLineEdit* LE_Scl = nullptr;
        QLineEdit* LE_Scla = nullptr;
        QLabel* LE_Scl_label = nullptr;
        QLineEdit* LE_max = nullptr;
        QLineEdit* LE_min = nullptr;
        QLineEdit* LEizm_te = nullptr;
        QLabel* LEizm_te_label = nullptr;
        QLineEdit* Eizm_te = nullptr;
        QLineEdit* LEizm_proc = nullptr;
        QLineEdit* LE_dt = nullptr;  // hidden: decimal point position code
        QLineEdit* LE_ed = nullptr;  // hidden: unit code
    };

    void show_scale(int i);
    void show_setpoints(int i);
    void show_measured(int i, const PollResult::Channel& read);
    // What a poll read, into the fields and the trend.
    void show_poll(const PollResult& poll);
    void show_freq();
    void select_mode(int index);
    void load_pictures();

    ConsoleContext& ctx_;
    ExchangeLog& log_;
    QToolButton* ToolButton1_;
    StatusMessage status_;
    WindowReport report_;
    Polling polling_;
    std::unique_ptr<Ui::ReadingsPage> ui_;
    std::array<ChannelFields, 4> ch_{};  // index 1..3
    TFtrend* trend_;
    bool onoff_swJMP78_ = false;
};

}  // namespace varnok
