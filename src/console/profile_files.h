#pragma once
// The device's configuration to and from a profile file, from the menu "файл": the same file
// as varnok-cli's save and load. Loading shows what will change and writes after a "да";
// the calibration in the file only from its own menu item.

#include <QString>
#include <functional>

#include "console/event_pump.h"
#include "console/window_report.h"

class QWidget;

namespace varnok {

struct ConsoleContext;
struct ProfileLoad;
class ExchangeLog;

class ProfileFiles {
public:
    // What a load changes outside the device: the connection the main window shows (after a
    // speed, parity or stop-bit change) and the pages' values.
    struct Shell {
        QWidget* window;
        std::function<void(const QString&)> status;
        std::function<void()> line_changed;
        std::function<void()> values_changed;
    };
    ProfileFiles(ConsoleContext& ctx, ExchangeLog& log, Shell shell);

    // "конфигурация прибора в файл…"
    void N_conf_saveClick();
    // "конфигурация прибора из файла…": all but the calibration, which is the device's own
    void N_conf_loadClick();
    // "калибровка прибора из файла…": the calibration alone, asked for by name
    void N_conf_load_calibClick();

private:
    void load(unsigned sections);
    // The log line or the message box after a load; `left` is what the load left alone.
    void tell_outcome(const ProfileLoad& r, const QString& path, const QString& left, bool calibration);

    ConsoleContext& ctx_;
    ExchangeLog& log_;
    Shell shell_;
    WindowReport report_;
    PumpedSleeper pauses_;
};

}  // namespace varnok
