#pragma once
// What a device operation tells the program around it: the console shows it in its
// controls, the command-line tool prints it. Message boxes go through the link's notices,
// pauses through its sleeper.

#include <cstdint>
#include <string>

namespace varnok {

class ModbusMaster;

class Report {
public:
    virtual ~Report() = default;
    // The last request and answer, as the exchange left them in the master's buffers.
    virtual void exchange(const ModbusMaster& mb) = 0;
    // A line of the information window (UTF-8).
    virtual void line(const std::string& text) = 0;
    // The message panel of the status bar.
    virtual void status(const std::string& text) = 0;
};

// The step after each exchange of an operation: the exchange is shown, and a failure becomes
// its error line. True when the code is good.
bool checked(Report& report, const ModbusMaster& mb, uint8_t code);

}  // namespace varnok
