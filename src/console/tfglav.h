#pragma once
// The main window: tool bar, menu, status bar, connection column, exchange log, and the
// pages, to which it routes the commands that concern them.

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QToolButton;

namespace Ui {
class TFglav;
}

namespace varnok {

struct ConsoleContext;
class CalibPage;
class DeviceSearch;
class ProfileFiles;
class ExchangeLog;
class ParamsPage;
class ReadingsPage;
class TFabout;
class TFcheck;
class TFcomdcb;
class TFmsg;

class TFglav : public QMainWindow {
    Q_OBJECT
public:
    explicit TFglav(ConsoleContext& ctx, QWidget* parent = nullptr);
    ~TFglav() override;

    // The windows created after this one, for the menu commands that open them; the search
    // notice comes with the search of the menu "файл".
    void set_windows(TFabout* about, TFcomdcb* comdcb, TFmsg* notice);

    void FormCreate();
    void FormActivate();
    void FormDeactivate();
    void BinitportClick();
    void CBportChange(int index);
    void CBscorChange(int index);
    void CBparityChange(int index);
    void CBstopbitChange(int index);
    void UpDown_adrChangingEx(bool& AllowChange, int NewValue, int Direction);
    void EsysnumChange();
    void ChBfast_obmenClick(bool checked);
    void ToolButton9Click();
    void ToolButton10Click();
    void ToolButton11Click();
    void N_spravkaClick();
    void N_aboutClick();
    void N_obCOMClick();
    void N_closeClick();
    // "проверка": the accuracy check window, from the menu and from the calibration page.
    void N_checkClick();
    // The frame log to a file, switched on or off from the menu and remembered.
    void N_zhurnalClick(bool on);
    // Puts the remembered switch of the frame log in force, without writing it again.
    void apply_frame_log(bool on);
    void Timer_systemTimer();
    void Ed_nameClick();
    void Ed_versionClick();
    // F1: the help topic of the focused control.
    void context_help();

    // Shows the current link settings and poll period in the connection column.
    void show_connection();
    // Shows one line setting the parameters page has just written (its row there).
    void show_line_setting(int row);

    QString status_panel(int index) const;
    void set_status_panel(int index, const QString& text);
    QToolButton* tool_button(const char* name) const;
    // No context menu on the tool bar: its one entry would hide the tool bar for good.
    QMenu* createPopupMenu() override;

    ExchangeLog& log() { return *log_; }
    ReadingsPage& readings() { return *readings_; }
    CalibPage& calib() { return *calib_; }
    ParamsPage& params() { return *params_; }
    DeviceSearch& search() { return *search_; }
    TFcheck& check() { return *check_; }
    Ui::TFglav& form() { return *ui_; }

    QTimer Timer_system;

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void build_tool_bar();
    void build_status_bar();
    void build_frame_log_item();
    void build_fast_exchange_box();
    void add_page(QWidget* sheet, QWidget* page);
    void show_port_paths();
    void build_profile_items();
    void connect_controls();
    void page_changed(int index);
    // The text the device just gave, into its field (kept when the read failed); painted at once.
    void show_text(bool read, QLineEdit* field);
    void activation_changed();
    void when_idle(std::function<void()> action);
    QString help_path() const;

    ConsoleContext& ctx_;
    std::unique_ptr<Ui::TFglav> ui_;
    ExchangeLog* log_ = nullptr;
    ReadingsPage* readings_ = nullptr;
    CalibPage* calib_ = nullptr;
    ParamsPage* params_ = nullptr;
    TFcheck* check_ = nullptr;
    std::array<QLabel*, 6> panels_{};
    TFabout* about_ = nullptr;
    TFcomdcb* comdcb_ = nullptr;
    std::unique_ptr<DeviceSearch> search_;
    std::unique_ptr<ProfileFiles> profiles_;
    QString help_file_;
    int shown_page_ = -1;
    bool activated_once_ = false;
    bool left_for_own_window_ = false;
};

}  // namespace varnok
