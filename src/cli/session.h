#pragma once
// One device connection of varnok-cli: the console's settings file gives the defaults, the
// command line overrides them; messages go to standard error.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/history_log.h"
#include "cli/options.h"
#include "cli/host.h"
#include "device/device.h"
#include "modbus/exchange.h"
#include "link/port_map.h"
#include "ops/report.h"
#include "ops/search_keys.h"
#include "settings/settings_file.h"

namespace varnok::cli {

enum Exit : int { kExitOk = 0, kExitDevice = 1, kExitUsage = 2, kExitPort = 3 };

class Session;

// The message boxes of the link, the device and the operations: the console's own text with
// -v; without it, the tool's own line for a port that does not open or a connection that broke
// (with the reason in Russian), the others as they are.
class StderrNotices : public Notices, public DeviceNotices, public OperationNotices {
public:
    StderrNotices(const Session& s, bool verbose) : s_(s), verbose_(verbose) {}
    void message_box(const std::string& text, const std::string& informative) override;
    // A port set-up failed and was told: the command need not tell it again.
    bool port_failure_told() const { return port_failure_told_; }

private:
    const Session& s_;
    bool verbose_;
    bool port_failure_told_ = false;
};

// Ctrl-C as the search's interrupt keys: both Q (between numbers) and X (while waiting).
class InterruptKeys : public KeyState {
public:
    bool pressed_since_last_query(int virtual_key) override;
};

// Ctrl-C and a request to terminate as the link's stop: no wait on the line outlasts them.
class InterruptStop : public StopRequest {
public:
    bool requested() const override;
};

// Pauses that end early on Ctrl-C, so that a run asked to end is not held by them.
class InterruptibleSleeper : public ThreadSleeper {
public:
    void sleep_ms(unsigned ms) override;
    void sleep_us(unsigned us) override;
};

// The tool's messages on standard error, one line per failure: the device, the connection
// and what was being done, with the device's reason in words; a device that stays silent is
// told once until it answers again. Progress goes there too, only when it is a terminal. With
// -v each exchange's request and answer in hexadecimal, and the console's own error lines.
class StderrReport : public Report {
public:
    StderrReport(const Session& s, bool verbose);
    void exchange(const Exchange& x) override;
    void line(const std::string& text) override;
    void failed(const Exchange& x, const std::string& text) override;
    void status(const std::string& text) override;
    // Ends a progress line, so that what follows starts on a line of its own.
    void end_progress();
    // The last error line, for a report of its own.
    const std::string& last_line() const { return last_line_; }
    // The last failure as a code and a reason: the exchange's error code and failure_reason()
    // of it; a line of the operation's own has no code (-1) and its text as the reason.
    int last_code() const { return last_code_; }
    const std::string& last_reason() const { return last_reason_; }
    // How many error lines so far: a change tells that a step failed.
    unsigned long lines() const { return lines_; }
    // The hexadecimal request and answer of an exchange, as -v shows them.
    void frames(std::span<const uint8_t> sent, std::span<const uint8_t> received);
    bool verbose() const { return verbose_; }
    // A new step begins: a device still silent is told again.
    void new_step() { silent_ = 0; }

private:
    void print(const std::string& text);

    const Session& s_;
    std::string last_line_;
    int last_code_ = -1;
    std::string last_reason_;
    unsigned long lines_ = 0;
    uint8_t silent_ = 0;  // the device last told as not answering, until it answers
    bool verbose_;
    bool progress_;
    bool progress_shown_ = false;
};

// The console's own lines of an operation, which the tool words itself: shown only with -v.
// Exchanges pass on; the status too when `with_status` (a scan's progress).
class VerboseLinesReport : public Report {
public:
    VerboseLinesReport(StderrReport& report, bool with_status) : report_(report), with_status_(with_status) {}
    void exchange(const Exchange& x) override { report_.exchange(x); }
    void line(const std::string& text) override
    {
        if (report_.verbose())
            report_.line(text);
    }
    void status(const std::string& text) override
    {
        if (with_status_)
            report_.status(text);
    }

private:
    StderrReport& report_;
    bool with_status_;
};

// Why an exchange failed, in the tool's words: "нет ответа" for silence, otherwise the
// reason of its code without the console's quotes and blanks ("недопустимый адрес").
std::string failure_reason(uint8_t err);
// What a request was doing, as the messages name it: "чтение шкал", "scale1 не записана".
std::string request_purpose(const Request& r);

class Session {
public:
    // Throws UsageError for a port the tool cannot name.
    explicit Session(const Options& o);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Sets up the port; kExitOk, or kExitPort with the reason on standard error.
    int open();
    // Addresses requests to `number` from now on: the start of a step of a command (a poll, a
    // device's info), whose failures are told anew.
    void address(uint8_t number)
    {
        link.set_sys_num(number);
        report.new_step();
    }
    // The line settings in the settings file, so that the next run talks as this one ends; the
    // file is created in its default place when there is none yet. Nothing when the port was
    // given as a path. True when the file holds them.
    bool store_line();
    const std::string& settings_path() const { return settings_path_; }
    // The port as the user named it.
    const std::string& port_name() const { return port_name_; }
    // The port's name as the settings file calls it ("COM1"), also for a path given on the
    // command line that one of the names stands for; none for a path no name stands for.
    std::optional<std::string> port_setting_name() const;
    // The port was given as a device path or a TCP address, which needs no settings file.
    bool port_is_path() const { return port_is_path_; }
    // The settings file is there but could not be read, so the defaults are in force; the
    // problem says which file and why (empty when it was read or is not there).
    bool settings_unread() const;
    std::string settings_problem() const;
    // The connection in force: port (and the path it resolves to), line settings, the numbers
    // (the one in force when none are given).
    std::string connection(const std::vector<uint8_t>& addresses = {}) const;
    // Where the connection not given on the command line comes from: the settings file, or
    // the defaults when there is none.
    std::string connection_source() const;
    // "COM1, 9600 8N1": the port as named and the line, for messages about a device.
    std::string line_named() const;
    // The line as the unit's records name it, as the window names it: "COM1 9600 8N1".
    std::string unit_line() const;

    // The unit's history this session records in.
    ToolHistory& history() { return *history_; }

    PortMap ports;
    StderrNotices notices;
    InterruptibleSleeper sleeper;
    InterruptKeys keys;
    InterruptStop stop;
    Link link;
    Device dev;
    StderrReport report;

private:
    // The settings file at `path`, for the line of this session.
    std::unique_ptr<SettingsFile> settings_file(const std::string& path);

    std::unique_ptr<SettingsFile> settings_;
    std::unique_ptr<ToolHistory> history_;
    std::string settings_path_;
    std::string port_name_;
    bool port_is_path_ = false;
    PortMap named_ports_;  // the ports as the settings file names them, before a path given
};

}  // namespace varnok::cli
