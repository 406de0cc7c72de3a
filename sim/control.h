#pragma once
// Text commands of the control channel, one per line. Each gives a reply line that starts
// with "ok" or "error: "; dump, help and device list print their lines before it. Commands
// about a device apply to the selected one (the first until another is chosen).

#include <functional>
#include <string>
#include <vector>

#include "sim/simulated_device.h"
#include "sim/engine.h"

namespace varnok::sim {

struct Reply {
    std::vector<std::string> body;
    std::string line;
    bool quit = false;
};

class Control {
public:
    Control(Engine& engine, Terminal& terminal);
    Reply run(const std::string& command, Clock::time_point now);

    // What unplugs (false) and plugs in (true) the terminal; an empty text when it worked.
    using Plug = std::function<std::string(bool plug)>;
    void set_plug(Plug plug) { plug_ = std::move(plug); }

    // Help text of the commands, shared with --help.
    static std::string commands_help();

private:
    Station& station() { return *engine_.stations()[selected_]; }
    SimulatedDevice& device() { return station().device; }
    std::string describe(size_t index) const;
    Reply device_command(const std::vector<std::string>& w);
    Reply fault_command(const std::vector<std::string>& w);
    Reply set_command(const std::vector<std::string>& w);
    Reply script_command(const std::vector<std::string>& w);
    std::vector<std::string> dump(Clock::time_point now);

    Engine& engine_;
    Terminal& terminal_;
    Plug plug_;
    size_t selected_ = 0;
};

}  // namespace varnok::sim
