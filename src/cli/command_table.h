#pragma once
// varnok-cli's commands, one row each: name, synopsis, help, options, whether it takes a list
// of devices, whether it writes, and its run. The help, the bash completion and the dispatch
// are made from the rows.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"

namespace varnok::cli {

class Session;
struct CommandRow;

// What the bash completion offers for an option's value or a command's arguments.
struct Completion {
    std::string words;          // blank-separated
    bool files = false;         // file names too
    std::string extension;      // of the file names, none for any
    bool no_space = false;      // the words end in '=' and their value follows at once
};

struct OptionRow {
    std::string name;           // "--every", "-p"
    std::string value;          // its value as the help names it; empty for a flag
    std::string help;           // the connection options' line in the tool's help
    Completion values;          // of its value
    bool shown = true;          // false where this build lacks what it does: parsed, not offered
    std::string long_name;      // "--port" beside "-p"; empty when the name is the only one
    // A connection option's effect on the command line's options, given its value.
    void (*apply)(Options&, const std::string&) = nullptr;

    // `arg` names this option ("-a", "--address"), or names it with its value attached ("-a5",
    // "--address=5", "--every=2"): the value then, else nullopt; `attached` tells which.
    std::optional<std::string> attached_value(const std::string& arg) const;
    bool named(const std::string& arg) const { return arg == name || (!long_name.empty() && arg == long_name); }
};

// One run of a command: its row and the command line.
struct Invocation {
    const Options& options;
    const CommandRow& row;
    // The command's own arguments, parsed with the options of its row.
    CommandArgs args() const;
};

// What a command does once what needs no device is checked.
struct Job {
    Job(std::function<int(Session&)> on_port, std::function<int(Session&)> before = {})
        : run(std::move(on_port)), before_open(std::move(before))
    {
    }
    // On the open port; the exit code.
    std::function<int(Session&)> run;
    // With the connection known, before the port is opened (kExitOk to go on); may be empty.
    std::function<int(Session&)> before_open;
    // This run writes nothing, though the command can (load --dry-run).
    bool dry_run = false;
};

struct CommandRow {
    std::string name;
    std::string operands;       // after the name in its synopsis: "ФАЙЛ", "ИМЯ=ЗНАЧЕНИЕ..."
    std::string summary;        // its line in the tool's help
    std::string help;           // COMMAND --help below the synopsis
    std::vector<OptionRow> options;
    Completion operand_values;  // of its arguments
    bool device_list = false;   // -a may list several devices
    bool writes = false;        // it writes to the device
    bool local = false;         // it works on the computer only: no port is opened
    bool tells_interrupt = false;  // it tells Ctrl-C its own way (or ends by it); else the run says "прервано"
    // Checks what needs no device (throws UsageError) and returns the job.
    Job (*prepare)(const Invocation&) = nullptr;
};

const std::vector<CommandRow>& command_rows();
// The connection options, which stand before or after the command.
const std::vector<OptionRow>& connection_options();
const CommandRow* command_named(const std::string& name);

// The help of the tool, or of one command; empty for a command the tool does not know.
std::string help_text(const std::string& command);
// The bash completion script of the tool, made from the rows.
std::string bash_completion();

// Runs the command the options name; its exit code.
int run(const Options& o);

}  // namespace varnok::cli
