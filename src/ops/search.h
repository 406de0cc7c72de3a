#pragma once
// The device search: scans of network numbers at the current speed or at every speed, the
// speed search of one number, the one-off answer check, and the adoption of what they found.
// The operator ends a scan with Q (between numbers) or X (while a silent number is awaited).

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "device/device.h"
#include "ops/search_keys.h"

namespace varnok {

class OperationNotices;
class Report;

// Search times are wall-clock times to the millisecond: they are shown as times of day.
using SearchTime = std::chrono::time_point<std::chrono::system_clock, std::chrono::milliseconds>;

struct SearchTimes {
    SearchTime Time_begin;  // start of the scan
    SearchTime Time_tmp;    // when the previous number was done (a scan at every speed)
    SearchTime Time_over;   // when the current number was done; at the end, when the scan was
};

// How far a scan has come, as it goes: the console shows it in its windows, the command-line
// tool prints it.
class SearchProgress {
public:
    virtual ~SearchProgress() = default;
    // A scan begins; `sys_num` is the number requests went to before it.
    virtual void scan_begins(uint8_t /*sys_num*/) {}
    // Number n was asked: `code` is the speed code it answered at, 0 for none. The times are
    // those of a scan at every speed.
    virtual void number_done(uint8_t /*n*/, uint8_t /*code*/, bool /*every_speed*/, const SearchTimes&) {}
    // No more numbers are asked (all done, or the scan was stopped).
    virtual void scan_over(const SearchTimes&) {}
    // Number n, found by this scan or an earlier one, is addressed at `speed`; the last one
    // told is the one kept.
    virtual void adopted(uint8_t /*n*/, int32_t /*speed*/) {}
};

struct ScanResult {
    bool started = false;        // false: a scan at one speed with no speed chosen
    uint8_t interrupted_at = 0;  // the number Q or X ended the scan at
    uint8_t port_failed_at = 0;  // the number at which the port would not open
    std::vector<uint8_t> found;  // every number that ever answered, ascending; the last is addressed
};

// After a number search: the lowest number that answered, now addressed at its own speed.
struct FirstFound {
    uint8_t number = 0;  // 0: none answered
    int32_t speed = 0;
    bool speed_changed = false;  // the line went to that number's speed
};

struct SpeedFound {
    uint8_t code = 0;      // speed code the number answered at, 0 for none
    bool aborted = false;  // X ended the search
};

// "  [ Pb=0<separator>Sb=1 ]": the line settings a search's requests go out with.
std::string line_settings_text(const LinkSettings& line, const char* separator);

// The operator's keys end a scan (Q, X); its message boxes go to `notices`.
class Search {
public:
    Search(Device& device, Report& report, SearchProgress& progress, KeyState& keys, OperationNotices& notices)
        : d_(device), report_(report), progress_(progress), keys_(keys), notices_(notices)
    {
    }

    // Asks numbers `from`..`to` (within 1..247): at the current speed only (`scor_edina`) or at
    // every speed, each answer recorded in scor_CN. Q between numbers or X during a wait ends
    // it, and so does a port that will not open. Then every number that ever answered is
    // addressed in turn at its speed, the highest last, and the port settles at that speed
    // (or at the speed it began with when nobody answered); the number of devices found is
    // the summary line.
    ScanResult poisk_pribor(bool scor_edina, uint8_t from = kMinSysNum, uint8_t to = kMaxSysNum);

    // After a scan at the current speed: the lowest number that answered is addressed, at its
    // own speed. A message box says when none did.
    FirstFound address_first_found();

    // Asks the number in force at each speed in turn, lowest first; the code it answered at
    // goes to scor_CN. X ends it as if no speed had answered.
    SpeedFound poisk_scor();
    // What the speed search found is taken: the line at that speed; or, none found, the port
    // back at the speed in force, with a message unless the operator stopped the search.
    // True when the line runs at the speed found.
    bool adopt_speed(const SpeedFound& found);

    // Whether the number in force answers at the line's settings: one line of the settings and
    // the outcome, and a message box with it when nobody answered.
    bool yes_otvet();

private:
    SearchTimes times;  // the scan's start, its last progress report and its end
    // The port at `scor_obmena` again, with the time-outs of its speed code.
    void settle_port();
    // The number in force asked at the current speed, or at every speed; its code. X while a
    // probe waits ends the asking (`x.pressed()`).
    uint8_t ask(bool scor_edina, KeyStop& x);
    // Number n asked and its answer recorded; false when X stopped the wait.
    bool ask_number(int n, bool scor_edina);
    // The scan's loop over `first`..`last`; where it ended early goes to `r`.
    void scan_numbers(bool scor_edina, int first, int last, ScanResult& r);
    // Every number that ever answered addressed in turn, the port settled, the summary line.
    void adopt_found(ScanResult& r);

    Device& d_;
    Report& report_;
    SearchProgress& progress_;
    KeyState& keys_;
    OperationNotices& notices_;
};

}  // namespace varnok
