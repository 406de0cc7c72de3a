#pragma once
// The accuracy check window: the unit, the engineer and the reference instrument, the plan
// (tolerance, points, readings per point, channels, before or after calibration), a table per
// channel that fills point by point, and the protocol of both runs as PDF or CSV.

#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "console/event_pump.h"
#include "console/window_report.h"
#include "ops/accuracy_check.h"
#include "record/history.h"
#include "record/protocol.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace Ui {
class TFcheck;
}

namespace varnok {

struct ConsoleContext;
class ExchangeLog;
class Polling;
class TFhistory;

class TFcheck : public QWidget {
    Q_OBJECT
public:
    using StatusMessage = std::function<void(const QString&)>;

    TFcheck(ConsoleContext& ctx, ExchangeLog& log, StatusMessage status, QWidget* parent = nullptr);
    ~TFcheck() override;

    // Shows the window in front, with the network number and the line as they are now.
    void open();

    // "начать": a new run of the kind chosen, laid out from the device.
    void B_check_startClick();
    // "измерить" at a point (row 0..) of channel k's table.
    void B_check_measureClick(int k, int row);
    // "протокол" (PDF) and "CSV": both runs kept, into one file.
    void B_check_protocolClick();
    void B_check_csvClick();
    // "история": the unit's records and the drift since its last check.
    void B_check_historyClick();

    // The unit as the window knows it: as read and shown, with the factory number typed.
    record::Unit unit() const;
    TFhistory* history_window() const { return history_window_; }

    // The runs kept, and the protocol they make now.
    const std::optional<record::CheckRun>& as_found() const { return found_; }
    const std::optional<record::CheckRun>& as_left() const { return left_; }
    record::Protocol protocol() const;

    // Where the pauses between readings go; tests take them instead of waiting.
    void set_pauses(Sleeper& sleeper);

    Ui::TFcheck& form() { return *ui_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    struct Table {
        QGroupBox* box = nullptr;
        QTableWidget* table = nullptr;
        QLabel* verdict = nullptr;
        std::vector<QLineEdit*> reference;
        std::vector<QPushButton*> measure;
    };

    void load_defaults();
    void store_defaults();
    // YYYY-MM-DD, or empty while not given.
    std::string due_date() const;
    void show_unit();
    bool read_unit();
    // The plan as typed; empty optional with a message box when it cannot be read.
    std::optional<CheckPlan> plan_from_controls();
    record::CheckKind kind() const;
    std::optional<record::CheckRun>& run_of(record::CheckKind kind) { return kind == record::CheckKind::AsFound ? found_ : left_; }
    record::CheckRun* shown_run();
    record::ChannelCheck* shown_channel(int k);
    // Builds the tables of the run shown (the kind chosen), or none.
    void show_run();
    QGroupBox* channel_box(const record::ChannelCheck& c);
    QTableWidget* channel_table(const record::ChannelCheck& c);
    static void size_table(QTableWidget* table, double full_scale);
    void clear_tables();
    // One point's row; `with_reference` puts the point's reference into its edit too.
    void fill_row(int k, int row, bool with_reference = true);
    void fill_verdict(int k);
    void fill_summary();
    void save(bool pdf);
    // The store of the unit's history, open; nullptr, said in one line, when it cannot be used.
    record::History* open_history();
    // Stores the run once every one of its points is measured: one check record with its document.
    void store_if_complete(const record::CheckRun& run);

    ConsoleContext& ctx_;
    std::unique_ptr<Ui::TFcheck> ui_;
    WindowReport report_;
    PumpedSleeper waits_;
    Sleeper* pauses_ = &waits_;
    std::unique_ptr<Polling> polling_;
    std::unique_ptr<AccuracyCheck> check_;
    std::array<Table, 4> tables_{};  // by channel 1..3
    std::optional<record::CheckRun> found_, left_;
    record::Unit unit_;
    // The number and time of issue of the check last stored, while the runs are as stored: the
    // protocol printed then carries the number the history knows it by.
    std::optional<std::pair<std::string, std::string>> stored_;
    TFhistory* history_window_ = nullptr;
    bool measuring_ = false;
    bool defaults_loaded_ = false;
};

}  // namespace varnok
