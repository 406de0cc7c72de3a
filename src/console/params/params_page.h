#pragma once
// The parameters page: the device's interface parameters (speed, parity, stop bits,
// network number), and the scale and the two setpoints of each channel, read from the
// device and written to it.

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>

#include "console/window_report.h"
#include "ops/interface_params.h"
#include "ops/scales.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace varnok {

struct ConsoleContext;
class ExchangeLog;
class UpDown;

class ParamsPage : public QWidget {
    Q_OBJECT
public:
    // What the page asks of the main window around it.
    struct Shell {
        std::function<void(const QString&)> status;  // the status bar's message panel
        std::function<void(int row)> show_line;      // a connection list follows the written setting
        std::function<void()> show_sys_num;          // the address edit follows `sys_num`
    };

    // Rows of the group "параметры интерфейса".
    using Row = InterfaceRow;
    static constexpr int kRows = kInterfaceRows;

    ParamsPage(ConsoleContext& ctx, ExchangeLog& log, Shell shell, QWidget* parent = nullptr);
    ~ParamsPage() override;

    // Values about to be written into the device; they live as long as the program.
    uint8_t new_sys_num = 1;
    uint8_t new_scor = 2;
    uint8_t new_parity = 0;
    uint8_t new_stopbit = 1;
    // Per channel, index 1..3: scale and setpoints as four digits and a decimal point position.
    std::array<uint16_t, 4> new_ustavka{};
    std::array<uint8_t, 4> new_decpos{};
    std::array<uint8_t, 4> new_mes{};
    std::array<uint16_t, 4> new_max{};
    std::array<uint16_t, 4> new_min{};
    std::array<uint8_t, 4> new_decposmax{};
    std::array<uint8_t, 4> new_decposmin{};

    void TabSheet2Show();

    // Interface parameters: one family per kind of button, the row from the control.
    void BreadClick(Row row);
    void SBint_writeClick(Row row);
    void CBint_scorChange(int index);
    void Eint_sysnumChange();
    void UpDown_int_adrChangingEx(bool& AllowChange, int NewValue, int Direction);

    // Scales and setpoints: one family per kind of control, the channel from the control.
    void B_read_sclClick(int channel);
    void CB_sclCI4Change(int channel);
    void RG_scldt_wClick(int channel, int position);
    void RG_sclmes_wClick(int channel, int position);
    void SB_write_sclClick(int channel);
    void B_read_ustClick(int channel);
    // The silent re-read of both setpoints into the device record (the "Max" fields).
    void LE_maxClick(int channel);
    void CB_ustCI4Change(int channel, Limit limit);
    void RG_ustdt_wClick(int channel, Limit limit, int position);
    void SB_write_ustClick(int channel, Limit limit);

signals:
    // A channel's scale is in the device, value, point and unit alike.
    void scaleWritten(int channel);

private:
    struct RowControls {
        QLineEdit* cur = nullptr;
        QPushButton* read = nullptr;
        QComboBox* list = nullptr;  // none for the network number
        QPushButton* write = nullptr;
    };
    // Four digit boxes (index 1 units .. 4 thousands), the decimal point group, the write button.
    struct DigitEntry {
        std::array<QComboBox*, 5> CI{};
        QButtonGroup* dt = nullptr;
        QPushButton* write = nullptr;
    };
    struct ScaleControls {
        QPushButton* read = nullptr;
        QLineEdit* value = nullptr;
        QLabel* unit = nullptr;
        DigitEntry entry;
        QButtonGroup* mes = nullptr;
    };
    struct SetpointControls {
        QPushButton* read = nullptr;
        std::array<QLineEdit*, 2> value{};  // by Limit
        std::array<DigitEntry, 2> entry{};
    };

    QWidget* build_interface_group();
    QWidget* build_timeouts();
    QWidget* build_scale_group(int k);
    QWidget* build_setpoint_group(int k);
    QWidget* build_entry(DigitEntry& entry, const QString& digits_name, const QString& dt_name,
                         const QString& write_name, const QString& spoken);
    void connect_controls();

    void show_current(Row row);
    void show_timeouts(uint8_t speed_code);
    uint16_t& pending_number(int k, Limit limit);
    uint8_t& pending_decpos(int k, Limit limit);

    ConsoleContext& ctx_;
    Shell shell_;
    WindowReport report_;
    InterfaceParams interface_;
    Scales scales_;
    ExchangeLog& log_;

    std::array<RowControls, kRows> rows_{};
    QLineEdit* Eint_sysnum_ = nullptr;
    UpDown* UpDown_int_adr_ = nullptr;
    QLineEdit* Enastr_tout_bytes_ = nullptr;
    QLineEdit* Enastr_tout_before_ = nullptr;
    QLineEdit* Enastr_tout_after_ = nullptr;
    std::array<ScaleControls, 4> scl_{};     // index 1..3
    std::array<SetpointControls, 4> ust_{};  // index 1..3
};

}  // namespace varnok
