#pragma once
// One device connection of varnok-cli: the console's settings file gives the defaults, the
// command line overrides them; messages go to standard error.

#include <string>

#include "cli/options.h"
#include "cli/host.h"
#include "device/device.h"
#include "link/port_map.h"
#include "ops/report.h"
#include "settings/settings_file.h"

namespace varnok::cli {

enum Exit : int { kExitOk = 0, kExitDevice = 1, kExitUsage = 2, kExitPort = 3 };

// The link's message boxes as lines on standard error.
class StderrNotices : public Notices {
public:
    void message_box(const std::string& text, const std::string& informative) override;
};

// Ctrl-C as the search's interrupt keys: both Q (between numbers) and X (while waiting).
class InterruptKeys : public KeyState {
public:
    bool pressed_since_last_query(int virtual_key) override;
};

// Error lines on standard error; progress there too, only when it is a terminal; with -v each
// exchange's request and answer in hexadecimal.
class StderrReport : public Report {
public:
    explicit StderrReport(bool verbose);
    void exchange(const Exchange& x) override;
    void line(const std::string& text) override;
    void status(const std::string& text) override;
    // Ends a progress line, so that what follows starts on a line of its own.
    void end_progress();
    // The last error line, for a report of its own.
    const std::string& last_line() const { return last_line_; }
    // How many error lines so far: a change tells that a step failed.
    unsigned long lines() const { return lines_; }

private:
    std::string last_line_;
    unsigned long lines_ = 0;
    bool verbose_;
    bool progress_;
    bool progress_shown_ = false;
};

class Session {
public:
    // Throws UsageError for a port the tool cannot name.
    explicit Session(const Options& o);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Sets up the port; kExitOk, or kExitPort with the reason on standard error.
    int open();
    // Addresses requests to `number` from now on.
    void address(uint8_t number) { link.set_sys_num(number); }
    // The line settings in the settings file, so that the next run talks as this one ends; the
    // file is created in its default place when there is none yet. Nothing when the port was
    // given as a path.
    void store_line();
    // The port as the user named it.
    const std::string& port_name() const { return port_name_; }
    // The port was given as a device path or a TCP address, which needs no settings file.
    bool port_is_path() const { return port_is_path_; }
    // The settings file is there but could not be read, so the defaults are in force; the
    // problem says which file and why (empty when it was read or is not there).
    bool settings_unread() const;
    std::string settings_problem() const;
    // The connection in force: port (and the path it resolves to), line settings, number.
    std::string connection() const;

    PortMap ports;
    StderrNotices notices;
    ThreadSleeper sleeper;
    InterruptKeys keys;
    Link link;
    Device dev;
    StderrReport report;

private:
    uint8_t n_time_opros_ = 0;
    int32_t time_opros_ = 0;
    std::unique_ptr<SettingsFile> settings_;
    std::string settings_path_;
    std::string port_name_;
    bool port_is_path_ = false;
};

}  // namespace varnok::cli
