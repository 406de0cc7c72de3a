#pragma once
// The calibration page: zero and full-scale calibration of the three channels, averaged
// readings, the trim of the full-scale converter output, and the PWM output calibration.

#include <QHash>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "console/event_pump.h"
#include "console/window_report.h"
#include "ops/calibration.h"
#include "ops/configuration.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace Ui {
class CalibPage;
}

namespace varnok {

struct ConsoleContext;
class ExchangeLog;
class UpDown;

class CalibPage : public QWidget {
    Q_OBJECT
public:
    using StatusMessage = std::function<void(const QString&)>;
    // The page's word on the jumper JMP78, kept and pictured by the readings page: set while
    // the page is shown, not set when it is left.
    using JumperPicture = std::function<void(bool set)>;

    CalibPage(ConsoleContext& ctx, ExchangeLog& log, StatusMessage status, JumperPicture jumper,
              QWidget* parent = nullptr);
    ~CalibPage() override;

    // Work values, kept for the whole run; index 1..3 is the channel.
    uint8_t enable_calibr = 0;
    std::array<uint16_t, 4> cal0L{};       // stored zero as step 1 last read it
    std::array<uint32_t, 4> cal100L{};     // bits of the stored coefficient as last read
    std::array<uint16_t, 4> new_cal0{};    // pending zero
    std::array<uint32_t, 4> tmp_cal100{};  // base of the converter output trim
    std::array<uint8_t, 4> inc_cal100{};   // offset added to the base
    std::array<uint32_t, 4> new_cal100{};  // trimmed output: offset + base
    uint8_t cal100offset = 0;              // correction unit of the trim
    uint8_t kol_izm_cal0 = 0;              // readings of a zero average, and its base-2 logarithm
    uint8_t st2_kol_izm_cal0 = 0;
    uint8_t kol_izm_cal100 = 0;  // readings of a full-scale average, and its logarithm
    uint8_t st2_kol_izm_cal100 = 0;
    std::array<uint16_t, 4> calAL{}, calAH{};          // PWM points last read
    std::array<uint16_t, 4> new_calAL{}, new_calAH{};  // PWM points to be written

    // The creation defaults of the work values (the main window's creation).
    void FormCreate();
    void TabSheet3Show();
    void TabSheet3Hide();

    // Zero and full-scale calibration.
    void B_cal0_oldClick();
    void B_cal0_newClick();
    void B_cal100_oldClick();
    void B_cal100_newClick();
    void Ecal0LClick(int k);
    void Ecal100LClick(int k);
    void Ecal0_newDblClick(int k);
    void Ecal0_newChange(int k);
    void UpDown_cal0ChangingEx(int k, int NewValue);
    void Ecal100_newDblClick(int k);
    void SB_save_cal0Click(int k);
    void SB_save_cal100Click(int k);
    void LEcal_teClick(int k);

    // Averaged readings.
    void CBcal0_kolizmChange();
    void CBcal100_kolizmChange();
    void Bcal0_averClick(int k);
    void Bcal100_averClick(int k);

    // Converter output trim and PWM calibration.
    void E_ADCoutChange(int k);
    void E_ADCoutDblClick(int k);
    void E_ADCoutLChange(int k);
    void UpDown_new_cal100ChangingEx(int k, int NewValue);
    void UpDown_new_cal100Exit(int k);
    void RGcal100offsetClick();
    void B_old_PWMClick();
    void E_PWMLClick(int k);
    void E_PWMHClick(int k);
    void UpDown_PWMLChangingEx(int k, int NewValue);
    void UpDown_PWMHChanging(int k, bool& AllowChange);
    void E_PWML_newChange(int k);
    void E_PWMH_newChange(int k);
    void SB_save_PWMLClick(int k);
    void SB_save_PWMHClick(int k);

    // Where the page's pauses go, and those of its operations; tests take them instead of waiting.
    void set_pauses(Sleeper& sleeper)
    {
        pauses_ = &sleeper;
        calib_.set_pauses(sleeper);
    }

    Ui::CalibPage& form() { return *ui_; }
    // The page's calibration, with the values it has pending.
    Calibration& calibration() { return calib_; }

signals:
    // "проверка": the engineer wants the accuracy check window.
    void checkRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Channel {
        QLineEdit* Ecal0L = nullptr;
        QLineEdit* Ecal0_h = nullptr;
        QLineEdit* Ecal0_new = nullptr;
        UpDown* UpDown_cal0 = nullptr;
        QToolButton* SB_save_cal0 = nullptr;
        QPushButton* Bcal0_aver = nullptr;
        QLineEdit* LEcal_te = nullptr;
        QLineEdit* Ecal100L = nullptr;
        QLineEdit* Ecal100_2b_h = nullptr;
        QLineEdit* Ecal100_2b_l = nullptr;
        QLabel* ST_HI = nullptr;
        QLineEdit* E_ADCout = nullptr;
        UpDown* UpDown_new_cal100 = nullptr;
        QLineEdit* E_ADCoutL = nullptr;
        QLineEdit* Ecal100_new = nullptr;
        QLineEdit* Ecal100new_2b_h = nullptr;
        QLineEdit* Ecal100new_2b_l = nullptr;
        QToolButton* SB_save_cal100 = nullptr;
        QPushButton* Bcal100_aver = nullptr;
        QLineEdit* E_PWML = nullptr;
        QLineEdit* E_PWML_new = nullptr;
        UpDown* UpDown_PWML = nullptr;
        QToolButton* SB_save_PWML = nullptr;
        QLineEdit* E_PWMH = nullptr;
        QLineEdit* E_PWMH_new = nullptr;
        UpDown* UpDown_PWMH = nullptr;
        QToolButton* SB_save_PWMH = nullptr;
    };

    // A report whose lines are message boxes: a refused write.
    class Boxes : public Report {
    public:
        Boxes(QWidget* parent, Report& report) : parent_(parent), report_(report) {}
        void exchange(const Exchange& x) override { report_.exchange(x); }
        void line(const std::string& text) override;
        void status(const std::string& text) override { report_.status(text); }

    private:
        QWidget* parent_;
        Report& report_;
    };
    class AverageList;

    // Finds a channel's controls and gives its up-down controls their edits and ranges.
    void set_up_controls(int k);
    void connect_controls(int k);

    // The channel's measured value as read back (`code`): fixed-point or with all its
    // digits; nothing after a failed read rather than an old value as if it were the result.
    void show_measured(int k, uint8_t code, bool all_digits);
    void pause(unsigned ms) { pauses_->sleep_ms(ms); }
    std::optional<uint16_t> register_value(const QLineEdit* edit);

    // The zero's and the coefficient's write, by their button or by a step of an up-down
    // control (`step`), recorded in the history.
    void save_zero(int k, bool step);
    void save_coefficient(int k, bool step);
    // A write `write` of `s` recorded as a button's write or as a step.
    bool recorded(const Setting& s, bool step, const std::function<bool()>& write);

    PerChannel read_stored_zeros();
    void show_pending(int k, const QString& text);
    void show_output(int k);

    ConsoleContext& ctx_;
    StatusMessage status_;
    JumperPicture jumper_;
    std::unique_ptr<Ui::CalibPage> ui_;
    PumpedSleeper waits_;
    Sleeper* pauses_ = &waits_;
    WindowReport report_;
    Boxes refusals_;
    Calibration calib_;
    std::array<Channel, 4> ch_{};
    QHash<QObject*, int> adjusters_;  // the trims, by channel
};

}  // namespace varnok
