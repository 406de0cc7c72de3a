#pragma once
// What the tool needs from the system it runs on (interrupts, the clock and its timer, the
// terminal, the command line), which each platform gives its own way.

#include <chrono>
#include <string>
#include <vector>

namespace varnok::cli {

// Where the settings file is when --settings does not say, as help texts name it.
extern const char* const kSettingsPlace;
// Where the unit's history is kept when neither --history nor the settings file says.
extern const char* const kHistoryPlace;

// Ctrl-C (and a request to terminate) asks the run to end at the next point where it can
// stop cleanly.
void catch_interrupt();
bool interrupted();

// The local time with its offset from UTC: 2026-12-09T14:28:42+03:00.
std::string iso_time(std::chrono::system_clock::time_point t);

// The local time as a spreadsheet takes it for a date and time: 10.12.2026 14:28:42.
std::string sheet_time(std::chrono::system_clock::time_point t);

// The separators a spreadsheet of the user's regional settings reads CSV with: the list
// separator and the decimal separator (';' and ',' under Russian settings). On Windows from the
// system's regional settings, elsewhere from the locale (LC_ALL, LC_NUMERIC, LANG).
struct Separators {
    char list;
    char decimal;
};
Separators regional_separators();

// The CSV dialect `read --out` writes when none is asked for: a spreadsheet's on Windows, the
// standard one elsewhere.
extern const bool kSheetCsvByDefault;

// The system timer at its finest for this run: on Windows 1 ms instead of the 15.6 ms tick,
// so that the line's pauses of a few milliseconds are not stretched. Nothing elsewhere.
void fine_timer();

// Whether standard error is a terminal, where progress may be drawn over one line.
bool stderr_is_terminal();

// The arguments after the program's name, in UTF-8. On Windows they are taken from the wide
// command line, and the console is set to show UTF-8 output.
std::vector<std::string> command_line(int argc, char** argv);

}  // namespace varnok::cli
