#pragma once
// The device simulator as a child process on a fresh pseudo-terminal, driven by text
// commands on its standard input. Tests open path() as the console's port.

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace varnok {
class Link;
class PortMap;
}  // namespace varnok

namespace varnok::test {

// The "name = value" lines of the simulator's dump as a map.
std::map<std::string, std::string> dump_items(const std::vector<std::string>& body);

class SimProcess {
public:
    // Starts varnok-sim with these options added; throws when it does not come up.
    explicit SimProcess(std::vector<std::string> extra_args = {});
    // Asks it to quit; falls back to SIGTERM, then SIGKILL.
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The terminal the simulator answers on.
    const std::string& path() const { return path_; }
    // COM1 of `ports` becomes that terminal.
    void connect(PortMap& ports, Link& link);
    pid_t pid() const { return pid_; }

    // Sends one command; returns its reply line ("ok ..." or "error: ..."). Throws when no
    // reply comes within a few seconds.
    std::string command(const std::string& line);
    // Lines the last command printed before its reply (dump, help).
    const std::vector<std::string>& body() const { return body_; }
    // The simulator's state as dump gives it: "holding 1" -> "3", "ch1 ref" -> "1012" ...
    std::map<std::string, std::string> dump();

private:
    std::string read_line();
    void stop();

    pid_t pid_ = -1;
    int to_sim_ = -1;
    int from_sim_ = -1;
    std::string path_;
    std::string pending_;
    std::vector<std::string> body_;
};

}  // namespace varnok::test
