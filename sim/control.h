#pragma once
// Text commands of the control channel, one per line. Each gives a reply line that starts
// with "ok" or "error: "; dump, help and device list print their lines before it. Commands
// about a device apply to the selected one (the first until another is chosen).

#include <functional>
#include <string>
#include <vector>

#include "sim/engine.h"
#include "sim/simulated_device.h"
#include "sim/line_end.h"

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

    // Help text of the commands, made from the command table; shared with --help.
    static std::string commands_help();

private:
    // One command as typed: its words, the whole line, the time it runs at.
    struct Call {
        const std::vector<std::string>& words;
        const std::string& line;
        Clock::time_point now;
    };
    using Handler = Reply (Control::*)(const Call&);

    // One row of the command table, and of the help: the command's name, its arguments and
    // what it does (lines after the first go under the first), and the handler that runs it.
    // A command with several forms has a row for each, all with the same handler.
    static constexpr size_t kColumn = 24;  // width of the name-and-arguments column
    struct Command {
        const char* name;
        const char* args;  // "" when it takes none
        const char* help;  // "" when the row says nothing more
        Handler handler;
        size_t column = kColumn;  // a wider one for a few rows; what does not fit stands alone
        bool same_row = false;    // shown after the row before it: "name TEXT, version TEXT"
    };
    static const Command kCommands[];

    Station& station() { return *engine_.stations()[selected_]; }
    SimulatedDevice& device() { return station().device; }
    std::string describe(size_t index) const;

    Reply help_command(const Call& c);
    Reply quit_command(const Call& c);
    Reply device_command(const Call& c);
    Reply analog_command(const Call& c);
    Reply noise_command(const Call& c);
    Reply switch_command(const Call& c);
    Reply text_command(const Call& c);
    Reply fault_command(const Call& c);
    Reply set_command(const Call& c);
    Reply unset_command(const Call& c);
    Reply script_command(const Call& c);
    Reply get_command(const Call& c);
    Reply line_command(const Call& c);
    Reply turnaround_command(const Call& c);
    Reply random_command(const Call& c);
    Reply plug_command(const Call& c);
    Reply dump_command(const Call& c);
    Reply drop_command(const Call& c);
    std::vector<std::string> dump(Clock::time_point now);

    Engine& engine_;
    Terminal& terminal_;
    Plug plug_;
    size_t selected_ = 0;
};

}  // namespace varnok::sim
