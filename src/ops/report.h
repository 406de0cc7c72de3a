#pragma once
// What a device operation tells the program around it: the console shows it in its
// controls, the command-line tool prints it; and the operations' message boxes. Pauses go
// through the link's sleeper.

#include <cstdint>
#include <string>

namespace varnok {

struct Exchange;

class Report {
public:
    virtual ~Report() = default;
    // An exchange just made: its request and answer.
    virtual void exchange(const Exchange& x) = 0;
    // A line of the information window (UTF-8).
    virtual void line(const std::string& text) = 0;
    // An exchange that failed, with its line of the information window: by default that line.
    // The command-line tool words its own message from the exchange.
    virtual void failed(const Exchange& /*x*/, const std::string& text) { line(text); }
    // The message panel of the status bar.
    virtual void status(const std::string& text) = 0;
};

// The operations' message boxes: the console shows them over its window, the tool prints
// them on standard error.
class OperationNotices {
public:
    virtual ~OperationNotices() = default;
    virtual void message_box(const std::string& text, const std::string& informative = {}) = 0;
};

// The step after each exchange of an operation: the exchange is shown, and a failure becomes
// its error line. True when its code is good.
bool checked(Report& report, const Exchange& x);

}  // namespace varnok
