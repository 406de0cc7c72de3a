#pragma once
// The device search of the menu "файл": scans of the network numbers at one speed or at
// every speed, the speed search of one number, and the one-off answer check. A scan holds
// the user-interface thread for minutes; it pumps events so the window stays drawn, and
// the operator ends it with Q (between numbers) or X (while a silent number is awaited).

#include <QDateTime>
#include <QString>
#include <functional>

namespace varnok {

struct ConsoleContext;
class ExchangeLog;
class TFmsg;

class DeviceSearch {
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
    // False when it could not start (a single-speed scan with no speed chosen).
    bool poisk_pribor(bool scor_edina);

    QDateTime Time_begin;  // start of the scan
    QDateTime Time_tmp;    // when the previous number was done
    QDateTime Time_over;   // when the current number was done

private:
    void scan_at_current_speed(int n, QString& progress);
    void scan_every_speed(int n);
    void show_notice(const QString& text);
    // The port at `scor_obmena` again, with the time-outs of its speed code.
    void settle_port();
    QString line_settings(const char* separator) const;

    ConsoleContext& ctx_;
    Shell shell_;
};

}  // namespace varnok
