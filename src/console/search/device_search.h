#pragma once
// The device search of the menu "файл": scans of the network numbers at one speed or at
// every speed, the speed search of one number, and the one-off answer check. The search
// itself is the ops layer's; this page shows its progress. A scan holds the user-interface
// thread for minutes; the key state pumps events so the window stays drawn, and the operator
// ends it with Q (between numbers) or X (while a silent number is awaited).

#include <QString>
#include <functional>

#include "console/window_report.h"
#include "ops/search.h"

namespace varnok {

struct ConsoleContext;
class ExchangeLog;
class TFmsg;

class DeviceSearch : private SearchProgress {
public:
    // What the search shares with the main window.
    struct Shell {
        ExchangeLog& log;
        TFmsg& notice;
        std::function<void(int panel, const QString& text)> status;  // sets a status panel and paints it
        std::function<void()> stop_polling;
        std::function<void()> resume_polling;  // the poll timer on again when periodic polling is chosen
        std::function<void()> show_tool_bar;
    };

    DeviceSearch(ConsoleContext& ctx, Shell shell);

    void N_poisk_priborClick();
    void N_poisk_numClick();
    void N_poisk_scorClick();
    void N_yes_otvetClick();

    // Scans numbers 1..247: at the current speed only (`scor_edina`) or at every speed.
    ScanResult poisk_pribor(bool scor_edina);

    Search& search() { return search_; }

private:
    void scan_begins(uint8_t sys_num) override;
    void number_done(uint8_t n, uint8_t code, bool every_speed, const SearchTimes& t) override;
    void scan_over(const SearchTimes& t) override;
    void adopted(uint8_t n, int32_t speed) override;

    void show_notice(const QString& text);
    QString line_settings(const char* separator) const;

    ConsoleContext& ctx_;
    Shell shell_;
    WindowReport report_;
    Search search_;
    QString progress_;  // the progress line of a scan at one speed
};

}  // namespace varnok
