#pragma once
// The device simulator inside the test's own process, reached through the link's transport
// hook: a socket pair instead of a pseudo-terminal and no process to start. The line it
// listens on is what the link sets up, so a device answers only at its own speed, parity
// and stop bits. It takes the options and commands the simulator program takes that matter
// without a terminal: --device-at, --noise, --turnaround, --whole-answers, --seed, --command.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/link.h"
#include "sim/control.h"

namespace varnok::test {

class SimInProcess {
public:
    // Throws when an option or its command is refused.
    explicit SimInProcess(std::vector<std::string> args = {});
    ~SimInProcess();
    SimInProcess(const SimInProcess&) = delete;
    SimInProcess& operator=(const SimInProcess&) = delete;

    // COM1 of `ports` becomes the simulator, which every opening of the link reaches.
    void connect(PortMap& ports, Link& link);

    // As SimProcess: one command and its reply line, the lines before it, the state.
    std::string command(const std::string& line);
    const std::vector<std::string>& body() const { return body_; }
    std::map<std::string, std::string> dump();

private:
    class Transport;
    void serve();
    void take_socket(int fd);
    void set_line(const sim::TerminalLine& line);
    void wake();

    std::mutex mutex_;  // the engine, the terminal and the control: the serving thread's and the test's
    sim::Terminal terminal_;
    sim::FrameJournal journal_;
    std::unique_ptr<sim::Engine> engine_;
    std::unique_ptr<sim::Control> control_;
    int wake_[2] = {-1, -1};  // tells the serving thread of a new socket or the end
    bool stop_ = false;
    unsigned opened_ = 0;  // the link's openings so far: which socket the serving thread polled
    std::vector<std::string> body_;
    std::thread server_;
};

}  // namespace varnok::test
