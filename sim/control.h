#pragma once
// Text commands of the control channel, one per line. Each gives a reply line that starts
// with "ok" or "error: "; dump and help print their lines before it.

#include <string>
#include <vector>

#include "device.h"
#include "engine.h"

namespace varnok::sim {

struct Reply {
    std::vector<std::string> body;
    std::string line;
    bool quit = false;
};

class Control {
public:
    Control(Device& device, Engine& engine, const Terminal& terminal);
    Reply run(const std::string& command, Clock::time_point now);

    // Help text of the commands, shared with --help.
    static std::string commands_help();

private:
    std::vector<std::string> dump(Clock::time_point now);

    Device& device_;
    Engine& engine_;
    const Terminal& terminal_;
};

}  // namespace varnok::sim
